// Choosing files to open and to save through the program's file dialogs.
#include "app/file_dialogs.h"

#include "app/bitmap_file_dlg.h"

#include <utility>

namespace {
FileDialogHandler& Handler() {
  static FileDialogHandler handler;
  return handler;
}

}  // namespace

QString OpenFilter() {
  return QStringLiteral(
      "All supported files|*.bmp;*.png;*.jpg|Bitmap files (*.bmp)|*.bmp|PNG files (*.png)|*.png|"
      "JPEG files (*.jpg)|*.jpg|All files (*.*)|*.*|");
}

QString SaveFilter() { return QStringLiteral("Bitmap Files (*.bmp)|*.bmp|PNG Files (*.png)|*.png||"); }

QString ChooseFileToOpen(QWidget* parent) {
  if (Handler()) return Handler()(FileDialogKind::kOpen, QString());
  CBitmapFileDlg dialog(true, QString(), QString(), OpenFilter(), parent);
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.PathName();
}

QString ChooseFileToSave(QWidget* parent, const QString& fileName) {
  if (Handler()) return Handler()(FileDialogKind::kSave, fileName);
  CXDlg2 dialog(false, QStringLiteral("bmp"), fileName, SaveFilter(), parent);
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.PathName();
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
