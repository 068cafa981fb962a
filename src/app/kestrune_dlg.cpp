// The main window: menus and keys, the picture, the commands, and the
// upscaling worker's reports and completion.
#include "app/kestrune_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include <kestrune/bitmap.h>
#include <kestrune/downscale.h>
#include <kestrune/io.h>

#include "app/about_dlg.h"
#include "app/clipboard.h"
#include "app/dib_draw.h"
#include "app/down_settings_dlg.h"
#include "app/field_exchange.h"
#include "app/file_dialogs.h"
#include "app/message_box.h"
#include "app/sr_settings_dlg.h"
#include "app/upscale_guard.h"

const char kBusyMessage[] = "Not possible while Kestrune interpolation is running.";

namespace {
const char kNoImageMessage[] = "No image file opened yet.";
const char kOutOfMemoryMessage[] = "Not enough memory for this image.";
const char kTooLargeMessage[] = "The requested size is too large.";

// The area below the menu bar: paints the picture.
class PictureView : public QWidget {
 public:
  explicit PictureView(CKestruneDlg* owner) : QWidget(owner), owner_(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    owner_->PaintPicture(painter);
  }

 private:
  CKestruneDlg* owner_;
};

// Tells why `path` could not be read, or that it was read damaged. A JPEG
// file's problems appear in the JPEG library's box, with its messages.
void ShowReadProblem(QWidget* parent, const QString& path, const kestrune::Result<kestrune::Image>& read,
                     kestrune::FileFormat format) {
  const bool shown = read.has_value();
  QString text = (shown ? QStringLiteral("The image file is damaged: ") : QStringLiteral("Error loading image: ")) +
                 path + QLatin1Char('\n') + QString::fromStdString(read.error().message);
  if (shown) text += QStringLiteral("\nShowing what could be read.");
  if (format != kestrune::FileFormat::kJpeg) {
    ShowMessageBox(parent, text, QMessageBox::Warning);
    return;
  }
  for (const std::string& message : read.warnings()) text += QLatin1Char('\n') + QString::fromStdString(message);
  ShowMessageBox(parent, text, QMessageBox::Critical, QStringLiteral("JPEG Library Error"));
}

// The progress dialog's status line for a report of an upscaling run.
QString UpscaleStatusText(const kestrune::ProgressReport& report) {
  switch (report.stage) {
    case kestrune::Stage::kAllocating: return QStringLiteral("Allocating memory");
    case kestrune::Stage::kInitialEnlargement: return QStringLiteral("Initial upscaling");
    case kestrune::Stage::kPreparing: return QStringLiteral("Preparing for sharpness enhancement");
    default:
      return QString::asprintf(report.substitution ? "Iteration %d of %d (fractal substitution)" : "Iteration %d of %d",
                               static_cast<int>(report.step), static_cast<int>(report.total));
  }
}

// The window's view of a downscaling run: the dialog's bar follows each
// trial, the status line the best score so far, then the final scaling.
class DownscaleReports : public kestrune::Progress {
 public:
  explicit DownscaleReports(CProgressDlg& dialog) : dialog_(dialog) {}
  void Report(const kestrune::ProgressReport& report) override {
    if (report.stage == kestrune::Stage::kFinalScaling) {
      dialog_.SetStatusText(QStringLiteral("Final scaling..."));
      return;
    }
    if (report.bestScore >= 0.0f && report.bestScore != shownScore_) {
      shownScore_ = report.bestScore;
      dialog_.SetStatusText(QString::asprintf("Searching for hints...  (best hint so far: %1.3f)",
                                              static_cast<double>(report.bestScore)));
    }
    dialog_.SetProgress(report.percent);
  }

 private:
  CProgressDlg& dialog_;
  float shownScore_ = -1.0f;
};

// The worker's side of an upscaling run: each report waits until the window
// has shown it; the Cancel button's flag stops the run.
class UpscaleReports : public kestrune::Progress {
 public:
  UpscaleReports(CKestruneDlg* window, std::atomic<bool>& cancel) : window_(window), cancel_(cancel) {}
  void Report(const kestrune::ProgressReport& report) override {
    QMetaObject::invokeMethod(
        window_, [this, &report] { window_->OnUpscaleReport(report); }, Qt::BlockingQueuedConnection);
  }
  bool CancelRequested() override { return cancel_.load(); }

