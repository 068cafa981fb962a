// The main window: menus and keys, the picture and its zoom, the status bar,
// the commands, and the upscaling worker's reports and completion.
#include "app/kestrune_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

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
#include "app/picture_view.h"
#include "app/sr_settings_dlg.h"
#include "app/upscale_guard.h"
#include "app/upscale_worker.h"

const char kBusyMessage[] = "Not possible while Kestrune interpolation is running.";

namespace {
const char kNoImageMessage[] = "No image file opened yet.";
const char kOutOfMemoryMessage[] = "Not enough memory for this image.";
const char kTooLargeMessage[] = "The requested size is too large.";

const char kNoSourceMessage[] = "No enlargement to compare with.";

// The zooms that zooming in and out step through.
constexpr double kZoomSteps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3, 1.0, 1.5,
                                 2.0,      3.0,      4.0,     6.0,     8.0,     12.0,    16.0,    24.0,    32.0};

// The next zoom step beyond `zoom`, `steps` times (negative: out), within the steps.
double StepZoom(double zoom, int steps) {
  for (; steps > 0; --steps) {
    const double* next = std::find_if(std::begin(kZoomSteps), std::end(kZoomSteps),
                                      [zoom](double step) { return step > zoom * 1.0001; });
    if (next != std::end(kZoomSteps)) zoom = *next;
  }
  for (; steps < 0; ++steps) {
    const auto below = std::find_if(std::rbegin(kZoomSteps), std::rend(kZoomSteps),
                                    [zoom](double step) { return step < zoom * 0.9999; });
    if (below != std::rend(kZoomSteps)) zoom = *below;
  }
  return zoom;
}

QString ZoomText(double zoom) {
  const double percent = zoom * 100.0;
  return (percent >= 10.0 ? QString::number(std::lround(percent)) : QString::number(percent, 'f', 1)) +
         QStringLiteral(" %");
}

// "RGB, 8 bits per channel", "grey + alpha, 16 bits per channel", "RGB, 24
// bits per pixel" (a bitmap file's own depth).
QString DepthText(const kestrune::Image& image) {
  const kestrune::ImageMetadata& metadata = image.Metadata();
  QString text = metadata.greyscale ? QStringLiteral("grey") : QStringLiteral("RGB");
  if (image.HasAlpha()) text += metadata.greyscale ? QStringLiteral(" + alpha") : QStringLiteral("A");
  if (const uint32_t bits = image.SourceBitDepth()) return text + QStringLiteral(", %1 bits per pixel").arg(bits);
  switch (metadata.depth) {
    case kestrune::SampleDepth::k8: return text + QStringLiteral(", 8 bits per channel");
    case kestrune::SampleDepth::k16: return text + QStringLiteral(", 16 bits per channel");
    case kestrune::SampleDepth::k32Float: return text + QStringLiteral(", 32-bit float");
    default: return text;
  }
}

// A sample as its file stored it: 0..65535 for 16 bits, 0..1 for floats,
// else the byte shown.
QString SampleText(float sample, kestrune::SampleDepth depth) {
  switch (depth) {
    case kestrune::SampleDepth::k16: return QString::number(std::lround(std::clamp(sample, 0.0f, 255.0f) * 257.0f));
    case kestrune::SampleDepth::k32Float: return QString::number(sample / 255.0f, 'f', 3);
    default: return QString::number(kestrune::SampleToByte(sample));
  }
}

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
  // A large picture is enlarged tile by tile: the tile leads the line.
  if (report.tiles > 0) {
    kestrune::ProgressReport tile = report;
    tile.tiles = 0;
    return QString::asprintf("Tile %u of %u: ", report.tile + 1, report.tiles) + UpscaleStatusText(tile);
  }
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
  view_ = new PictureView(this);
  setCentralWidget(view_);
  connect(view_, &PictureView::viewChanged, this, &CKestruneDlg::UpdateStatus);
  connect(view_, &PictureView::zoomRequested, this,
          [this](int steps, QPoint anchor) { ZoomAbout(StepZoom(view_->Zoom(), steps), anchor); });
  pixelLabel_ = new QLabel(this);
  sizeLabel_ = new QLabel(this);
  zoomLabel_ = new QLabel(this);
  pixelLabel_->setObjectName(QStringLiteral("pixel"));
  sizeLabel_->setObjectName(QStringLiteral("size"));
  zoomLabel_->setObjectName(QStringLiteral("zoom"));
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(pixelLabel_, 1);
  statusBar()->addPermanentWidget(sizeLabel_);
  statusBar()->addPermanentWidget(zoomLabel_);
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
  worker_.Join();
}

