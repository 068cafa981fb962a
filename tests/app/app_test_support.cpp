// Helpers of the desktop program's tests.
#include "app_test_support.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QTemporaryDir>
#include <QtEndian>

#include <kestrune/io.h>

#include "app/kestrune_dlg.h"

namespace {
// Every test program keeps the program's profile (recent files and folders)
// in a temporary folder of its own, never in the user's.
struct TemporaryProfile {
  QTemporaryDir dir;
  TemporaryProfile() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
  }
};
const TemporaryProfile temporaryProfile;
}  // namespace

void ClearProfile() {
  QSettings settings;
  settings.clear();
  settings.sync();
}

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
  previous_ = SetMessageBoxHandler([this](const MessageBoxRequest& request) { messages.push_back(request); });
}

MessageRecorder::~MessageRecorder() { SetMessageBoxHandler(previous_); }

QStringList MessageRecorder::Texts() const {
  QStringList texts;
  for (const MessageBoxRequest& request : messages) texts << request.text;
  return texts;
}

FileDialogScript::FileDialogScript() {
  previous_ = SetFileDialogHandler([this](FileDialogKind kind, const QString& proposed) {
    requests.push_back({kind, proposed});
    if (answers.empty()) return QString();
    QString answer = answers.front();
    answers.pop_front();
    return answer;
  });
}

FileDialogScript::~FileDialogScript() { SetFileDialogHandler(previous_); }

namespace {
int PatternRed(uint32_t x, uint32_t) { return static_cast<int>((10 * x + 1) % 256); }
int PatternGreen(uint32_t, uint32_t y) { return static_cast<int>((20 * y + 2) % 256); }
int PatternBlue(uint32_t x, uint32_t y) { return static_cast<int>((x + y + 3) % 256); }
}  // namespace

QColor PatternColor(int x, int y) { return QColor(PatternRed(x, y), PatternGreen(x, y), PatternBlue(x, y)); }

kestrune::Image PatternImage(uint32_t width, uint32_t height) {
  kestrune::Image image(width, height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      image.Row(kestrune::kRed, y)[x] = static_cast<float>(PatternRed(x, y));
      image.Row(kestrune::kGreen, y)[x] = static_cast<float>(PatternGreen(x, y));
      image.Row(kestrune::kBlue, y)[x] = static_cast<float>(PatternBlue(x, y));
    }
  return image;
}

kestrune::Image GreyImage(uint32_t width, uint32_t height, const std::function<float(uint32_t, uint32_t)>& v) {
  kestrune::Image image(width, height);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) image.Row(c, y)[x] = v(x, y);
  return image;
}

QByteArray PatternBmp(uint32_t width, uint32_t height, int bitCount) {
  const int bytesPerPixel = bitCount == 32 ? 4 : bitCount == 24 ? 3 : 2;
  const uint32_t stride = (static_cast<uint32_t>(bytesPerPixel) * width + 3) / 4 * 4;
  QByteArray file(static_cast<qsizetype>(54 + stride * height), '\0');
  uchar* p = reinterpret_cast<uchar*>(file.data());
  p[0] = 'B';
  p[1] = 'M';
  qToLittleEndian<quint32>(static_cast<quint32>(file.size()), p + 2);
  qToLittleEndian<quint32>(54, p + 10);
  qToLittleEndian<quint32>(40, p + 14);
  qToLittleEndian<qint32>(static_cast<qint32>(width), p + 18);
  qToLittleEndian<qint32>(static_cast<qint32>(height), p + 22);
  qToLittleEndian<quint16>(1, p + 26);
  qToLittleEndian<quint16>(static_cast<quint16>(bitCount), p + 28);
  if (bitCount == 24 || bitCount == 32) {
    for (uint32_t y = 0; y < height; ++y) {
      uchar* row = p + 54 + stride * (height - 1 - y);
      for (uint32_t x = 0; x < width; ++x) {
        uchar* pixel = row + bytesPerPixel * x;
        pixel[0] = static_cast<uchar>(PatternBlue(x, y));
        pixel[1] = static_cast<uchar>(PatternGreen(x, y));
        pixel[2] = static_cast<uchar>(PatternRed(x, y));
        if (bytesPerPixel == 4) pixel[3] = 0x7f;  // must be ignored
      }
    }
  }
  return file;
}

bool HasPattern(const kestrune::Image& image, uint32_t width, uint32_t height) {
  if (image.IsEmpty() || image.Width() != width || image.Height() != height || image.HasAlpha()) return false;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      if (image.Row(kestrune::kRed, y)[x] != PatternRed(x, y) ||
          image.Row(kestrune::kGreen, y)[x] != PatternGreen(x, y) ||
          image.Row(kestrune::kBlue, y)[x] != PatternBlue(x, y))
        return false;
  return true;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return QString();
  return path;
}

QString WriteImageFile(const QTemporaryDir& dir, const QString& name, const kestrune::Image& image) {
  const QString path = dir.filePath(name);
  return kestrune::WriteImage(image, QFile::encodeName(path).toStdString()) ? QString() : path;
}

kestrune::Image ReadImageFile(const QString& path) {
  kestrune::Result<kestrune::Image> read = kestrune::ReadImage(QFile::encodeName(path).toStdString());
  return read.ok() ? std::move(read).value() : kestrune::Image();
}
