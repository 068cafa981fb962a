// Helpers of the desktop program's tests: recorded message boxes, scripted
// file dialogs, and small images with known pixels.
#pragma once

#include <QtTest/QtTest>
#include <QtWidgets/QtWidgets>

#include <deque>
#include <functional>
#include <vector>

#include <kestrune/image.h>

#include "app/file_dialogs.h"
#include "app/kestrune_dlg.h"
#include "app/message_box.h"
#include "app/picture_view.h"

// The program's profile (a temporary one in every test program).
void ClearProfile();
QVariant ProfileValue(const QString& key);
void SetProfileValue(const QString& key, const QVariant& value);

bool ShowExposed(QWidget& window);
QLineEdit* Field(QWidget& dialog, int id);
// A status bar field ("size", "zoom", "pixel"); the picture as shown.
QString StatusField(const CKestruneDlg& window, const char* name);
QImage Shown(const CKestruneDlg& window);

// Records every message box instead of showing it, for its lifetime.
struct MessageRecorder {
  MessageRecorder();
  ~MessageRecorder();
  std::vector<MessageBoxRequest> messages;
  QStringList Texts() const;
  void Clear() { messages.clear(); }
  MessageBoxHandler previous;
};

// Answers file dialogs from a queue (empty: Cancel), for its lifetime.
struct FileDialogScript {
  FileDialogScript();
  ~FileDialogScript();
  std::deque<QString> answers;
  std::vector<std::pair<FileDialogKind, QString>> requests;
  FileDialogHandler previous;
};

// An image whose pixel (x, y) is red 10x+1, green 20y+2, blue x+y+3 (mod 256).
kestrune::Image PatternImage(uint32_t width, uint32_t height);
QColor PatternColor(int x, int y);
// True when the image is the pattern, width x height, without alpha.
bool HasPattern(const kestrune::Image& image, uint32_t width, uint32_t height);

// A BMP file of the pattern, 24 or 32 bits (16: the header only).
QByteArray PatternBmp(uint32_t width, uint32_t height, int bitCount);

// Writes a file in `dir`; its path, empty on failure.
QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
QString WriteImageFile(const QTemporaryDir& dir, const QString& name, const kestrune::Image& image);
// The image in a file, empty when it cannot be read.
kestrune::Image ReadImageFile(const QString& path);
