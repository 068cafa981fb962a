// The downscaling settings dialog: layout, field order and checks.
#include "app/down_settings_dlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/field_exchange.h"

CDownSettingsDlg::CDownSettingsDlg(QWidget* parent) : SizeSettingsDlg(parent) {
  DialogUnits du(this);
  du.FitText(QStringLiteral("Allowed scale deviation"), 82);
  du.FitText(QStringLiteral("Resizing filter"), 48);
  BuildCommon(du, 136, 153, QStringLiteral("Resizing filter"),
              {QStringLiteral("Box"), QStringLiteral("Bilinear"), QStringLiteral("Cubic B-spline"),
               QStringLiteral("Catmull-Rom"), QStringLiteral("Lanczos-2"), QStringLiteral("Lanczos-3"),
               QStringLiteral("Sinc")},
              132);
  newWidth = 0;
  newHeight = 0;

  MakeLabel(du, QStringLiteral("Filtering smoothness"), 14, 64, 84);
  smoothnessEdit = MakeEdit(du, 1163, 98, 62);
  auto* group = new QGroupBox(QStringLiteral("Hinting"), this);
  group->setGeometry(du.Rect(6, 80, 124, 44));
  group->lower();
  MakeLabel(du, QStringLiteral("Number of trials"), 14, 94, 84);
  trialsEdit = MakeEdit(du, 1161, 98, 92);
  MakeLabel(du, QStringLiteral("Allowed scale deviation"), 14, 108, 84);
  scaleDeviationEdit = MakeEdit(du, 1162, 98, 106);

  QWidget* previous = widthEdit;
  for (QWidget* next : {static_cast<QWidget*>(heightEdit), static_cast<QWidget*>(aspectButton),
                        static_cast<QWidget*>(methodCombo), static_cast<QWidget*>(smoothnessEdit),
                        static_cast<QWidget*>(trialsEdit), static_cast<QWidget*>(scaleDeviationEdit),
                        static_cast<QWidget*>(okButton), static_cast<QWidget*>(cancelButton)}) {
    setTabOrder(previous, next);
    previous = next;
  }
}

void CDownSettingsDlg::DoDataExchange(FieldExchange& exchange) {
  exchange.Combo(methodCombo, filterType);
  exchange.UInt(widthEdit, newWidth, 1, kMaxDialogSide);
  exchange.UInt(heightEdit, newHeight, 1, kMaxDialogSide);
  exchange.Float(smoothnessEdit, smoothness, 0.5f, 2.0f);
  exchange.Int(trialsEdit, trials, 4, 256);
  exchange.Float(scaleDeviationEdit, scaleDeviation, 0.0f, 64.0f);
}
