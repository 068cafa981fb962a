// Shared top half, field transfer and aspect-ratio rule of the settings dialogs.
#include "app/size_settings_dlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

#include "app/field_exchange.h"

void KeepAspectRatio(uint32_t startWidth, uint32_t startHeight, bool widthDrives, uint32_t& newWidth,
                     uint32_t& newHeight) {
  auto fit = [](double value) -> uint32_t {
    // Integer part of value + 0.5, then 0 becomes 1 and large values the limit.
    const double rounded = std::floor(value + 0.5);
    if (!(rounded >= 1.0)) return 1;  // also catches NaN from a zero start size
    if (rounded > kMaxDialogSide) return kMaxDialogSide;
    return static_cast<uint32_t>(rounded);
  };
  if (widthDrives)
    newHeight = fit(double(startHeight) * double(newWidth) / double(startWidth));
  else
    newWidth = fit(double(startWidth) * double(newHeight) / double(startHeight));
}

QString ControlTooltip(int id) {
  switch (id) {
    case 1128: return QStringLiteral("Number of enhancemnent iterations (0-100) ");
    case 1129: return QStringLiteral("Number of fractal substitutions to enhance thin lines (0-5)");
    case 1073: return QStringLiteral("Post-enhancement strength \"beta\" (1-10)");
    case 1131: return QStringLiteral("Downsampling filter impulse side lobe (0.0-0.2)");
    case 1132: return QStringLiteral("Strength of de-ringing (0.0-0.2)");
    case 1133: return QStringLiteral("Edge-adaptive regularization (0 or 1)");
    case 1134: return QStringLiteral("Edge smoothness (0-3)");
    case 1130: return QStringLiteral("Desired image width (in pixels)");
    case 1135: return QStringLiteral("Desired image height (in pixels)");
    case 1153: return QStringLiteral("Initial image upsampling algorithm");
    case 1158: return QStringLiteral("Upscale the image by the factor of 2");
    case 1160: return QStringLiteral("Preserve aspect ratio of the image");
    default: return QString();
  }
}

SizeSettingsDlg::SizeSettingsDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Kestrune settings"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

void SizeSettingsDlg::SetTooltip(QWidget* control, int id) {
  const QString tip = ControlTooltip(id);
  if (!tip.isEmpty()) control->setToolTip(tip);
}

QLineEdit* SizeSettingsDlg::MakeEdit(const DialogUnits& du, int id, int x, int y) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QString::number(id));
  edit->setAlignment(Qt::AlignCenter);
  edit->setGeometry(du.Rect(x, y, 26, 12));
  SetTooltip(edit, id);
  return edit;
}

void SizeSettingsDlg::MakeLabel(const DialogUnits& du, const QString& text, int x, int y, int width, QWidget* parent) {
  auto* label = new QLabel(text, parent ? parent : this);
  label->setGeometry(du.Rect(x, y, width, 8));
}

void SizeSettingsDlg::BuildCommon(const DialogUnits& du, int widthDu, int heightDu, const QString& methodLabel,
                                  const QStringList& methods, int buttonsY) {
  setFixedSize(du.X(widthDu), du.Y(heightDu));
  MakeLabel(du, QStringLiteral("New width"), 6, 10, 40);
  widthEdit = MakeEdit(du, kWidthId, 46, 8);
  MakeLabel(du, QStringLiteral("New height"), 6, 26, 40);
  heightEdit = MakeEdit(du, kHeightId, 46, 24);

  aspectButton = new QPushButton(QStringLiteral("[  ]"), this);
  aspectButton->setObjectName(QString::number(kAspectId));
  aspectButton->setGeometry(du.Rect(76, 12, 24, 20));
  aspectButton->setAutoDefault(false);
  SetTooltip(aspectButton, kAspectId);

  MakeLabel(du, methodLabel, 6, 46, 50);
  methodCombo = new QComboBox(this);
  methodCombo->setObjectName(QString::number(kMethodId));
  methodCombo->addItems(methods);
  methodCombo->setGeometry(du.X(56), du.Y(44), du.X(74), du.Y(12));
  SetTooltip(methodCombo, kMethodId);

  okButton = new QPushButton(QStringLiteral("OK"), this);
  okButton->setObjectName(QStringLiteral("IDOK"));
  okButton->setGeometry(du.Rect(12, buttonsY, 50, 14));
  okButton->setDefault(true);
  cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton->setObjectName(QStringLiteral("IDCANCEL"));
  cancelButton->setGeometry(du.Rect(74, buttonsY, 50, 14));
  cancelButton->setAutoDefault(false);

  // The side the user typed in last drives the aspect computation.
  connect(widthEdit, &QLineEdit::textEdited, this, [this] { widthDrives = true; });
  connect(heightEdit, &QLineEdit::textEdited, this, [this] { widthDrives = false; });
  connect(aspectButton, &QPushButton::clicked, this, &SizeSettingsDlg::KeepAspect);
  connect(okButton, &QPushButton::clicked, this, &SizeSettingsDlg::accept);
  connect(cancelButton, &QPushButton::clicked, this, &SizeSettingsDlg::reject);
}

bool SizeSettingsDlg::UpdateData(bool save) {
  FieldExchange exchange(this, save);
  DoDataExchange(exchange);
  return !exchange.failed();
}

void SizeSettingsDlg::KeepAspect() {
  UpdateData(true);  // a failed field keeps its member; the rule uses what was read
  KeepAspectRatio(startWidth, startHeight, widthDrives, newWidth, newHeight);
  UpdateData(false);
}

void SizeSettingsDlg::OnInitDialog() {
  UpdateData(false);
  startWidth = newWidth;
  startHeight = newHeight;
}

void SizeSettingsDlg::showEvent(QShowEvent* event) {
  if (!initialized_) {
    initialized_ = true;
    OnInitDialog();
  }
  QDialog::showEvent(event);
}

void SizeSettingsDlg::accept() {
  if (UpdateData(true)) QDialog::accept();
}