void CKestruneDlg::BuildMenus() {
  auto add = [this](QMenu* menu, const QString& text, int id, void (CKestruneDlg::*slot)()) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setObjectName(QString::number(id));
    if (slot) connect(action, &QAction::triggered, this, slot);
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
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  add(view, QStringLiteral("&Fit to window\tCtrl+0"), ID_VIEW_FIT, &CKestruneDlg::OnViewFit);
  connect(add(view, QStringLiteral("&Actual pixels (100 %)\tCtrl+1"), ID_VIEW_ACTUAL_SIZE, nullptr),
          &QAction::triggered, this, [this] { OnViewZoom(1.0); });
  connect(add(view, QStringLiteral("&200 %\tCtrl+2"), ID_VIEW_DOUBLE_SIZE, nullptr), &QAction::triggered, this,
          [this] { OnViewZoom(2.0); });
  add(view, QStringLiteral("Zoom &in\tCtrl++"), ID_VIEW_ZOOM_IN, &CKestruneDlg::OnViewZoomIn);
  add(view, QStringLiteral("Zoom &out\tCtrl+-"), ID_VIEW_ZOOM_OUT, &CKestruneDlg::OnViewZoomOut);
  view->addSeparator();
  add(view, QStringLiteral("Compare with &source\tHold Space"), ID_VIEW_SOURCE, &CKestruneDlg::OnViewSource)
      ->setCheckable(true);
  add(view, QStringLiteral("S&plit view\tCtrl+D"), ID_VIEW_SPLIT, &CKestruneDlg::OnViewSplit)->setCheckable(true);
  QMenu* process = menuBar()->addMenu(QStringLiteral("&Process"));
  add(process, QStringLiteral("&Kestrune interpolation..."), ID_PROCESS_UPSCALE, &CKestruneDlg::OnProcessUpscale);
  add(process, QStringLiteral("&Downscale with hinting..."), ID_PROCESS_DOWNSCALE, &CKestruneDlg::OnProcessDownscale);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  add(help, QStringLiteral("&About..."), ID_APP_ABOUT, &CKestruneDlg::OnHelpAbout);
}

QAction* CKestruneDlg::Command(int id) const { return findChild<QAction*>(QString::number(id)); }

bool CKestruneDlg::RefuseWhileRunning() {
  if (!upscaleRunning_) return false;
  ShowMessageBox(this, QString::fromLatin1(kBusyMessage), QMessageBox::Information);
  return true;
}

QWidget* CKestruneDlg::PictureWidget() const { return view_->viewport(); }

void CKestruneDlg::FitWindowToImage() {
  RefreshPicture();
  FitWindow();
}

void CKestruneDlg::RefreshPicture() {
  // During a run the window shows the estimate, made at each report.
  QImage shown;
  if (upscaleRunning_) {
    shown = DibToScreenImage(displayBitmap);
  } else if (!currentImage.IsEmpty()) {
    try {
      displayBitmap.ForDisplay(currentImage.View());
      shown = DibToScreenImage(displayBitmap);
    } catch (const std::bad_alloc&) {
      displayBitmap.Release();  // nothing shown
    }
  }
  view_->SetPicture(shown);
  view_->SetSource(QImage());  // made again for the new picture when asked for
}