 private:
  CKestruneDlg* window_;
  std::atomic<bool>& cancel_;
};

// Logical size that covers `pixels` device pixels at `ratio`.
int LogicalSize(uint32_t pixels, qreal ratio) {
  return static_cast<int>(std::ceil(static_cast<double>(pixels) / ratio - 1e-9));
}
}  // namespace

CKestruneDlg::CKestruneDlg(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      icon(QStringLiteral(":/kestrune.png")),
      progressDialog(this) {
  setWindowTitle(QStringLiteral("Kestrune"));
  setWindowIcon(icon);
  setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  picture_ = new PictureView(this);
  setCentralWidget(picture_);
  BuildMenus();
  recentFiles.Load(this);
  DialogUnits du(this);
  setFixedSize(du.X(320), du.Y(200));
}

CKestruneDlg::~CKestruneDlg() {
  recentFiles.Save();
  // A run still going (the window is destroyed without being closed): stop it
  // and serve its reports until the worker is done with the image.
  if (upscaleRunning_) {
    cancelRequested_ = true;
    while (upscaleRunning_) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(1);
    }
  }
  JoinWorker();
}

void CKestruneDlg::BuildMenus() {
  auto add = [this](QMenu* menu, const QString& text, int id, void (CKestruneDlg::*slot)()) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setObjectName(QString::number(id));
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  // The keys are handled in keyPressEvent; the menu shows them after a tab.
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  add(file, QStringLiteral("&Open...\tCtrl+O"), ID_FILE_OPEN, &CKestruneDlg::OnFileOpen);
  add(file, QStringLiteral("Save &As...\tCtrl+S"), ID_FILE_SAVE_AS, &CKestruneDlg::OnFileSaveAs);
  file->addSeparator();  // the recent files follow here
  connect(file, &QMenu::triggered, this, [this](QAction* action) {
    bool isNumber = false;
    const int id = action->data().toInt(&isNumber);
    if (isNumber && id >= ID_FILE_MRU_FIRST && id <= ID_FILE_MRU_LAST) OnRecentFile(id);
  });
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  add(edit, QStringLiteral("&Copy\tCtrl+C"), ID_EDIT_COPY, &CKestruneDlg::OnEditCopy);
  add(edit, QStringLiteral("&Paste\tCtrl+V"), ID_EDIT_PASTE, &CKestruneDlg::OnEditPaste);
  add(edit, QStringLiteral("&Undo all\tCtrl+Z"), ID_EDIT_UNDO_ALL, &CKestruneDlg::OnEditUndoAll);
  QMenu* process = menuBar()->addMenu(QStringLiteral("&Process"));
  add(process, QStringLiteral("&Kestrune interpolation..."), ID_PROCESS_UPSCALE, &CKestruneDlg::OnProcessUpscale);
  add(process, QStringLiteral("&Downscale with hinting..."), ID_PROCESS_DOWNSCALE,
      &CKestruneDlg::OnProcessDownscale);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  add(help, QStringLiteral("&About..."), ID_APP_ABOUT, &CKestruneDlg::OnHelpAbout);
}

QAction* CKestruneDlg::Command(int id) const { return findChild<QAction*>(QString::number(id)); }

bool CKestruneDlg::RefuseWhileRunning() {
  if (!upscaleRunning_) return false;
  ShowMessageBox(this, QString::fromLatin1(kBusyMessage), QMessageBox::Information);
  return true;
}

void CKestruneDlg::FitWindowToImage() {
  const qreal ratio = devicePixelRatioF();
  const QSize frame = frameGeometry().size() - geometry().size();
  const int menuHeight = menuBar()->isVisible() ? menuBar()->height() : menuBar()->sizeHint().height();
  // During a run the window shows the estimate.
  const uint32_t width = upscaleRunning_ ? displayBitmap.width : currentImage.Width();
  const uint32_t height = upscaleRunning_ ? displayBitmap.height : currentImage.Height();
  int outerWidth = LogicalSize(width, ratio) + frame.width();
  int outerHeight = LogicalSize(height, ratio) + menuHeight + frame.height();
  if (outerWidth < 201) outerWidth = 200;
  if (outerHeight < 101) outerHeight = 100;
  setFixedSize(outerWidth - frame.width(), outerHeight - frame.height());
  picture_->update();
}

