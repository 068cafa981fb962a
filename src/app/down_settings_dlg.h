// CDownSettingsDlg: the settings of "Downscale with hinting...": target
// size, resizing filter, smoothness and the hint search's trials and range.
#pragma once

#include "app/size_settings_dlg.h"

class CDownSettingsDlg : public SizeSettingsDlg {
  Q_OBJECT
 public:
  explicit CDownSettingsDlg(QWidget* parent = nullptr);

  int filterType = 3;
  float smoothness = 0.8f;
  int trials = 12;
  float scaleDeviation = 8.0f;

 protected:
  void DoDataExchange(FieldExchange& exchange) override;

 private:
  QLineEdit* smoothnessEdit = nullptr;
  QLineEdit* trialsEdit = nullptr;
  QLineEdit* scaleDeviationEdit = nullptr;
};
