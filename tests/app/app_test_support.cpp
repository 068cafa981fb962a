// Helpers of the desktop program's tests.
#include "app_test_support.h"

#include <array>
#include <cstring>

#include <kestrune/io.h>

namespace {
// Every test program keeps the profile in a temporary folder, not the user's.
struct TemporaryProfile {
  QTemporaryDir dir;
  TemporaryProfile() {
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
  }
};
const TemporaryProfile temporaryProfile;

// Red, green and blue of the pattern at (x, y).
std::array<int, 3> Pattern(uint32_t x, uint32_t y) {
  return {static_cast<int>((10 * x + 1) % 256), static_cast<int>((20 * y + 2) % 256),
          static_cast<int>((x + y + 3) % 256)};
}
}  // namespace

void ClearProfile() { QSettings().clear(); }
QVariant ProfileValue(const QString& key) { return QSettings().value(key); }
void SetProfileValue(const QString& key, const QVariant& value) { QSettings().setValue(key, value); }

bool ShowExposed(QWidget& window) {
  window.show();
  return QTest::qWaitForWindowExposed(&window);
}

QLineEdit* Field(QWidget& dialog, int id) { return dialog.findChild<QLineEdit*>(QString::number(id)); }

QString StatusField(const CKestruneDlg& window, const char* name) {
  return window.statusBar()->findChild<QLabel*>(QString::fromLatin1(name))->text();
}

QImage Shown(const CKestruneDlg& window) { return window.PictureWidget()->grab().toImage(); }

MessageRecorder::MessageRecorder() {
  previous = SetMessageBoxHandler([this](const MessageBoxRequest& request) { messages.push_back(request); });
}
MessageRecorder::~MessageRecorder() { SetMessageBoxHandler(previous); }

QStringList MessageRecorder::Texts() const {
  QStringList texts;
  for (const MessageBoxRequest& request : messages) texts << request.text;
  return texts;
}

FileDialogScript::FileDialogScript() {
  previous = SetFileDialogHandler([this](FileDialogKind kind, const QString& proposed) {
    requests.emplace_back(kind, proposed);
    if (answers.empty()) return QString();
    const QString answer = answers.front();
    answers.pop_front();
    return answer;
  });
}
FileDialogScript::~FileDialogScript() { SetFileDialogHandler(previous); }

QColor PatternColor(int x, int y) {
  const auto [r, g, b] = Pattern(x, y);
  return QColor(r, g, b);
}

kestrune::Image PatternImage(uint32_t width, uint32_t height) {
  kestrune::Image image(width, height);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) image.Row(c, y)[x] = static_cast<float>(Pattern(x, y)[c]);
  return image;
}

bool HasPattern(const kestrune::Image& image, uint32_t width, uint32_t height) {
  if (image.IsEmpty() || image.Width() != width || image.Height() != height || image.HasAlpha()) return false;
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x)
        if (image.Row(c, y)[x] != Pattern(x, y)[c]) return false;
  return true;
}

QByteArray PatternBmp(uint32_t width, uint32_t height, int bitCount) {
  const uint32_t bytesPerPixel = bitCount / 8, stride = (bytesPerPixel * width + 3) / 4 * 4;
  QByteArray file(static_cast<qsizetype>(54 + stride * height), '\0');
  uchar* p = reinterpret_cast<uchar*>(file.data());
  std::memcpy(p, "BM", 2);
  qToLittleEndian<quint32>(static_cast<quint32>(file.size()), p + 2);
  qToLittleEndian<quint32>(54, p + 10);
  qToLittleEndian<quint32>(40, p + 14);
  qToLittleEndian<qint32>(static_cast<qint32>(width), p + 18);
  qToLittleEndian<qint32>(static_cast<qint32>(height), p + 22);
  qToLittleEndian<quint16>(1, p + 26);
  qToLittleEndian<quint16>(static_cast<quint16>(bitCount), p + 28);
  for (uint32_t y = 0; bitCount != 16 && y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uchar* pixel = p + 54 + stride * (height - 1 - y) + bytesPerPixel * x;
      for (int c = 0; c < 3; ++c) pixel[2 - c] = static_cast<uchar>(Pattern(x, y)[c]);
      if (bytesPerPixel == 4) pixel[3] = 0x7f;  // must be ignored
    }
  return file;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  QFile file(dir.filePath(name));
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
}

QString WriteImageFile(const QTemporaryDir& dir, const QString& name, const kestrune::Image& image) {
  const QString path = dir.filePath(name);
  return kestrune::WriteImage(image, QFile::encodeName(path).toStdString()) ? QString() : path;
}

kestrune::Image ReadImageFile(const QString& path) {
  kestrune::Result<kestrune::Image> read = kestrune::ReadImage(QFile::encodeName(path).toStdString());
  return read.ok() ? std::move(read).value() : kestrune::Image();
}