void CKestruneDlg::PaintPicture(QPainter& painter) {
  // A run's picture is made at each report; otherwise at every paint.
  if (upscaleRunning_) {
    Draw(displayBitmap, painter, 0, 0);
    return;
  }
  if (currentImage.IsEmpty()) return;
  try {
    displayBitmap.ForDisplay(currentImage.View());
    Draw(displayBitmap, painter, 0, 0);
  } catch (const std::bad_alloc&) {
    displayBitmap.Release();  // nothing drawn; the next paint tries again
  }
}

bool CKestruneDlg::LoadImageFile(const QString& path) {
  if (RefuseWhileRunning()) return false;
  try {
    // Read into a new image, so that a failed read leaves the picture as it
    // was. What can be read of a damaged file is shown, with a word on it.
    kestrune::ReadOptions options;
    options.keepDamaged = true;
    kestrune::FileFormat format = kestrune::FileFormat::kUnknown;
    kestrune::Result<kestrune::Image> read =
        kestrune::ReadImage(QFile::encodeName(path).toStdString(), options, &format);
    if (read.error().code == kestrune::ErrorCode::kOutOfMemory) throw std::bad_alloc();
    if (!read.has_value()) {
      ShowReadProblem(this, path, read, format);
      return false;
    }
    const bool damaged = read.error().code != kestrune::ErrorCode::kNone;
    currentImage = std::move(read).value();
    FitWindowToImage();
    recentFiles.Add(path);
    filePath = path;
    const int slash = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    fileName = path.mid(slash + 1);
    loadedImage = currentImage;
    if (damaged) ShowReadProblem(this, path, read, format);
    return true;
  } catch (const std::bad_alloc&) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
    return false;
  }
}

void CKestruneDlg::OnFileOpen() {
  if (RefuseWhileRunning()) return;
  const QString path = ChooseFileToOpen(this);
  if (!path.isEmpty()) LoadImageFile(path);
}

void CKestruneDlg::OnRecentFile(int id) {
  if (RefuseWhileRunning()) return;
  recentFiles.Select(id - ID_FILE_MRU_FIRST);
  LoadImageFile(recentFiles.Get(0));
}

void CKestruneDlg::OnFileSaveAs() {
  if (currentImage.IsEmpty()) return;
  const QString path = ChooseFileToSave(this, fileName);
  if (path.isEmpty()) return;
  // The format by the extension; a name the library writes no format for is
  // saved as a bitmap, as it always was. The picture's profile, tags, alpha
  // and depth go along where the format holds them.
  kestrune::WriteOptions options;
  options.format = kestrune::FormatFromExtension(QFile::encodeName(path).toStdString());
  if (!kestrune::CanWrite(options.format)) options.format = kestrune::FileFormat::kBmp;
  try {
    if (!kestrune::WriteImage(ShownImage(), QFile::encodeName(path).toStdString(), options)) return;
  } catch (const std::bad_alloc&) {
  }
  ShowMessageBox(this, QStringLiteral("Error saving image file!"), QMessageBox::Warning, QStringLiteral("Error"));
}

kestrune::Image CKestruneDlg::ShownImage() const {
  return upscaleRunning_ ? displayBitmap.ToImage() : currentImage;
}

void CKestruneDlg::OnEditCopy() {
  try {
    if (upscaleRunning_) {
      CopyToClipboard(displayBitmap);
    } else {
      displayBitmap.FromImage(currentImage.View());
      CopyToClipboard(displayBitmap, currentImage.Plane(kestrune::kAlpha));
      picture_->update();  // the display bitmap is the screen's again at the next paint
    }
  } catch (const std::bad_alloc&) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
  }
}

void CKestruneDlg::OnEditPaste() {
  if (RefuseWhileRunning()) return;
  try {
    PasteOutcome pasted = PasteFromClipboard();
    if (pasted.image.IsEmpty()) {
      ShowMessageBox(this, pasted.message, QMessageBox::Information);
      return;
    }
    currentImage = std::move(pasted.image);
    FitWindowToImage();
    loadedImage = currentImage;
  } catch (const std::bad_alloc&) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
  }
}

void CKestruneDlg::OnEditUndoAll() {
  if (RefuseWhileRunning()) return;
  try {
    currentImage = loadedImage;
  } catch (const std::bad_alloc&) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
  }
  FitWindowToImage();
}

