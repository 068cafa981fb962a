// Choosing files to open and to save through the program's file dialogs.
#include "app/file_dialogs.h"

#include "app/bitmap_file_dlg.h"

#include <QFileInfo>

#include <utility>

namespace {
FileDialogHandler& Handler() {
  static FileDialogHandler handler;
  return handler;
}

}  // namespace

QString OpenFilter() {
  return QStringLiteral(
      "All images|*.bmp;*.png;*.jpg;*.jpeg;*.tif;*.tiff;*.webp;*.heic;*.heif;*.avif;*.gif;*.pbm;*.pgm;*.ppm;*.pnm;"
      "*.pfm|Bitmap files (*.bmp)|*.bmp|PNG files (*.png)|*.png|JPEG files (*.jpg)|*.jpg;*.jpeg|"
      "TIFF files (*.tif)|*.tif;*.tiff|WebP files (*.webp)|*.webp|All files (*.*)|*.*|");
}

QString SaveFilter() {
  return QStringLiteral(
      "Bitmap Files (*.bmp)|*.bmp|PNG Files (*.png)|*.png|JPEG Files (*.jpg)|*.jpg|TIFF Files (*.tif)|*.tif|"
      "WebP Files (*.webp)|*.webp||");
}

QString ChooseFileToOpen(QWidget* parent) {
  if (Handler()) return Handler()(FileDialogKind::kOpen, QString());
  CBitmapFileDlg dialog(true, QString(), QString(), OpenFilter(), parent);
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.PathName();
}

QString ChooseFileToSave(QWidget* parent, const QString& fileName) {
  if (Handler()) return Handler()(FileDialogKind::kSave, fileName);
  CXDlg2 dialog(false, QStringLiteral("bmp"), fileName, SaveFilter(), parent);
  // The proposed name's own type, when it is one of the list, is chosen.
  QString suffix = QFileInfo(fileName).suffix().toLower();
  if (suffix == QStringLiteral("jpeg")) suffix = QStringLiteral("jpg");
  if (suffix == QStringLiteral("tiff")) suffix = QStringLiteral("tif");
  const QString pattern = QStringLiteral("(*.%1)").arg(suffix);
  for (const QString& type : dialog.nameFilters())
    if (!suffix.isEmpty() && type.endsWith(pattern)) {
      dialog.selectNameFilter(type);
      dialog.setDefaultSuffix(suffix);
    }
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.PathName();
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