void CKestruneDlg::FitWindow() {
  const qreal ratio = devicePixelRatioF();
  const QSize frame = frameGeometry().size() - geometry().size();
  const int menuHeight = menuBar()->isVisible() ? menuBar()->height() : menuBar()->sizeHint().height();
  const int statusHeight = statusBar()->isVisible() ? statusBar()->height() : statusBar()->sizeHint().height();
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 20, 1 << 20);
  // The largest picture area the screen leaves room for.
  const QSize most(available.width() - frame.width(), available.height() - frame.height() - menuHeight - statusHeight);
  const QPoint centre = view_->viewport()->rect().center();
  const QSize picture = view_->PictureSize();
  if (fitZoom_ && !picture.isEmpty())
    view_->SetZoom(std::min({1.0, most.width() * ratio / picture.width(), most.height() * ratio / picture.height()}),
                   centre);
  const QSize content = view_->ContentSize();
  const int width = content.isEmpty() ? 0 : LogicalSize(content.width(), ratio);
  const int height = content.isEmpty() ? 0 : LogicalSize(content.height(), ratio);
  // A side longer than the room scrolls, and its scroll bar takes room from
  // the other side.
  const int barWidth = view_->verticalScrollBar()->sizeHint().width();
  const int barHeight = view_->horizontalScrollBar()->sizeHint().height();
  bool across = false, down = false;
  for (int pass = 0; pass < 2; ++pass) {
    across = width + (down ? barWidth : 0) > most.width();
    down = height + (across ? barHeight : 0) > most.height();
  }
  const int areaWidth = std::min(width + (down ? barWidth : 0), most.width());
  const int areaHeight = std::min(height + (across ? barHeight : 0), most.height());
  // The status bar adds its height to the outer size, so that the picture
  // area stays the picture's size.
  int outerWidth = areaWidth + frame.width();
  int outerHeight = areaHeight + menuHeight + statusHeight + frame.height();
  if (outerWidth < 201) outerWidth = 200;
  if (outerHeight < 101) outerHeight = 100;
  setFixedSize(outerWidth - frame.width(), outerHeight - frame.height());
  // The top-left corner stays, unless the window would then leave the room.
  const QPoint corner = frameGeometry().topLeft();
  const QPoint kept(std::max(available.left(), std::min(corner.x(), available.right() + 1 - outerWidth)),
                    std::max(available.top(), std::min(corner.y(), available.bottom() + 1 - outerHeight)));
  if (kept != corner) move(kept);
  view_->viewport()->update();
  UpdateStatus();
}

void CKestruneDlg::ZoomAbout(double zoom, QPoint anchor) {
  fitZoom_ = false;
  view_->SetZoom(zoom, anchor);
  FitWindow();
}

void CKestruneDlg::OnViewFit() {
  fitZoom_ = true;
  FitWindow();
}

void CKestruneDlg::OnViewZoom(double zoom) { ZoomAbout(zoom, view_->viewport()->rect().center()); }

void CKestruneDlg::OnViewZoomIn() { OnViewZoom(StepZoom(view_->Zoom(), 1)); }

void CKestruneDlg::OnViewZoomOut() { OnViewZoom(StepZoom(view_->Zoom(), -1)); }

