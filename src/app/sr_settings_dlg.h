// CSRSettingsDlg: the settings of "Kestrune interpolation...": target size,
// initial enlargement method and the enhancement parameters.
#pragma once

#include "app/size_settings_dlg.h"

class CSRSettingsDlg : public SizeSettingsDlg {
  Q_OBJECT
 public:
  static constexpr int kDoubleId = 1158;
  // Index of "Load from file" in the "Initial resizing" list.
  static constexpr int kLoadFromFile = 4;

  explicit CSRSettingsDlg(QWidget* parent = nullptr);

  int iterations = 16;
  int fractalSubsts = 2;
  float beta = 3.0f;
  float sideLobe = 0.0f;
  float regularization = 0.03f;
  float variableRegularization = 1.0f;
  int edgeDirIterations = 2;
  int initialMethod = 3;

  // "x2": twice the start size; every field shows its member again.
  void DoubleSize();

 protected:
  void DoDataExchange(FieldExchange& exchange) override;

 private:
  QLineEdit* iterationsEdit = nullptr;
  QLineEdit* fractalSubstsEdit = nullptr;
  QLineEdit* betaEdit = nullptr;
  QLineEdit* sideLobeEdit = nullptr;
  QLineEdit* regularizationEdit = nullptr;
  QLineEdit* variableRegularizationEdit = nullptr;
  QLineEdit* edgeDirIterationsEdit = nullptr;
};
