// Plain file dialogs for opening and saving images.
#include "app/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>

#include <utility>

namespace {
FileDialogHandler& Handler() {
  static FileDialogHandler handler;
  return handler;
}

const char kBmpFilter[] = "Bitmap Files (*.bmp)";
const char kPngFilter[] = "PNG Files (*.png)";
}  // namespace

QString SaveFilter() { return QStringLiteral("%1;;%2").arg(QLatin1String(kBmpFilter), QLatin1String(kPngFilter)); }

QString ChooseFileToOpen(QWidget* parent) {
  if (Handler()) return Handler()(FileDialogKind::kOpen, QString());
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("All supported files (*.bmp *.png *.jpg)"),
                         QStringLiteral("Bitmap files (*.bmp)"), QStringLiteral("PNG files (*.png)"),
                         QStringLiteral("JPEG files (*.jpg)"), QStringLiteral("All files (*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().first();
}

QString ChooseFileToSave(QWidget* parent, const QString& fileName) {
  if (Handler()) return Handler()(FileDialogKind::kSave, fileName);
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QLatin1String(kBmpFilter), QLatin1String(kPngFilter)});
  dialog.selectNameFilter(QLatin1String(kBmpFilter));
  dialog.setDefaultSuffix(QStringLiteral("bmp"));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
    dialog.setDefaultSuffix(filter == QLatin1String(kPngFilter) ? QStringLiteral("png") : QStringLiteral("bmp"));
  });
  if (!fileName.isEmpty()) dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().first();
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