bool CKestruneDlg::PrepareSource() {
  if (view_->HasSource()) return true;
  if (beforeImage_.IsEmpty() || upscaleRunning_ || view_->PictureSize().isEmpty()) return false;
  try {
    DibImage source;
    source.ForDisplay(beforeImage_.View());
    view_->SetSource(RepeatPixels(DibToScreenImage(source), view_->PictureSize()));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return view_->HasSource();
}

void CKestruneDlg::ForgetSource() {
  beforeImage_ = kestrune::Image();
  view_->SetSource(QImage());
}

void CKestruneDlg::ShowSource(bool show) {
  if (show && !PrepareSource()) {
    statusBar()->showMessage(QString::fromLatin1(kNoSourceMessage), 4000);
    show = false;
  }
  view_->ShowSource(show);
}

void CKestruneDlg::OnViewSource() { ShowSource(!view_->SourceShown()); }

void CKestruneDlg::OnViewSplit() {
  if (!view_->Split() && !PrepareSource()) {
    statusBar()->showMessage(QString::fromLatin1(kNoSourceMessage), 4000);
    UpdateStatus();
    return;
  }
  view_->SetSplit(!view_->Split());
}

void CKestruneDlg::UpdateStatus() {
  const QSize picture = view_->PictureSize();
  if (picture.isEmpty()) {
    sizeLabel_->clear();
    zoomLabel_->clear();
  } else {
    sizeLabel_->setText(QStringLiteral("%1 \u00d7 %2, ").arg(picture.width()).arg(picture.height()) +
                        DepthText(currentImage));
    zoomLabel_->setText(ZoomText(view_->Zoom()) + (fitZoom_ ? QStringLiteral(" (fit)") : QString()));
  }
  pixelLabel_->setText(PixelText());
  Command(ID_VIEW_SOURCE)->setChecked(view_->SourceShown());
  Command(ID_VIEW_SPLIT)->setChecked(view_->Split());
}

QString CKestruneDlg::PixelText() const {
  if (!view_->PointerInside()) return QString();
  const QPoint pointer = view_->Pointer();
  QPoint pixel = view_->PixelAt(pointer);
  if (pixel.x() < 0) return QString();
  QString place = QStringLiteral("x %1, y %2: ").arg(pixel.x()).arg(pixel.y());
  if (upscaleRunning_) {
    // The estimate as shown, in bytes.
    if (displayBitmap.IsEmpty() || pixel.x() >= static_cast<int>(displayBitmap.width) ||
        pixel.y() >= static_cast<int>(displayBitmap.height))
      return QString();
    const uint8_t* bgr = displayBitmap.rows()[pixel.y()] + 3 * pixel.x();
    return place + QStringLiteral("R %1  G %2  B %3").arg(bgr[2]).arg(bgr[1]).arg(bgr[0]);
  }
  const bool source = view_->SourceAt(pointer);
  const kestrune::Image& image = source ? beforeImage_ : currentImage;
  if (source) {
    // The source pixel repeated at this place.
    const QSize shown = view_->PictureSize();
    pixel = QPoint(NearestIndex(pixel.x(), shown.width(), static_cast<int>(image.Width())),
                   NearestIndex(pixel.y(), shown.height(), static_cast<int>(image.Height())));
    place = QStringLiteral("Source x %1, y %2: ").arg(pixel.x()).arg(pixel.y());
  }
  if (image.IsEmpty() || pixel.x() >= static_cast<int>(image.Width()) || pixel.y() >= static_cast<int>(image.Height()))
    return QString();
  const kestrune::SampleDepth depth = image.Metadata().depth;
  auto sample = [&](int channel) {
    return SampleText(image.Row(channel, static_cast<uint32_t>(pixel.y()))[pixel.x()], depth);
  };
  QString text = image.Metadata().greyscale
                     ? place + QStringLiteral("grey %1").arg(sample(kestrune::kRed))
                     : place + QStringLiteral("R %1  G %2  B %3")
                                   .arg(sample(kestrune::kRed), sample(kestrune::kGreen), sample(kestrune::kBlue));
  if (image.HasAlpha()) text += QStringLiteral("  A %1").arg(sample(kestrune::kAlpha));
  return text;
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
    ForgetSource();
    view_->ScrollToTopLeft();
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

kestrune::Image CKestruneDlg::ShownImage() const { return upscaleRunning_ ? displayBitmap.ToImage() : currentImage; }

void CKestruneDlg::OnEditCopy() {
  try {
    if (upscaleRunning_) {
      CopyToClipboard(displayBitmap);
    } else {
      displayBitmap.FromImage(currentImage.View());
      CopyToClipboard(displayBitmap, std::as_const(currentImage).Plane(kestrune::kAlpha));
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
    ForgetSource();
    view_->ScrollToTopLeft();
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
  ForgetSource();
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
  settings.jpegSource = currentImage.HasJpegCoefficients();
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
  options.jpegModel = settings.jpegModel;
  options.sourceModel = static_cast<kestrune::SourceModel>(settings.sourceModel);
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
        kestrune::Result<kestrune::Image> read =
            kestrune::ReadImage(QFile::encodeName(path).toStdString(), {}, &format);
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
    worker_.Join();
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

  ForgetSource();
  progressDialog.Start(QStringLiteral("Initializing Kestrune..."), this, true, &cancelRequested_, 0);
  upscaleRunning_ = true;
  FitWindowToImage();
  // currentImage stays as it is during the run: every command that would
  // change it is refused until the result is in.
  worker_.Start(
      this, currentImage, options, cancelRequested_,
      [this](const kestrune::ProgressReport& report) { OnUpscaleReport(report); }, [this] { FinishUpscale(); });
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
    kestrune::ExportBytes(done, kestrune::PixelOrder::kBgr, displayBitmap.rows()[0],
                          -std::ptrdiff_t{displayBitmap.stride});
    // In tiles, the tiles done in the row of tiles in hand show too.
    const uint32_t bandEnd = std::min(rows + report.bandRows, estimate.height);
    const uint32_t columns = std::min(report.bandColumnsDone, estimate.width);
    for (uint32_t y = rows; columns > 0 && y < bandEnd; ++y) {
      kestrune::ImageView part;
      part.width = columns;
      part.height = 1;
      for (int c = 0; c < 3; ++c) part.planes[c] = estimate.Row(c, y);
      kestrune::ExportBytes(part, kestrune::PixelOrder::kBgr, displayBitmap.rows()[y], 0);
    }
    for (uint32_t y = rows; y < estimate.height; ++y) {
      const uint8_t* in = sourcePreview_.rows()[y / 2];
      uint8_t* out = displayBitmap.rows()[y];
      for (uint32_t x = y < bandEnd ? columns : 0; x < estimate.width; ++x)
        std::memcpy(out + 3 * x, in + 3 * (x / 2), 3);
    }
    if (rows > 0 && rows < estimate.height) {
      uint8_t* marker = displayBitmap.rows()[rows];
      for (uint32_t x = 0; x < estimate.width; ++x)
        if ((x & 24) == 0) marker[3 * x] = 0, marker[3 * x + 1] = 0, marker[3 * x + 2] = 255;
    }
  }
  // The picture is made again at each report, at whatever zoom.
  view_->SetPicture(DibToScreenImage(displayBitmap));
  view_->viewport()->repaint();
  progressDialog.SetProgress(report.percent);
  progressDialog.SetStatusText(UpscaleStatusText(report));
}

void CKestruneDlg::FinishUpscale() {
  kestrune::Result<kestrune::Image> result = worker_.TakeResult();
  initialImage_ = kestrune::Image();
  sourcePreview_.Release();
  progressDialog.Finish();
  upscaleRunning_ = false;
  // A stopped run still hands back its estimate, resized like a finished
  // one. The source is kept for the comparison.
  if (result.has_value()) {
    beforeImage_ = std::move(currentImage);
    currentImage = std::move(result).value();
  } else if (result.error().code == kestrune::ErrorCode::kOutOfMemory) {
    ShowMessageBox(this, QString::fromLatin1(kOutOfMemoryMessage), QMessageBox::Warning);
  } else {
    ShowMessageBox(this, QString::fromStdString(result.error().message), QMessageBox::Warning);
  }
  FitWindowToImage();
  if (closeWhenFinished_) close();
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
    ForgetSource();
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
    if (key == Qt::Key_Insert || key == Qt::Key_C)
      OnEditCopy();
    else if (key == Qt::Key_O)
      OnFileOpen();
    else if (key == Qt::Key_S)
      OnFileSaveAs();
    else if (key == Qt::Key_V)
      OnEditPaste();
    else if (key == Qt::Key_Z)
      OnEditUndoAll();
    else if (key == Qt::Key_0)
      OnViewFit();
    else if (key == Qt::Key_1)
      OnViewZoom(1.0);
    else if (key == Qt::Key_2)
      OnViewZoom(2.0);
    else if (key == Qt::Key_Plus || key == Qt::Key_Equal)
      OnViewZoomIn();
    else if (key == Qt::Key_Minus)
      OnViewZoomOut();
    else if (key == Qt::Key_D)
      OnViewSplit();
  }
  if (shift && key == Qt::Key_Insert) OnEditPaste();
  // The source shows while Space is held (its repeats change nothing).
  if (key == Qt::Key_Space) {
    if (!event->isAutoRepeat()) ShowSource(true);
    return;
  }
  // Enter and Esc end the program, as in any dialog.
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void CKestruneDlg::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    ShowSource(false);
    return;
  }
  QMainWindow::keyReleaseEvent(event);
}

void CKestruneDlg::changeEvent(QEvent* event) {
  // A window left with Space held would not see the key's release.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow() && view_ && view_->SourceShown())
    ShowSource(false);
  QMainWindow::changeEvent(event);
}

void CKestruneDlg::closeEvent(QCloseEvent* event) {
  if (upscaleRunning_) {
    // Stop the run first; the window closes once its final report is in.
    closeWhenFinished_ = true;
    progressDialog.OnCancel();
    event->ignore();
    return;
  }
  worker_.Join();
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
