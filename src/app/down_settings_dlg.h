// CDownSettingsDlg: the settings of "Downscale with hinting...": target
// size, resizing filter, smoothness and the hint search's trials and range.
#pragma once

#include <kestrune/downscale.h>

#include "app/size_settings_dlg.h"

class CDownSettingsDlg : public SizeSettingsDlg {
  Q_OBJECT
 public:
  explicit CDownSettingsDlg(QWidget* parent = nullptr);

  // The fields start at the library's defaults.
  inline static const kestrune::DownscaleOptions kDefaults{};
  int filterType = static_cast<int>(kDefaults.filter);
  float smoothness = kDefaults.smoothness;
  int trials = kDefaults.trials;
  float scaleDeviation = kDefaults.scaleDeviation;

 protected:
  void DoDataExchange(FieldExchange& exchange) override;

 private:
  QLineEdit* smoothnessEdit = nullptr;
  QLineEdit* trialsEdit = nullptr;
  QLineEdit* scaleDeviationEdit = nullptr;
};
