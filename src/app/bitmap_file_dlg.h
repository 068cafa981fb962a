// The program's file dialogs: Qt's own file dialog with a panel below its
// controls. Both offer the recent folders ("Recent folders:"); the open
// dialog CBitmapFileDlg also shows a preview of the selected image with its
// dimensions and bit depth, and the save dialog CXDlg2 keeps the typed
// name's extension in line with the chosen file type.
#pragma once

#include <QFileDialog>
#include <QString>

#include <kestrune/image.h>
#include "app/dib_image.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPainter;

// What both dialogs share: the panel with the recent folders box, filled
// from the profile, navigating on a choice and remembering the folder of an
// accepted file.
class CRecentFolderFileDlg : public QFileDialog {
  Q_OBJECT
 public:
  // `filter` is "|"-separated: "Description|*.ext;*.ext|...|".
  CRecentFolderFileDlg(bool openFileDialog, const QString& defaultExtension, const QString& fileName,
                       const QString& filter, QWidget* parent);

  // The chosen file's full path after OK.
  QString PathName() const;
  // Called when a file has been accepted: remembers its folder.
  virtual void OnFileNameOK(const QString& path);
  // A choice in the recent folders box: go to that folder.
  void OnRecentFolderChosen(int index);

  QString initialFolder;
  QComboBox* recentFolders = nullptr;
  QLabel* recentFoldersLabel = nullptr;
  QWidget* panel = nullptr;  // the panel below the dialog's controls

  void done(int result) override;

 protected:
  QLineEdit* FileNameBox() const;
  // Places the panel's controls under the dialog's own (file-type label and
  // box, file list); the open dialog adds its preview controls.
  virtual void LayoutPanel();
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

  friend class FileDialogPanel;
  virtual void PaintPanel(QPainter&) {}
};

// "Open..." and "Load from file": the recent folders and the preview.
class CBitmapFileDlg : public CRecentFolderFileDlg {
  Q_OBJECT
 public:
  CBitmapFileDlg(bool openFileDialog, const QString& defaultExtension, const QString& fileName, const QString& filter,
                 QWidget* parent);

  // The file list's current file changed: read it for the preview.
  void OnSelChange(const QString& path);
  // The "Preview" check box changed.
  void OnPreviewToggled(bool checked);
  void OnFileNameOK(const QString& path) override;
  void done(int result) override;

  // The preview's place in panel coordinates (empty when nothing is drawn).
  QRect PreviewRect() const;

  kestrune::Image previewImage;
  bool showPreview = true;
  QString dimensionsText = QStringLiteral("Bitmap dimensions:");
  QString bitDepthText = QStringLiteral("Bit depth:");
  QCheckBox* previewCheck = nullptr;
  QLabel* dimensionsLabel = nullptr;
  QLabel* bitDepthLabel = nullptr;

 protected:
  void LayoutPanel() override;
  void PaintPanel(QPainter& painter) override;

 private:
  void ShowTexts();
  DibImage previewBitmap_;  // previewImage reduced to the last drawn size
};

// "Save As...": the recent folders and the extension rule.
class CXDlg2 : public CRecentFolderFileDlg {
  Q_OBJECT
 public:
  CXDlg2(bool openFileDialog, const QString& defaultExtension, const QString& fileName, const QString& filter,
         QWidget* parent);

  // The file type changed to `typeIndex` (counted from 1): the name in the
  // file-name box takes that type's extension.
  void OnTypeChange(int typeIndex);

  QString filter;
};
