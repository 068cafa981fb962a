// The screenshot walk: main window, both settings dialogs, the About box, the
// open and save dialogs, an upscaling run with its progress dialog, and the
// result; then, when the folder holds them, a large photograph at fit and at
// 100 %, and the enlargement of its half-size copy compared with its source.
#include "app/screenshot_tour.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/about_dlg.h"
#include "app/bitmap_file_dlg.h"
#include "app/down_settings_dlg.h"
#include "app/file_dialogs.h"
#include "app/file_dlg_rules.h"
#include "app/kestrune_dlg.h"
#include "app/message_box.h"
#include "app/picture_view.h"
#include "app/sr_settings_dlg.h"

namespace {
struct Tour {
  CKestruneDlg* window;
  QDir directory;
  bool progressShot = false;

  void Save(const QPixmap& pixmap, const QString& name) const {
    const QString path = directory.filePath(name);
    if (!pixmap.save(path)) qWarning("screenshots: cannot write %s", qPrintable(path));
  }
  // The screen around the main window and `other` (when given).
  void Screen(const QString& name, const QWidget* other = nullptr) const {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    QRect area = window->frameGeometry();
    if (other && other->isVisible()) area |= other->frameGeometry();
    area = area.adjusted(-8, -8, 8, 8) & screen->geometry();
    Save(screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()), name);
  }
};

// Runs `step` after `ms` milliseconds.
void After(int ms, std::function<void()> step) { QTimer::singleShot(ms, qApp, std::move(step)); }

template <typename Dialog>
void ShootDialog(std::shared_ptr<Tour> tour, const QString& name, std::function<void()> next) {
  auto* dialog = new Dialog(tour->window);
  if constexpr (!std::is_same_v<Dialog, CAboutDlg>) {
    dialog->newWidth = tour->window->currentImage.Width();
    dialog->newHeight = tour->window->currentImage.Height();
  }
  if constexpr (std::is_same_v<Dialog, CSRSettingsDlg>)
    dialog->jpegSource = tour->window->currentImage.HasJpegCoefficients();
  dialog->show();
  After(400, [tour, dialog, name, next] {
    tour->Save(dialog->grab(), name + QStringLiteral(".png"));
    tour->Screen(QStringLiteral("screen-") + name + QStringLiteral(".png"), dialog);
    dialog->deleteLater();
    After(200, next);
  });
}

// The open dialog showing the opened file's preview, then the save dialog;
// the folder of the opened file and the temporary folder are made recent.
void ShootFileDialogs(std::shared_ptr<Tour> tour, std::function<void()> next) {
  const QString path = tour->window->filePath;
  RememberFolder(ReadRecentFolders(), QDir::tempPath() + QLatin1Char('/'));
  RememberFolder(ReadRecentFolders(), FolderOfPath(path));
  auto* open = new CBitmapFileDlg(true, QString(), QString(), OpenFilter(), tour->window);
  open->resize(720, 520);
  open->show();
  After(300, [tour, open, path, next] {
    open->selectFile(path);
    open->OnSelChange(path);
    After(400, [tour, open, next] {
      tour->Save(open->grab(), QStringLiteral("open-dialog.png"));
      tour->Screen(QStringLiteral("screen-open-dialog.png"), open);
      open->deleteLater();
      auto* save = new CXDlg2(false, QStringLiteral("bmp"), tour->window->fileName, SaveFilter(), tour->window);
      save->resize(720, 420);
      save->show();
      After(400, [tour, save, next] {
        tour->Save(save->grab(), QStringLiteral("save-dialog.png"));
        tour->Screen(QStringLiteral("screen-save-dialog.png"), save);
        save->deleteLater();
        After(200, next);
      });
    });
  });
}

// Waits for the upscaling run to end, then runs `next`.
void WatchRun(std::shared_ptr<Tour> tour, std::function<void()> next) {
  if (!tour->window->UpscaleRunning()) {
    After(300, next);
    return;
  }
  After(50, [tour, next] { WatchRun(tour, next); });
}

// Starts an upscaling run to twice the size, its settings accepted as shown.
void UpscaleToDouble(std::shared_ptr<Tour> tour) {
  After(400, [] {
    if (auto* settings = qobject_cast<CSRSettingsDlg*>(QApplication::activeModalWidget())) {
      settings->DoubleSize();
      settings->accept();
    }
  });
  tour->window->OnProcessUpscale();
}

