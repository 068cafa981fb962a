// CKestruneDlg: the main window. It holds the image being worked on, shows
// it at the top-left of the area below the menu bar (1:1 unless zoomed; a
// picture larger than the screen scrolls), carries every command (open,
// save, copy, paste, "Undo all", the zoom, the comparison with the source of
// an enlargement, the two resizing commands, About), tells in its status bar
// the picture's size and depth, the zoom and the pixel under the mouse, and
// turns the reports of the upscaling worker and of the downscaling into the
// progress dialog's texts and the live picture.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QString>

#include <atomic>
#include <memory>

#include <kestrune/image.h>
#include <kestrune/progress.h>
#include <kestrune/result.h>
#include <kestrune/upscale.h>

#include "app/dib_image.h"
#include "app/mru_list.h"
#include "app/progress_dlg.h"
#include "app/upscale_worker.h"

class PictureView;
class QAction;
class QLabel;

class CKestruneDlg : public QMainWindow {
  Q_OBJECT
 public:
  // Command ids of the menu items.
  enum CommandId : int {
    ID_FILE_OPEN = 32771,
    ID_FILE_SAVE_AS = 32772,
    ID_APP_ABOUT = 32773,
    ID_EDIT_COPY = 32774,
    ID_EDIT_PASTE = 32775,
    ID_EDIT_UNDO_ALL = 32776,
    ID_PROCESS_UPSCALE = 32777,
    ID_PROCESS_DOWNSCALE = 32778,
    ID_VIEW_FIT = 32779,
    ID_VIEW_ACTUAL_SIZE = 32780,
    ID_VIEW_DOUBLE_SIZE = 32781,
    ID_VIEW_ZOOM_IN = 32782,
    ID_VIEW_ZOOM_OUT = 32783,
    ID_VIEW_SOURCE = 32784,
    ID_VIEW_SPLIT = 32785,
    ID_FILE_MRU_FIRST = 2377,
    ID_FILE_MRU_LAST = 2386,
  };

  explicit CKestruneDlg(QWidget* parent = nullptr);
  ~CKestruneDlg() override;

  void OnFileOpen();
  void OnFileSaveAs();
  void OnEditCopy();
  void OnEditPaste();
  void OnEditUndoAll();
  void OnProcessUpscale();
  void OnProcessDownscale();
  void OnHelpAbout();
  // Zoom: the largest zoom up to 100 % at which the whole picture fits on
  // the screen (kept for each new picture until another zoom is chosen), a
  // fixed zoom (device pixels per picture pixel), one step in or out.
  void OnViewFit();
  void OnViewZoom(double zoom);
  void OnViewZoomIn();
  void OnViewZoomOut();
  // The menu's toggles of the comparison with the source of the last
  // enlargement: the whole source (as while Space is held), the split view.
  void OnViewSource();
  void OnViewSplit();
  // Shows the source of the last enlargement in the picture's place, each
  // pixel repeated to the result's size, or the result again. Without an
  // enlargement the status bar says so.
  void ShowSource(bool show);
  // A recent file's menu item (ids ID_FILE_MRU_FIRST..ID_FILE_MRU_LAST): that
  // entry moves to the top and is opened.
  void OnRecentFile(int id);

  // Reads `path` into currentImage; on success fits the window and makes it
  // the image "Undo all" returns to. False (after a message) on failure.
  bool LoadImageFile(const QString& path);
  // Takes the picture as changed and sizes the window so that the area
  // between the menu bar and the status bar shows the whole picture at the
  // zoom, or as much as the screen's available area holds, with scroll bars;
  // the outer size is at least 200 x 100.
  void FitWindowToImage();
  // One report of the upscaling worker, on the user-interface thread while
  // the worker waits: the picture shows the estimate, the dialog the stage.
  void OnUpscaleReport(const kestrune::ProgressReport& report);

  // True from the start of an upscaling run until its result is in.
  bool UpscaleRunning() const { return upscaleRunning_; }
  // The menu item of a command id (tests, screenshots).
  QAction* Command(int id) const;
  // The widget that shows the picture, and the scrolling view around it.
  QWidget* PictureWidget() const;
  PictureView* View() const { return view_; }

  QIcon icon;
  MRUList recentFiles{10};
  CProgressDlg progressDialog;
  QString filePath;
  QString fileName;
  // The picture; during an upscaling run, the source of the run (the window
  // then shows the estimate, kept in displayBitmap).
  kestrune::Image currentImage;
  kestrune::Image loadedImage;
  DibImage displayBitmap;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  // Shows the refusal and returns true while an upscaling run owns the image.
  bool RefuseWhileRunning();
  void FinishUpscale();
  // What the window shows: the picture, or during a run the estimate as last
  // reported. Throws std::bad_alloc.
  kestrune::Image ShownImage() const;
  // Sizes the window to the picture at the zoom (FitWindowToImage without
  // taking the picture as changed).
  void FitWindow();
  // Sets the zoom about `anchor` (a point of the picture area) and fits the window.
  void ZoomAbout(double zoom, QPoint anchor);
  // Hands the view the picture as the screen shows it.
  void RefreshPicture();
  // Gives the view the source of the last enlargement; false without one.
  bool PrepareSource();
  // The picture changed by anything but an enlargement: no comparison.
  void ForgetSource();
  void UpdateStatus();
  QString PixelText() const;

  PictureView* view_ = nullptr;
  QLabel* pixelLabel_ = nullptr;
  QLabel* sizeLabel_ = nullptr;
  QLabel* zoomLabel_ = nullptr;
  bool fitZoom_ = false;
  // The source of the last enlargement while its result is the picture.
  kestrune::Image beforeImage_;
  UpscaleWorker worker_;
  std::atomic<bool> cancelRequested_{false};
  kestrune::Image initialImage_;  // "Load from file", kept for the run
  DibImage sourcePreview_;        // the source's bytes, for the blocky preview
  bool upscaleRunning_ = false;
  bool closeWhenFinished_ = false;
};

// The message shown when a command would replace the image an upscaling run
// is computing.
extern const char kBusyMessage[];
