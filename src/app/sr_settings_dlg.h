// CSRSettingsDlg: the settings of "Kestrune interpolation...": target size,
// initial enlargement method and the enhancement parameters.
#pragma once

#include <kestrune/upscale.h>

class QCheckBox;
class QComboBox;

#include "app/size_settings_dlg.h"

class CSRSettingsDlg : public SizeSettingsDlg {
  Q_OBJECT
 public:
  static constexpr int kDoubleId = 1158;
  // Index of "Load from file" in the "Initial resizing" list.
  static constexpr int kLoadFromFile = static_cast<int>(kestrune::InitialMethod::kFromImage);

  explicit CSRSettingsDlg(QWidget* parent = nullptr);

  // The fields start at the library's defaults.
  inline static const kestrune::UpscaleOptions kDefaults{};
  int iterations = static_cast<int>(kDefaults.iterations);
  int fractalSubsts = static_cast<int>(kDefaults.fractalSubstitutions);
  float beta = kDefaults.strength;
  float sideLobe = kDefaults.sideLobe;
  float regularization = kDefaults.regularization;
  float variableRegularization = kDefaults.variableRegularization;
  int edgeDirIterations = kDefaults.edgeDirIterations;
  int initialMethod = static_cast<int>(kDefaults.initialMethod);
  // A source read from a JPEG file: the dialog then shows the check box of
  // the JPEG model (kJpegModelId), checked as jpegModel says.
  static constexpr int kJpegModelId = 1170;
  bool jpegSource = false;
  bool jpegModel = kDefaults.jpegModel;
  // The "Source" list: SourceModel's values in order.
  static constexpr int kSourceModelId = 1171;
  int sourceModel = static_cast<int>(kDefaults.sourceModel);

  // "x2": twice the start size; every field shows its member again.
  void DoubleSize();

  void OnInitDialog() override;

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
  QCheckBox* jpegModelCheck = nullptr;
  QComboBox* sourceModelCombo = nullptr;
  // "Number of fractal substs" is greyed out where none run: with "Learned"
  // and under the "Reduced" source model.
  void UpdateFractalField();
  static constexpr int kSourceRow = 14;  // dialog units the "Source" row adds
};
