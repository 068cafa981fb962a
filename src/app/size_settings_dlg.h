// The part the two settings dialogs share: New width and New height with the
// aspect-ratio button "[  ]", the method combo box, OK and Cancel, the field
// transfer on OK and the tooltips looked up by control id.
#pragma once

#include <QDialog>

#include <cstdint>

class QComboBox;
class QLineEdit;
class QPushButton;
class DialogUnits;
class FieldExchange;

// Largest side the dialogs accept.
inline constexpr uint32_t kMaxDialogSide = 100000;

// The aspect-ratio rule: the driving side keeps its value, the other follows
// the start size's ratio, rounded half up and kept within 1..kMaxDialogSide.
void KeepAspectRatio(uint32_t startWidth, uint32_t startHeight, bool widthDrives, uint32_t& newWidth,
                     uint32_t& newHeight);

// Tooltip text of a control id; empty when the id has none.
QString ControlTooltip(int id);

class SizeSettingsDlg : public QDialog {
  Q_OBJECT
 public:
  // Control ids shared by both dialogs.
  static constexpr int kWidthId = 1130, kHeightId = 1135, kMethodId = 1153, kAspectId = 1160;

  uint32_t newWidth = 1;
  uint32_t newHeight = 1;
  uint32_t startWidth = 0;
  uint32_t startHeight = 0;
  bool widthDrives = true;

  // Reads (save true) or shows (save false) every field; false when a field
  // failed its check.
  bool UpdateData(bool save);
  // The aspect button: reads the fields, applies the ratio, shows them again.
  void KeepAspect();

  // Runs once, when the dialog is first shown: shows the members and takes
  // the preset size as the start size.
  virtual void OnInitDialog();

  void accept() override;

 protected:
  explicit SizeSettingsDlg(QWidget* parent);
  void showEvent(QShowEvent* event) override;
  virtual void DoDataExchange(FieldExchange& exchange) = 0;

  // Sizes the dialog (in dialog units), builds the top rows (size boxes,
  // "[  ]", method label and combo) and the OK and Cancel buttons at the
  // given height.
  void BuildCommon(const DialogUnits& du, int widthDu, int heightDu, const QString& methodLabel,
                   const QStringList& methods, int buttonsY);
  QLineEdit* MakeEdit(const DialogUnits& du, int id, int x, int y);
  void MakeLabel(const DialogUnits& du, const QString& text, int x, int y, int width, QWidget* parent = nullptr);
  void SetTooltip(QWidget* control, int id);

  QLineEdit* widthEdit = nullptr;
  QLineEdit* heightEdit = nullptr;
  QComboBox* methodCombo = nullptr;
  QPushButton* aspectButton = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;

 private:
  bool initialized_ = false;
};
