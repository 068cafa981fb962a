// Helpers of the desktop program's tests: recorded message boxes, scripted
// file dialogs, and small images with known pixels.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <vector>

#include <kestrune/image.h>

#include "app/file_dialogs.h"
#include "app/message_box.h"

class CKestruneDlg;
class QLineEdit;
class QVariant;
class QWidget;

// Empties the program's profile (a temporary one in every test program).
void ClearProfile();
// One value of the profile, read and written through QSettings.
QVariant ProfileValue(const QString& key);
void SetProfileValue(const QString& key, const QVariant& value);

// Shows a window and waits until it is exposed; false when it never is.
bool ShowExposed(QWidget& window);

// A dialog's edit field by its control id (its object name).
QLineEdit* Field(QWidget& dialog, int id);
// The text of the main window's status bar field `name` ("size", "zoom", "pixel").
QString StatusField(const CKestruneDlg& window, const char* name);
// What the main window's picture area shows, in its device pixels.
QImage Shown(const CKestruneDlg& window);

// Records every message box instead of showing it, for its lifetime.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  std::vector<MessageBoxRequest> messages;
  QStringList Texts() const;
  void Clear() { messages.clear(); }

 private:
  MessageBoxHandler previous_;
};

// Answers file dialogs from a queue of paths (an empty path is Cancel) and
// records the names proposed, for its lifetime.
class FileDialogScript {
 public:
  FileDialogScript();
  ~FileDialogScript();
  FileDialogScript(const FileDialogScript&) = delete;
  FileDialogScript& operator=(const FileDialogScript&) = delete;

  std::deque<QString> answers;
  struct Request {
    FileDialogKind kind;
    QString proposedName;
  };
  std::vector<Request> requests;

 private:
  FileDialogHandler previous_;
};

// An image whose pixel (x, y) is red 10x+1, green 20y+2, blue x+y+3 (mod 256).
kestrune::Image PatternImage(uint32_t width, uint32_t height);
QColor PatternColor(int x, int y);

// Samples of the same value v(x, y) in all three colour planes.
kestrune::Image GreyImage(uint32_t width, uint32_t height, const std::function<float(uint32_t, uint32_t)>& v);

// A BMP file (with its 14-byte file header) of the pattern, bottom-up, with
// 24 or 32 bits per pixel, built byte by byte. bitCount 16 gives a header
// declaring 16 bits (for refusal tests) with zero pixels.
QByteArray PatternBmp(uint32_t width, uint32_t height, int bitCount);

// Writes `bytes` to `name` in `dir`; returns its path, empty on failure.
QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
// Writes `image` through the library (format by the extension); returns its
// path, empty on failure.
QString WriteImageFile(const QTemporaryDir& dir, const QString& name, const kestrune::Image& image);
// The image in a file, empty when it cannot be read.
kestrune::Image ReadImageFile(const QString& path);

// True when the image is width x height without alpha and every sample of
// its colour planes equals the pattern.
bool HasPattern(const kestrune::Image& image, uint32_t width, uint32_t height);