void CKestruneDlg::OnHelpAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CKestruneDlg::OnProcessUpscale() {
  if (RefuseWhileRunning()) return;
  if (currentImage.IsEmpty()) {
    ShowMessageBox(this, QString::fromLatin1(kNoImageMessage), QMessageBox::Warning);
    return;
  }
  const uint32_t width = currentImage.Width(), height = currentImage.Height();
  const QString sourceRefusal = UpscaleSourceRefusal(width, height);
  if (!sourceRefusal.isEmpty()) {
    ShowMessageBox(this, sourceRefusal, QMessageBox::Warning);
    return;
  }

  CSRSettingsDlg settings(this);
  settings.newWidth = width;
  settings.newHeight = height;
  if (settings.exec() != QDialog::Accepted) return;

  kestrune::UpscaleOptions options;
  options.initialMethod = settings.initialMethod == CSRSettingsDlg::kLoadFromFile
                              ? kestrune::InitialMethod::kNedi  // until an image is loaded
                              : static_cast<kestrune::InitialMethod>(settings.initialMethod);
  options.iterations = static_cast<uint32_t>(settings.iterations);
  options.fractalSubstitutions = static_cast<uint32_t>(settings.fractalSubsts);
  options.edgeDirIterations = settings.edgeDirIterations;
  options.strength = settings.beta;
  options.sideLobe = settings.sideLobe;
  options.regularization = settings.regularization;
  options.variableRegularization = settings.variableRegularization;
  options.width = settings.newWidth;
  options.height = settings.newHeight;
  const QString refusal = UpscaleSettingsRefusal(width, height, options);
  if (!refusal.isEmpty()) {
    ShowMessageBox(this, refusal, QMessageBox::Warning);
    return;
  }

  try {
    kestrune::Image initialImage;
    if (settings.initialMethod == CSRSettingsDlg::kLoadFromFile) {
      // Without a file chosen the run starts with NEDI.
      const QString path = ChooseFileToOpen(this);
      if (!path.isEmpty()) {
        kestrune::FileFormat format = kestrune::FileFormat::kUnknown;
        kestrune::Result<kestrune::Image> read = kestrune::ReadImage(QFile::encodeName(path).toStdString(), {}, &format);
        if (!read.ok()) {
          ShowReadProblem(this, path, read, format);
          return;
        }
        if (read.value().Width() != 2 * width || read.value().Height() != 2 * height) {
          ShowMessageBox(this, QStringLiteral("Image dimensions do not match!"), QMessageBox::Warning);
          return;
        }
        initialImage = std::move(read).value();
      }
    }
    JoinWorker();
    initialImage_ = std::move(initialImage);
    if (!initialImage_.IsEmpty()) {
      options.initialMethod = kestrune::InitialMethod::kFromImage;
      options.initialImage = &initialImage_;
    }
    // The picture of the run: the source's bytes make the blocky preview
    // while the initial enlargement works.
    sourcePreview_.FromImage(currentImage.View());
    displayBitmap.Allocate(2 * width, 2 * height);
    std::memset(displayBitmap.bits(), 0, std::size_t{displayBitmap.stride} * displayBitmap.height);
  } catch (const std::bad_alloc&) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
    return;
  }

  upscaleResult_.reset();
  progressDialog.Start(QStringLiteral("Initializing Kestrune..."), this, true, &cancelRequested_, 0);
  upscaleRunning_ = true;
  FitWindowToImage();
  // currentImage stays as it is during the run: every command that would
  // change it is refused until the result is in.
  worker_ = std::thread([this, options] {
    UpscaleReports reports(this, cancelRequested_);
    upscaleResult_.emplace(kestrune::Upscale(currentImage, options, &reports));
    QMetaObject::invokeMethod(this, [this] { FinishUpscale(); }, Qt::QueuedConnection);
  });
}