// Scrolls the picture to the fractions (fx, fy) of its range and puts the
// mouse at `point` of the picture area, so that the status bar tells a pixel.
void Look(CKestruneDlg* window, double fx, double fy, QPoint point) {
  QScrollBar* across = window->View()->horizontalScrollBar();
  QScrollBar* down = window->View()->verticalScrollBar();
  across->setValue(static_cast<int>(across->maximum() * fx));
  down->setValue(static_cast<int>(down->maximum() * fy));
  QCursor::setPos(window->PictureWidget()->mapToGlobal(point));
}

// photo.png at 100 % and at fit; photo-half.png enlarged, then at 200 % with
// the source shown (Space held) and in the split view. The views at 100 % and
// 200 % look at the fan of thin lines right of the picture's middle.
void ShootPhotograph(std::shared_ptr<Tour> tour, std::function<void()> next) {
  const QString photo = tour->directory.filePath(QStringLiteral("photo.png"));
  const QString half = tour->directory.filePath(QStringLiteral("photo-half.png"));
  if (!QFile::exists(photo) || !QFile::exists(half) || !tour->window->LoadImageFile(photo)) {
    next();
    return;
  }
  CKestruneDlg* window = tour->window;
  window->OnViewZoom(1.0);
  After(400, [tour, window, half, next] {
    Look(window, 0.91, 0.17, QPoint(420, 260));
    After(400, [tour, window, half, next] {
      tour->Screen(QStringLiteral("photo-100.png"));
      window->OnViewFit();
      QCursor::setPos(window->PictureWidget()->mapToGlobal(QPoint(520, 300)));
      After(600, [tour, window, half, next] {
        tour->Screen(QStringLiteral("photo-fit.png"));
        if (!window->LoadImageFile(half)) {
          next();
          return;
        }
        UpscaleToDouble(tour);
        WatchRun(tour, [tour, window, next] {
          window->OnViewZoom(2.0);
          After(400, [tour, window, next] {
            Look(window, 0.79, 0.17, QPoint(420, 260));
            window->ShowSource(true);
            After(400, [tour, window, next] {
              tour->Screen(QStringLiteral("photo-source.png"));
              window->ShowSource(false);
              window->OnViewSplit();
              QCursor::setPos(window->PictureWidget()->mapToGlobal(QPoint(420, 260)));
              After(400, [tour, window, next] {
                tour->Screen(QStringLiteral("photo-split.png"));
                next();
              });
            });
          });
        });
      });
    });
  });
}
}  // namespace

void StartScreenshotTour(CKestruneDlg& window, const QString& directory) {
  auto tour = std::make_shared<Tour>();
  tour->window = &window;
  tour->directory = QDir(directory);
  tour->directory.mkpath(QStringLiteral("."));
  SetMessageBoxHandler(
      [](const MessageBoxRequest& request) { qWarning("screenshots: message box: %s", qPrintable(request.text)); });

  After(800, [tour] {
    tour->Save(tour->window->grab(), QStringLiteral("main.png"));
    tour->Screen(QStringLiteral("screen-main.png"));
    ShootDialog<CSRSettingsDlg>(tour, QStringLiteral("settings-upscale"), [tour] {
      ShootDialog<CDownSettingsDlg>(tour, QStringLiteral("settings-downscale"), [tour] {
        ShootDialog<CAboutDlg>(tour, QStringLiteral("about"), [tour] {
          ShootFileDialogs(tour, [tour] {
            // An upscaling run to twice the size.
            After(0, [tour] {
              // A picture of the run in progress, taken during a report.
              QObject::connect(&tour->window->progressDialog, &CProgressDlg::statusTextChanged, qApp,
                               [tour](const QString& text) {
                                 if (tour->progressShot || !text.startsWith(QStringLiteral("Iteration 3 "))) return;
                                 tour->progressShot = true;
                                 CProgressDlg& progress = tour->window->progressDialog;
                                 tour->Save(progress.grab(), QStringLiteral("progress.png"));
                                 tour->Screen(QStringLiteral("screen-upscaling.png"), &progress);
                               });
              UpscaleToDouble(tour);
              WatchRun(tour, [tour] {
                tour->Save(tour->window->grab(), QStringLiteral("result.png"));
                tour->Screen(QStringLiteral("screen-result.png"));
                ShootPhotograph(tour, [] { QApplication::quit(); });
              });
            });
          });
        });
      });
    });
  });
}
