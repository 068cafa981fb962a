// The upscaling settings dialog: layout, field order and checks.
#include "app/sr_settings_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/field_exchange.h"

CSRSettingsDlg::CSRSettingsDlg(QWidget* parent) : SizeSettingsDlg(parent) {
  DialogUnits du(this);
  du.FitText(QStringLiteral("Edge-dir interp. iterations"), 82);
  du.FitText(QStringLiteral("Initial resizing"), 48);
  BuildCommon(du, 136, 209 + kSourceRow, QStringLiteral("Initial resizing"),
              {QStringLiteral("Bilinear"), QStringLiteral("Bicubic"), QStringLiteral("Edge-directional"),
               QStringLiteral("NEDI"), QStringLiteral("Load from file"), QStringLiteral("Learned")},
              188 + kSourceRow);

  auto* doubleButton = new QPushButton(QStringLiteral("x2"), this);
  doubleButton->setObjectName(QString::number(kDoubleId));
  doubleButton->setGeometry(du.Rect(106, 12, 24, 20));
  doubleButton->setAutoDefault(false);
  SetTooltip(doubleButton, kDoubleId);
  connect(doubleButton, &QPushButton::clicked, this, &CSRSettingsDlg::DoubleSize);

  auto* group = new QGroupBox(QStringLiteral("Post-enhancement"), this);
  group->setGeometry(du.Rect(6, 64, 124, 114 + kSourceRow));
  group->lower();
  struct Row {
    const char* label;
    int id;
    QLineEdit** edit;
  };
  const Row rows[] = {
      {"Number of iterations", 1128, &iterationsEdit},
      {"Number of fractal substs", 1129, &fractalSubstsEdit},
      {"Strength", 1073, &betaEdit},
      {"Filter side lobe", 1131, &sideLobeEdit},
      {"Regularization amount", 1132, &regularizationEdit},
      {"Variable regularization", 1133, &variableRegularizationEdit},
      {"Edge-dir interp. iterations", 1134, &edgeDirIterationsEdit},
  };
  int y = 76;
  for (const Row& row : rows) {
    MakeLabel(du, QString::fromLatin1(row.label), 14, y + 2, 84);
    *row.edit = MakeEdit(du, row.id, 98, y);
    y += 14;
  }
  // The source model, the group's last row.
  MakeLabel(du, QStringLiteral("Source"), 14, y + 2, 40);
  sourceModelCombo = new QComboBox(this);
  sourceModelCombo->setObjectName(QString::number(kSourceModelId));
  sourceModelCombo->addItems({QStringLiteral("Camera"), QStringLiteral("Reduced"), QStringLiteral("Auto")});
  sourceModelCombo->setGeometry(du.X(56), du.Y(y), du.X(70), du.Y(12));
  // Below the group, shown for a JPEG source only (OnInitDialog).
  jpegModelCheck = new QCheckBox(QStringLiteral("JPEG compression taken into account"), this);
  jpegModelCheck->setObjectName(QString::number(kJpegModelId));
  jpegModelCheck->setGeometry(du.Rect(8, 182 + kSourceRow, 122, 12));
  jpegModelCheck->hide();
  // The learned start and the reduced model run no fractal substitutions.
  connect(methodCombo, &QComboBox::currentIndexChanged, this, &CSRSettingsDlg::UpdateFractalField);
  connect(sourceModelCombo, &QComboBox::currentIndexChanged, this, &CSRSettingsDlg::UpdateFractalField);
  // Tab order follows the layout from top to bottom.
  setTabOrder(widthEdit, heightEdit);
  setTabOrder(heightEdit, aspectButton);
  setTabOrder(aspectButton, doubleButton);
  setTabOrder(doubleButton, methodCombo);
  setTabOrder(methodCombo, iterationsEdit);
  QWidget* previous = iterationsEdit;
  for (QWidget* next :
       {static_cast<QWidget*>(fractalSubstsEdit), static_cast<QWidget*>(betaEdit), static_cast<QWidget*>(sideLobeEdit),
        static_cast<QWidget*>(regularizationEdit), static_cast<QWidget*>(variableRegularizationEdit),
        static_cast<QWidget*>(edgeDirIterationsEdit), static_cast<QWidget*>(sourceModelCombo),
        static_cast<QWidget*>(jpegModelCheck), static_cast<QWidget*>(okButton), static_cast<QWidget*>(cancelButton)}) {
    setTabOrder(previous, next);
    previous = next;
  }
}

void CSRSettingsDlg::DoDataExchange(FieldExchange& exchange) {
  exchange.Int(iterationsEdit, iterations, 0, 1000);
  // A greyed-out field is shown but not read: it cannot be corrected.
  if (!exchange.saving() || fractalSubstsEdit->isEnabled()) exchange.Int(fractalSubstsEdit, fractalSubsts, 0, 100);
  exchange.Float(betaEdit, beta);
  exchange.Float(sideLobeEdit, sideLobe);
  exchange.Float(regularizationEdit, regularization);
  exchange.Float(variableRegularizationEdit, variableRegularization);
  exchange.Int(edgeDirIterationsEdit, edgeDirIterations);
  exchange.Combo(methodCombo, initialMethod);
  exchange.Combo(sourceModelCombo, sourceModel);
  if (jpegSource) exchange.Check(jpegModelCheck, jpegModel);
  exchange.UInt(widthEdit, newWidth, 1, kMaxDialogSide);
  exchange.UInt(heightEdit, newHeight, 1, kMaxDialogSide);
}

void CSRSettingsDlg::OnInitDialog() {
  if (jpegSource) {
    // The check box's row goes in above the buttons.
    const DialogUnits du(this);
    const int row = du.Y(16);
    setFixedSize(width(), height() + row);
    okButton->move(okButton->x(), okButton->y() + row);
    cancelButton->move(cancelButton->x(), cancelButton->y() + row);
    jpegModelCheck->show();
  }
  SizeSettingsDlg::OnInitDialog();
}

void CSRSettingsDlg::UpdateFractalField() {
  using kestrune::InitialMethod;
  using kestrune::SourceModel;
  fractalSubstsEdit->setEnabled(methodCombo->currentIndex() != static_cast<int>(InitialMethod::kLearned) &&
                                sourceModelCombo->currentIndex() != static_cast<int>(SourceModel::kReduced));
}

void CSRSettingsDlg::DoubleSize() {
  newWidth = 2 * startWidth;
  newHeight = 2 * startHeight;
  UpdateData(false);
}
