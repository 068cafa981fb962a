// Field transfer and validation of the settings dialogs, and dialog units.
#include "app/field_exchange.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QWidget>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "app/message_box.h"

DialogUnits::DialogUnits(const QWidget* dialog) : dialog_(dialog) {
  QFontMetrics metrics(dialog->font());
  const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  baseX_ = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
  baseY_ = metrics.height();
  if (baseX_ < 1) baseX_ = 1;
  if (baseY_ < 1) baseY_ = 1;
}

void DialogUnits::FitText(const QString& text, int widthUnits) {
  const int needed = QFontMetrics(dialog_->font()).horizontalAdvance(text) + 2;
  while (X(widthUnits) < needed) ++baseX_;
}

int DialogUnits::X(int units) const { return (units * baseX_ + 2) / 4; }
int DialogUnits::Y(int units) const { return (units * baseY_ + 4) / 8; }
QRect DialogUnits::Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }

namespace {
// The text between leading and trailing blanks, as bytes for strtol/strtod.
QByteArray Trimmed(const QString& text) { return text.trimmed().toLatin1(); }
}  // namespace

std::optional<int> FieldExchange::ParseInt(const QString& text) {
  const QByteArray bytes = Trimmed(text);
  if (bytes.isEmpty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(bytes.constData(), &end, 10);
  if (*end != '\0' || errno == ERANGE || value < std::numeric_limits<int>::min() ||
      value > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(value);
}

std::optional<uint32_t> FieldExchange::ParseUInt(const QString& text) {
  const QByteArray bytes = Trimmed(text);
  if (bytes.isEmpty() || bytes[0] == '-') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(bytes.constData(), &end, 10);
  if (*end != '\0' || errno == ERANGE || value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<double> FieldExchange::ParseFloat(const QString& text) {
  const QByteArray bytes = Trimmed(text);
  if (bytes.isEmpty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(bytes.constData(), &end);
  // Infinities and NaN are not numbers a user can mean here.
  if (*end != '\0' || !std::isfinite(value) || !std::isfinite(static_cast<float>(value))) return std::nullopt;
  return value;
}

QString FieldExchange::FormatFloat(double value) { return QString::asprintf("%.*g", 6, value); }

void FieldExchange::Fail(QLineEdit* edit, const QString& message) {
  failed_ = true;
  ShowMessageBox(dialog_, message, QMessageBox::Warning);
  edit->setFocus();
  edit->selectAll();
}

void FieldExchange::Int(QLineEdit* edit, int& value, std::optional<int> min, std::optional<int> max) {
  if (!save_) {
    edit->setText(QString::asprintf("%d", value));
    return;
  }
  if (failed_) return;
  const std::optional<int> parsed = ParseInt(edit->text());
  if (!parsed) return Fail(edit, QStringLiteral("Enter an integer."));
  value = *parsed;
  if ((min && value < *min) || (max && value > *max))
    Fail(edit, QStringLiteral("Enter an integer between %1 and %2.").arg(*min).arg(*max));
}

void FieldExchange::UInt(QLineEdit* edit, uint32_t& value, uint32_t min, uint32_t max) {
  if (!save_) {
    edit->setText(QString::asprintf("%u", value));
    return;
  }
  if (failed_) return;
  const std::optional<uint32_t> parsed = ParseUInt(edit->text());
  if (!parsed) return Fail(edit, QStringLiteral("Enter a positive integer."));
  value = *parsed;
  if (value < min || value > max) Fail(edit, QStringLiteral("Enter an integer between %1 and %2.").arg(min).arg(max));
}

void FieldExchange::Float(QLineEdit* edit, float& value, std::optional<float> min, std::optional<float> max) {
  if (!save_) {
    edit->setText(FormatFloat(value));
    return;
  }
  if (failed_) return;
  const std::optional<double> parsed = ParseFloat(edit->text());
  if (!parsed) return Fail(edit, QStringLiteral("Enter a number."));
  value = static_cast<float>(*parsed);
  if ((min && value < *min) || (max && value > *max))
    Fail(edit, QStringLiteral("Enter a number between %1 and %2.").arg(FormatFloat(*min), FormatFloat(*max)));
}

void FieldExchange::Check(QCheckBox* box, bool& value) {
  if (!save_) {
    box->setChecked(value);
    return;
  }
  if (failed_) return;
  value = box->isChecked();
}

void FieldExchange::Combo(QComboBox* combo, int& index) {
  if (!save_) {
    combo->setCurrentIndex(index);
    return;
  }
  if (failed_) return;
  index = combo->currentIndex();
}
