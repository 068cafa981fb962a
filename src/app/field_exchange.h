// Moving values between a dialog's members and its edit boxes, with the
// checks and messages of the settings dialogs, and placing controls in
// dialog units (fractions of the dialog font's character size).
#pragma once

#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;

// Converts dialog units to pixels for the font of `dialog`: one horizontal
// unit is a quarter of the average character width, one vertical unit an
// eighth of the character height.
class DialogUnits {
 public:
  explicit DialogUnits(const QWidget* dialog);
  // Widens the horizontal unit, when needed, so that `text` fits in
  // `widthUnits` (desktop fonts are often wider than the one the layout was drawn for).
  void FitText(const QString& text, int widthUnits);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;

 private:
  const QWidget* dialog_;
  int baseX_;
  int baseY_;
};

// One transfer: `save` false shows the members in the controls, true reads
// and checks the controls in the order of the calls. Reading stops at the
// first failing field: its message is shown, the focus goes to it, and every
// later call leaves its member alone.
class FieldExchange {
 public:
  FieldExchange(QWidget* dialog, bool save) : dialog_(dialog), save_(save) {}

  void Int(QLineEdit* edit, int& value, std::optional<int> min = {}, std::optional<int> max = {});
  void UInt(QLineEdit* edit, uint32_t& value, uint32_t min, uint32_t max);
  void Float(QLineEdit* edit, float& value, std::optional<float> min = {}, std::optional<float> max = {});
  void Combo(QComboBox* combo, int& index);
  void Check(QCheckBox* box, bool& value);

  bool failed() const { return failed_; }
  bool saving() const { return save_; }

  // Text forms used for display: "%d", "%u" and "%.*g" with 6 digits.
  static QString FormatFloat(double value);
  // Parsers: the whole text, surrounding blanks allowed; empty on failure.
  static std::optional<int> ParseInt(const QString& text);
  static std::optional<uint32_t> ParseUInt(const QString& text);
  static std::optional<double> ParseFloat(const QString& text);

 private:
  void Fail(QLineEdit* edit, const QString& message);

  QWidget* dialog_;
  bool save_;
  bool failed_ = false;
};