void CKestruneDlg::OnUpscaleReport(const kestrune::ProgressReport& report) {
  // The window shows the x2 estimate until the result is in.
  if (report.stage == kestrune::Stage::kFinalScaling) return;
  const kestrune::ImageView& estimate = report.estimate;
  if (!displayBitmap.IsEmpty() && estimate.width == displayBitmap.width && estimate.height == displayBitmap.height) {
    // Rows the initial enlargement has not reached (all of them before it
    // starts) show the source blocky, under a red dashed line (8 on, 24 off)
    // while NEDI works; the estimate's other rows are not written yet.
    const uint32_t rows = std::min(report.rowsDone, estimate.height);
    kestrune::ImageView done = estimate;
    done.height = rows;
    kestrune::ExportBytes(done, kestrune::PixelOrder::kBgr, displayBitmap.rows()[0], -std::ptrdiff_t{displayBitmap.stride});
    for (uint32_t y = rows; y < estimate.height; ++y) {
      const uint8_t* in = sourcePreview_.rows()[y / 2];
      uint8_t* out = displayBitmap.rows()[y];
      for (uint32_t x = 0; x < estimate.width; ++x) std::memcpy(out + 3 * x, in + 3 * (x / 2), 3);
    }
    if (rows > 0 && rows < estimate.height) {
      uint8_t* marker = displayBitmap.rows()[rows];
      for (uint32_t x = 0; x < estimate.width; ++x)
        if ((x & 24) == 0) marker[3 * x] = 0, marker[3 * x + 1] = 0, marker[3 * x + 2] = 255;
    }
  }
  picture_->repaint();
  progressDialog.SetProgress(report.percent);
  progressDialog.SetStatusText(UpscaleStatusText(report));
}

void CKestruneDlg::FinishUpscale() {
  JoinWorker();
  kestrune::Result<kestrune::Image> result = std::move(*upscaleResult_);
  upscaleResult_.reset();
  initialImage_ = kestrune::Image();
  sourcePreview_.Release();
  progressDialog.Finish();
  upscaleRunning_ = false;
  // A stopped run still hands back its estimate, resized like a finished one.
  if (result.has_value())
    currentImage = std::move(result).value();
  else if (result.error().code == kestrune::ErrorCode::kOutOfMemory)
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
  else
    ShowMessageBox(this, QString::fromStdString(result.error().message), QMessageBox::Warning);
  FitWindowToImage();
  if (closeWhenFinished_) close();
}

void CKestruneDlg::JoinWorker() {
  if (worker_.joinable()) worker_.join();
}

void CKestruneDlg::OnProcessDownscale() {
  if (RefuseWhileRunning()) return;
  if (currentImage.IsEmpty()) {
    ShowMessageBox(this, QString::fromLatin1(kNoImageMessage), QMessageBox::Warning);
    return;
  }
  CDownSettingsDlg settings(this);
  settings.newWidth = currentImage.Width();
  settings.newHeight = currentImage.Height();
  if (settings.exec() != QDialog::Accepted) return;

  kestrune::DownscaleOptions options;
  options.filter = static_cast<kestrune::Filter>(settings.filterType);
  options.width = settings.newWidth;
  options.height = settings.newHeight;
  options.smoothness = settings.smoothness;
  options.trials = settings.trials;
  options.scaleDeviation = settings.scaleDeviation;
  if (!kestrune::ImageSizeAllowed(options.width, options.height)) {
    ShowMessageBox(this, QString::fromLatin1(kTooLargeMessage), QMessageBox::Warning);
    return;
  }
  progressDialog.Start(QStringLiteral("Searching for hints..."), this, false, nullptr, 0);
  DownscaleReports reports(progressDialog);
  kestrune::Result<kestrune::Image> result = kestrune::Downscale(currentImage, options, &reports);
  progressDialog.Finish();
  if (result.ok()) {
    currentImage = std::move(result).value();
    FitWindowToImage();
  } else if (result.error().code == kestrune::ErrorCode::kOutOfMemory) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
  }
}

void CKestruneDlg::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  if (ctrl) {
    if (key == Qt::Key_Insert || key == Qt::Key_C) OnEditCopy();
    else if (key == Qt::Key_O) OnFileOpen();
    else if (key == Qt::Key_S) OnFileSaveAs();
    else if (key == Qt::Key_V) OnEditPaste();
    else if (key == Qt::Key_Z) OnEditUndoAll();
  }
  if (shift && key == Qt::Key_Insert) OnEditPaste();
  // Enter and Esc end the program, as in any dialog.
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void CKestruneDlg::closeEvent(QCloseEvent* event) {
  if (upscaleRunning_) {
    // Stop the run first; the window closes once its final report is in.
    closeWhenFinished_ = true;
    progressDialog.OnCancel();
    event->ignore();
    return;
  }
  JoinWorker();
  QMainWindow::closeEvent(event);
}

void CKestruneDlg::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.size() == 1 && urls.first().isLocalFile()) event->acceptProposedAction();
}

void CKestruneDlg::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.size() != 1 || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  const QString path = urls.first().toLocalFile();
  // Open after the drop has ended, so that a message box does not hold it.
  QTimer::singleShot(0, this, [this, path] { LoadImageFile(path); });
}
