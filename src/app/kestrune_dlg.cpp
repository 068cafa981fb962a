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

#include <cmath>
#include <new>

#include "app/about_dlg.h"
#include "app/clipboard.h"
#include "app/dib_draw.h"
#include "app/down_settings_dlg.h"
#include "app/field_exchange.h"
#include "app/file_dialogs.h"
#include "app/message_box.h"
#include "app/sr_settings_dlg.h"
#include "app/upscale_guard.h"
#include "downscale/hint_search.h"
#include "image/image_readers.h"
#include "image/image_writers.h"
#include "resampling/linear_resampler.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

const char kBusyMessage[] = "Not possible while Kestrune interpolation is running.";

namespace {
const char kNoImageMessage[] = "No image file opened yet.";
const char kOutOfMemoryMessage[] = "Not enough memory for this image.";
const char kTooLargeMessage[] = "The requested size is too large.";

// Tells why `path` could not be read, or that it was read damaged. A JPEG
// file's problems appear in the JPEG library's box, with its messages.
void ShowReadProblem(QWidget* parent, const QString& path, const ReadStatus& status) {
  QString text =
      (status.ok() ? QStringLiteral("The image file is damaged: ") : QStringLiteral("Error loading image: ")) + path +
      QLatin1Char('\n') + QString::fromStdString(status.message);
  if (status.ok()) text += QStringLiteral("\nShowing what could be read.");
  if (status.format != ImageFormat::kJpeg) {
    ShowMessageBox(parent, text, QMessageBox::Warning);
    return;
  }
  for (const std::string& message : status.warnings) text += QLatin1Char('\n') + QString::fromStdString(message);
  ShowMessageBox(parent, text, QMessageBox::Critical, QStringLiteral("JPEG Library Error"));
}

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
  if (upscaleRunning_ && job_) {
    job_->cancelRequested = true;
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
  int outerWidth = LogicalSize(currentImage.width, ratio) + frame.width();
  int outerHeight = LogicalSize(currentImage.height, ratio) + menuHeight + frame.height();
  if (outerWidth < 201) outerWidth = 200;
  if (outerHeight < 101) outerHeight = 100;
  setFixedSize(outerWidth - frame.width(), outerHeight - frame.height());
  picture_->update();
}

void CKestruneDlg::PaintPicture(QPainter& painter) {
  if (currentImage.IsEmpty()) return;
  try {
    displayBitmap.FromFloatImage(currentImage);
    Draw(displayBitmap, painter, 0, 0);
  } catch (const std::bad_alloc&) {
    displayBitmap.Release();  // nothing drawn; the next paint tries again
  }
}

bool CKestruneDlg::LoadImageFile(const QString& path) {
  if (RefuseWhileRunning()) return false;
  try {
    // Read into a new image, so that a failed read leaves the picture as it was.
    // A damaged file shows what could be read, with a message saying so.
    FloatImage image;
    const ReadStatus status =
        ReadImageFile(QFile::encodeName(path).toStdString(), image, DamagePolicy::kKeepReadable);
    if (!status.ok() || image.IsEmpty()) {
      ShowReadProblem(this, path, status);
      return false;
    }
    currentImage = std::move(image);
    FitWindowToImage();
    recentFiles.Add(path);
    filePath = path;
    const int slash = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    fileName = path.mid(slash + 1);
    loadedImage = currentImage;
    if (status.damaged) ShowReadProblem(this, path, status);
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
  const std::string name = QFile::encodeName(path).toStdString();
  const bool png = path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
  const int result = png ? WritePng(name, currentImage) : WriteBmp(name, currentImage);
  if (result != kWriteOk)
    ShowMessageBox(this, QStringLiteral("Error saving image file!"), QMessageBox::Warning, QStringLiteral("Error"));
}

void CKestruneDlg::OnEditCopy() {
  try {
    CopyToClipboard(*this);
  } catch (const std::bad_alloc&) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
  }
}

void CKestruneDlg::OnEditPaste() {
  if (RefuseWhileRunning()) return;
  try {
    PasteFromClipboard(*this);
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
  const uint32_t width = currentImage.width, height = currentImage.height;
  const QString sourceRefusal = UpscaleSourceRefusal(width, height);
  if (!sourceRefusal.isEmpty()) {
    ShowMessageBox(this, sourceRefusal, QMessageBox::Warning);
    return;
  }

  CSRSettingsDlg settings(this);
  settings.newWidth = width;
  settings.newHeight = height;
  if (settings.exec() != QDialog::Accepted) return;

  SRParams params;
  params.initialMethod = settings.initialMethod;
  params.iterations = static_cast<uint32_t>(settings.iterations);
  params.fractalSubsts = static_cast<uint32_t>(settings.fractalSubsts);
  params.edgeDirIterations = settings.edgeDirIterations;
  params.beta = settings.beta;
  params.sideLobe = settings.sideLobe;
  params.regularization = settings.regularization;
  params.variableRegularization = settings.variableRegularization;
  const QString refusal = UpscaleSettingsRefusal(width, height, settings.newWidth, settings.newHeight, params);
  if (!refusal.isEmpty()) {
    ShowMessageBox(this, refusal, QMessageBox::Warning);
    return;
  }

  try {
    FloatImage outputImage(2 * width, 2 * height);
    FloatImage initialImage;
    if (settings.initialMethod == CSRSettingsDlg::kLoadFromFile) {
      const QString path = ChooseFileToOpen(this);
      if (!path.isEmpty()) {
        const ReadStatus status = ReadImageFile(QFile::encodeName(path).toStdString(), initialImage);
        if (!status.ok()) {
          ShowReadProblem(this, path, status);
          return;
        }
        if (initialImage.IsEmpty() || initialImage.width != outputImage.width ||
            initialImage.height != outputImage.height) {
          ShowMessageBox(this, QStringLiteral("Image dimensions do not match!"), QMessageBox::Warning);
          return;
        }
      }
    }

    JoinWorker();
    auto job = std::make_unique<UpscaleJob>();
    job->srcWidth = width;
    job->srcHeight = height;
    job->newWidth = settings.newWidth;
    job->newHeight = settings.newHeight;
    job->source = currentImage;
    job->initialImage = std::move(initialImage);
    job->params = params;
    currentImage = std::move(outputImage);
    FitWindowToImage();
    for (int c = 0; c < 3; ++c) job->output[c] = currentImage.samples(c);
    // The worker waits in each report until the window has handled it.
    job->notify = [this](UpscaleJob& reported) {
      QMetaObject::invokeMethod(
          this, [this, &reported] { OnUpscaleNotify(reported); }, Qt::BlockingQueuedConnection);
    };
    job_ = std::move(job);
  } catch (const std::bad_alloc&) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
    return;
  }

  progressDialog.Start(QStringLiteral("Initializing Kestrune..."), this, true, &job_->cancelRequested, 0);
  upscaleRunning_ = true;
  UpscaleJob* running = job_.get();
  worker_ = std::thread([running] { UpscaleThreadProc(running); });
}

void CKestruneDlg::OnUpscaleNotify(UpscaleJob& job) {
  picture_->repaint();
  if (job.finished) {
    FinishUpscale(job);
    return;
  }
  progressDialog.SetProgress(job.progress);
  progressDialog.SetStatusText(job.statusText);
}

void CKestruneDlg::FinishUpscale(UpscaleJob& job) {
  if (job.newWidth != 2 * job.srcWidth || job.newHeight != 2 * job.srcHeight) {
    try {
      FloatImage resized(job.newWidth, job.newHeight);
      for (int c = 0; c < 3; ++c)
        ResizePlane(job.output[c], 2 * job.srcWidth, 2 * job.srcHeight, resized.samples(c), job.newWidth,
                    job.newHeight, FilterCatmullRom, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
      currentImage = std::move(resized);
      FitWindowToImage();
    } catch (const std::bad_alloc&) {
      ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
    }
  }
  progressDialog.Finish();
  upscaleRunning_ = false;
  picture_->update();
  // The worker returns right after this report; collect it, then close if
  // the user asked to while the run was going.
  QTimer::singleShot(0, this, [this] {
    JoinWorker();
    if (closeWhenFinished_) close();
  });
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
  settings.newWidth = currentImage.width;
  settings.newHeight = currentImage.height;
  if (settings.exec() != QDialog::Accepted) return;

  DownscaleParams params;
  params.filterType = settings.filterType;
  params.newWidth = settings.newWidth;
  params.newHeight = settings.newHeight;
  params.smoothness = settings.smoothness;
  params.trials = settings.trials;
  params.scaleDeviation = settings.scaleDeviation;
  if (!ImageSizeAllowed(params.newWidth, params.newHeight)) {
    ShowMessageBox(this, QString::fromLatin1(kTooLargeMessage), QMessageBox::Warning);
    return;
  }
  try {
    if (HintSearch(currentImage, params, progressDialog)) FitWindowToImage();
  } catch (const std::bad_alloc&) {
    progressDialog.Finish();
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
