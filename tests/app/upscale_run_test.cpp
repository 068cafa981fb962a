// The progress dialog on its own, and both resizing commands driven through
// the main window: the status lines and sizes of upscaling runs, the live
// picture while NEDI works and at a zoom, the comparison with the source, a
// cancelled run, the refusals before and during a run, closing during a run,
// and a downscaling with its progress.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>

#include <kestrune/bitmap.h>

#include "app/dib_draw.h"
#include "app/down_settings_dlg.h"
#include "app/kestrune_dlg.h"
#include "app/picture_view.h"
#include "app/progress_dlg.h"
#include "app/sr_settings_dlg.h"
#include "app_test_support.h"

namespace {
// Answers the next modal settings dialog of type Dialog: `fill` sets its
// fields, then OK is pressed (or Cancel when `fill` returns false).
template <typename Dialog>
void AnswerNextDialog(std::function<bool(Dialog&)> fill) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, fill] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    timer->stop();
    timer->deleteLater();
    if (fill(*dialog))
      static_cast<QWidget*>(dialog)->findChild<QPushButton*>(QStringLiteral("IDOK"))->click();
    else
      dialog->reject();
  });
  timer->start();
}

using UpscaleAnswer = std::function<bool(CSRSettingsDlg&)>;

// Settings of a quick run: `iterations` plain iterations, no fractal
// substitution, target `width` x `height`, initial method `method` (bilinear).
UpscaleAnswer QuickRun(int iterations, uint32_t width, uint32_t height, int method = 0) {
  return [=](CSRSettingsDlg& dialog) {
    Field(dialog, 1128)->setText(QString::number(iterations));
    Field(dialog, 1129)->setText(QStringLiteral("0"));
    Field(dialog, 1130)->setText(QString::number(width));
    Field(dialog, 1135)->setText(QString::number(height));
    dialog.findChild<QComboBox*>(QStringLiteral("1153"))->setCurrentIndex(method);
    return true;
  };
}

// Gives the window `image` and starts an upscaling command answered by `answer`.
void StartUpscale(CKestruneDlg& window, kestrune::Image image, UpscaleAnswer answer) {
  window.currentImage = std::move(image);
  AnswerNextDialog<CSRSettingsDlg>(answer);
  window.OnProcessUpscale();
}

bool WaitForRunEnd(CKestruneDlg& window) {
  return QTest::qWaitFor([&] { return !window.UpscaleRunning(); }, 120000);
}

// Calls `action` at each change of the progress dialog's status line: for an
// upscaling run, inside the report (the worker waits, the picture is drawn).
void OnStatus(CKestruneDlg& window, std::function<void(const QString&)> action) {
  QObject::connect(&window.progressDialog, &CProgressDlg::statusTextChanged, &window, action);
}

// Calls `action` once, at the first status line equal to `text`.
void AtStatus(CKestruneDlg& window, const QString& text, std::function<void()> action) {
  auto done = std::make_shared<bool>(false);
  OnStatus(window, [=](const QString& line) {
    if (*done || line != text) return;
    *done = true;
    action();
  });
}

// Status lines of the progress dialog, repeated lines counted once.
struct StatusLog {
  explicit StatusLog(CKestruneDlg& window) {
    OnStatus(window, [this](const QString& text) {
      if (lines.isEmpty() || lines.back() != text) lines << text;
    });
  }
  QStringList lines;
};

QString LabelText(CProgressDlg& dialog, const char* id) {
  return dialog.findChild<QLabel*>(QString::fromLatin1(id))->text();
}

// The bytes the window shows for an image.
QImage Bytes(const kestrune::Image& image) {
  QImage bytes(static_cast<int>(image.Width()), static_cast<int>(image.Height()), QImage::Format_RGB888);
  kestrune::ExportBytes(image.View(), kestrune::PixelOrder::kRgb, bytes.bits(), bytes.bytesPerLine());
  return bytes;
}

bool SameRow(const QImage& a, const QImage& b, int y) {
  return std::memcmp(a.constScanLine(y), b.constScanLine(y), 3 * std::size_t(a.width())) == 0;
}
}  // namespace

class UpscaleRunTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

  void progressDialog() {
    QWidget owner;
    CProgressDlg dialog;
    dialog.Start(QStringLiteral("Working"), &owner, false, nullptr, 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Progress"));
    const struct {
      float percent;
      int bar;
      const char* text;
    } cases[] = {{0.0f, 0, "0 %"}, {50.0f, 5000, "50 %"}, {99.996f, 10000, "100 %"}, {0.4f, 40, "0 %"},
                 {37.4f, 3740, "37 %"}, {37.5f, 3750, "38 %"}};
    for (const auto& c : cases) {
      dialog.SetProgress(c.percent);
      QCOMPARE(dialog.progressBar->value(), c.bar);
      QCOMPARE(LabelText(dialog, "1152"), QString::fromLatin1(c.text));
    }
    dialog.SetStatusText(QStringLiteral("Iteration 3 of 24"));
    QCOMPARE(LabelText(dialog, "1151"), QStringLiteral("Iteration 3 of 24"));
    dialog.Finish();
    QVERIFY(!dialog.isVisible());

    // Cancel, by the button or Esc, sets the flag and turns the button into a
    // disabled "Canceling..."; the dialog stays up and refuses to close until
    // its operation finishes it. A fresh start is checked by cancelledRun.
    std::atomic<bool> flag{true};
    dialog.Start(QStringLiteral("Initializing Kestrune..."), &owner, true, &flag, 0);
    QVERIFY(!flag);  // cleared by Start
    QCOMPARE(LabelText(dialog, "1151"), QStringLiteral("Initializing Kestrune..."));
    QCOMPARE(dialog.progressBar->value(), 0);
    QCOMPARE(LabelText(dialog, "1152"), QStringLiteral("0 %"));
    QVERIFY(dialog.cancelButton->isEnabled());
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Cancel"));

    QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
    QVERIFY(flag);
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Canceling..."));
    QVERIFY(!dialog.cancelButton->isEnabled());
    QVERIFY(dialog.isVisible());
    flag = false;
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(flag);
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());
    dialog.Finish();
    QVERIFY(!dialog.isVisible());
  }

  void statusLinesAndSizes() {
    // The default settings: NEDI, then 16 + 4 x 2 iterations counted from 0,
    // the two fractal substitutions starting in iterations 11 and 15; the
    // size left at the start size, so the x2 result is resampled back.
    QStringList defaults{"Initializing Kestrune...", "Allocating memory", "Initial upscaling",
                         "Preparing for sharpness enhancement"};
    for (int it = 0; it < 24; ++it) {
      defaults << QStringLiteral("Iteration %1 of 24").arg(it);
      if (it == 11 || it == 15) defaults << QStringLiteral("Iteration %1 of 24 (fractal substitution)").arg(it);
    }
    const struct {
      uint32_t width, height;
      UpscaleAnswer answer;
      QStringList lines;
      uint32_t newWidth, newHeight;
    } runs[] = {
        {8, 8, [](CSRSettingsDlg&) { return true; }, defaults, 8, 8},
        {12, 10, QuickRun(2, 24, 20),
         {"Initializing Kestrune...", "Allocating memory", "Initial upscaling", "Preparing for sharpness enhancement",
          "Iteration 0 of 2", "Iteration 1 of 2"},
         24, 20},
    };
    MessageRecorder messages;
    for (const auto& run : runs) {
      CKestruneDlg window;
      window.show();
      window.loadedImage = PatternImage(run.width, run.height);
      StatusLog log(window);
      StartUpscale(window, window.loadedImage, run.answer);
      QVERIFY(window.UpscaleRunning());
      QVERIFY(window.progressDialog.cancelButton->isEnabled());
      QVERIFY(WaitForRunEnd(window));
      QCOMPARE(log.lines, run.lines);
      QCOMPARE(window.currentImage.Width(), run.newWidth);
      QCOMPARE(window.currentImage.Height(), run.newHeight);
      QVERIFY(!window.progressDialog.isVisible());
      QVERIFY(HasPattern(window.loadedImage, run.width, run.height));  // untouched by the run
    }
    QVERIFY(messages.messages.empty());

    // No iteration at exactly x2: the bilinear enlargement itself, whose even
    // samples are the source's.
    CKestruneDlg plain;
    StartUpscale(plain, PatternImage(12, 10), QuickRun(0, 24, 20));
    QVERIFY(WaitForRunEnd(plain));
    QCOMPARE(plain.currentImage.Width(), 24u);
    const kestrune::Image source = PatternImage(12, 10);
    for (int c = 0; c < 3; ++c)
      for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 12; ++x) QCOMPARE(plain.currentImage.Row(c, 2 * y)[2 * x], source.Row(c, y)[x]);

    // Another size: a flat picture stays flat through the final resampling.
    StartUpscale(plain, GreyImage(16, 12, [](uint32_t, uint32_t) { return 100.0f; }), QuickRun(1, 40, 30, 1));
    QVERIFY(WaitForRunEnd(plain));
    QCOMPARE(plain.currentImage.Width(), 40u);
    QCOMPARE(plain.currentImage.Height(), 30u);
    for (int c = 0; c < 3; ++c)
      for (std::size_t i = 0; i < plain.currentImage.PixelCount(); ++i)
        QVERIFY(std::abs(plain.currentImage.Plane(c)[i] - 100.0f) < 0.01f);
    QVERIFY(messages.messages.empty());
  }

  void livePictureDuringNedi() {
    // A grey ramp of 20 x 24 enlarged by NEDI alone: NEDI finishes 16 output
    // rows per strip, and those rows are final. At each report the picture
    // shows the finished rows, a red dashed line (8 on, 24 off) on the first
    // unfinished row, and below it the source with each pixel as a 2 x 2 block.
    const kestrune::Image source = GreyImage(20, 24, [](uint32_t x, uint32_t y) { return 20.0f + 8 * x + 3 * y; });
    CKestruneDlg window;
    window.show();
    struct Shot {
      QString status;
      int progress;
      QImage picture;
    };
    std::vector<Shot> shots;
    OnStatus(window, [&](const QString& text) {
      shots.push_back({text, window.progressDialog.progressBar->value(), DibToQImage(window.displayBitmap)});
    });
    StartUpscale(window, source, QuickRun(0, 40, 48, 3));
    QVERIFY(WaitForRunEnd(window));
    QCOMPARE(window.currentImage.Width(), 40u);
    QCOMPARE(window.currentImage.Height(), 48u);

    const QImage final = Bytes(window.currentImage);
    QImage blocky(40, 48, QImage::Format_RGB888);
    const QImage small = Bytes(source);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 40; ++x) blocky.setPixelColor(x, y, small.pixelColor(x / 2, y / 2));
    QList<int> markers;
    int lastDone = 0, lastProgress = 0;
    for (const Shot& shot : shots) {
      if (shot.status == QStringLiteral("Initializing Kestrune...")) continue;
      QCOMPARE(shot.picture.size(), QSize(40, 48));
      int done = 0;
      while (done < 48 && SameRow(shot.picture, final, done)) ++done;
      QVERIFY2(done >= lastDone && done % 16 == 0, qPrintable(shot.status));
      if (shot.status == QStringLiteral("Allocating memory")) QCOMPARE(done, 0);
      if (shot.status == QStringLiteral("Preparing for sharpness enhancement")) QCOMPARE(done, 48);
      if (done > 0 && done < 48) {
        markers << done;
        QImage marked = blocky.copy();
        for (int x = 0; x < 40; ++x)
          if ((x & 24) == 0) marked.setPixelColor(x, done, QColor(255, 0, 0));
        QVERIFY(SameRow(shot.picture, marked, done));
      }
      for (int y = done > 0 ? done + 1 : 0; y < 48; ++y)
        QVERIFY2(SameRow(shot.picture, blocky, y), qPrintable(shot.status));
      QVERIFY(shot.progress >= lastProgress && shot.progress <= 5000);
      lastDone = done;
      lastProgress = shot.progress;
    }
    QCOMPARE(markers, (QList<int>{16, 32}));
    QVERIFY(lastProgress > 0);

    // No marker remains: the result, and the picture shown, are grey.
    for (std::size_t i = 0; i < window.currentImage.PixelCount(); ++i)
      QVERIFY(window.currentImage.Plane(kestrune::kRed)[i] == window.currentImage.Plane(kestrune::kGreen)[i]);
    QCOMPARE(Shown(window).convertToFormat(QImage::Format_RGB888).copy(0, 0, 40, 48), final);
  }

  // The picture during a run follows the zoom. After the run, Space held
  // shows the source with each pixel repeated in the result's place, and the
  // split view shows it left of a divider that the mouse drags; a new
  // picture ends the comparison.
  void comparisonWithTheSource() {
    MessageRecorder messages;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    QTest::keyPress(&window, Qt::Key_Space);
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("No enlargement to compare with."));
    QVERIFY(!window.View()->SourceShown());
    QTest::keyRelease(&window, Qt::Key_Space);

    window.OnViewZoom(2.0);
    QImage estimate, shownDuringRun;
    AtStatus(window, QStringLiteral("Iteration 1 of 2"), [&] {
      estimate = DibToQImage(window.displayBitmap);
      shownDuringRun = Shown(window);
    });
    window.loadedImage = PatternImage(120, 60);
    StartUpscale(window, window.loadedImage, QuickRun(2, 240, 120));
    QVERIFY(WaitForRunEnd(window));
    for (const QPoint p : {QPoint(0, 0), QPoint(97, 61), QPoint(239, 119)})
      QCOMPARE(shownDuringRun.pixelColor(2 * p + QPoint(1, 1)), estimate.pixelColor(p));

    window.OnViewZoom(1.0);
    const QImage result = Bytes(window.currentImage);
    // True when the columns `left` to `right` show the source (else the result).
    auto shows = [&](int left, int right, bool source) {
      const QImage shot = Shown(window);
      for (const QPoint p : {QPoint(left, 0), QPoint(right, 33), QPoint((left + right) / 2, 119)})
        if (shot.pixelColor(p) != (source ? PatternColor(p.x() / 2, p.y() / 2) : result.pixelColor(p))) return false;
      return true;
    };
    auto pixelText = [&](QPoint at) {
      QTest::mouseMove(window.PictureWidget(), at);
      return StatusField(window, "pixel");
    };
    QTest::keyPress(&window, Qt::Key_Space);
    QVERIFY(window.Command(CKestruneDlg::ID_VIEW_SOURCE)->isChecked());
    QVERIFY(shows(0, 239, true));
    QCOMPARE(pixelText(QPoint(7, 5)), QStringLiteral("Source x 3, y 2: R 31  G 42  B 8"));
    // The key's repeats, a release and a press each, change nothing.
    for (const QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
      QKeyEvent repeat(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
      QCoreApplication::sendEvent(&window, &repeat);
    }
    QVERIFY(shows(0, 239, true));
    QTest::keyRelease(&window, Qt::Key_Space);
    QVERIFY(shows(0, 239, false));
    QVERIFY(pixelText(QPoint(7, 5)).startsWith(QStringLiteral("x 7, y 5: ")));

    QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(window.Command(CKestruneDlg::ID_VIEW_SPLIT)->isChecked());
    QTest::mousePress(window.PictureWidget(), Qt::LeftButton, {}, QPoint(121, 50));
    QTest::mouseMove(window.PictureWidget(), QPoint(60, 50));
    QTest::mouseRelease(window.PictureWidget(), Qt::LeftButton, {}, QPoint(60, 50));
    QCOMPARE(window.View()->Divider(), 0.25);
    QVERIFY(shows(0, 58, true) && shows(61, 239, false));  // the divider line between
    QVERIFY(pixelText(QPoint(59, 5)).startsWith(QStringLiteral("Source x 29, y 2: ")));

    window.OnEditUndoAll();
    QVERIFY(!window.View()->Split() && !window.Command(CKestruneDlg::ID_VIEW_SPLIT)->isChecked());
    QTest::keyPress(&window, Qt::Key_Space);
    QVERIFY(!window.View()->SourceShown());
    QVERIFY(messages.messages.empty());
  }

  void cancelledRun() {
    MessageRecorder messages;
    CKestruneDlg window;
    window.show();
    StatusLog log(window);
    bool cancelState = false;
    AtStatus(window, QStringLiteral("Iteration 2 of 200"), [&] {
      CProgressDlg& dialog = window.progressDialog;
      QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
      cancelState = dialog.cancelButton->text() == QStringLiteral("Canceling...") &&
                    !dialog.cancelButton->isEnabled() && dialog.isVisible();
    });
    StartUpscale(window, PatternImage(40, 30), QuickRun(200, 80, 60));
    QVERIFY(WaitForRunEnd(window));
    QVERIFY(cancelState);
    QCOMPARE(log.lines.last(), QStringLiteral("Iteration 2 of 200"));  // stopped at the next check
    QVERIFY(!window.progressDialog.isVisible());
    QCOMPARE(window.currentImage.Width(), 80u);  // the partial result, at the requested size
    QCOMPARE(window.currentImage.Height(), 60u);
    QVERIFY(messages.messages.empty());

    // The next run starts with a fresh Cancel button.
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(0, 160, 120));
    window.OnProcessUpscale();
    QCOMPARE(window.progressDialog.cancelButton->text(), QStringLiteral("Cancel"));
    QVERIFY(window.progressDialog.cancelButton->isEnabled());
    QVERIFY(WaitForRunEnd(window));
    QCOMPARE(window.currentImage.Width(), 160u);
  }

  void refusalsBeforeARun() {
    // Each command below is refused with one message containing `message`
    // (none for Cancel in the dialog) and leaves the picture as it was.
    auto fill = [](int id, const char* text) -> UpscaleAnswer {
      return [=](CSRSettingsDlg& dialog) {
        Field(dialog, id)->setText(QString::fromLatin1(text));  // accepted by the dialog, refused before the run
        return true;
      };
    };
    const struct {
      uint32_t width, height;
      UpscaleAnswer answer;  // empty: refused before the dialog
      const char* message;   // null: no message
    } cases[] = {
        {2, 9, {}, "The image is too small for Kestrune interpolation (at least 3 x 3 pixels)."},
        {60000, 3, {}, "The image is too large for Kestrune interpolation."},
        {4, 4, [](CSRSettingsDlg&) { return true; }, "fractal substitutions"},  // the defaults need 6 x 6
        {8, 8, fill(1134, "-2"), "Edge-dir"},
        {8, 8, fill(1131, "0.5"), "side lobe"},
        {8, 8, QuickRun(1, 100000, 100000), "The requested size is too large."},
        {8, 8, [](CSRSettingsDlg&) { return false; }, nullptr},
    };
    MessageRecorder messages;
    CKestruneDlg window;
    for (const auto& c : cases) {
      messages.Clear();
      window.currentImage = PatternImage(c.width, c.height);
      if (c.answer) AnswerNextDialog<CSRSettingsDlg>(c.answer);
      window.OnProcessUpscale();
      QVERIFY(!window.UpscaleRunning());
      QCOMPARE(messages.messages.size(), std::size_t{c.message ? 1u : 0u});
      if (c.message) {
        QVERIFY2(messages.messages[0].text.contains(QString::fromLatin1(c.message)), qPrintable(messages.Texts()[0]));
        QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
      }
      QVERIFY(HasPattern(window.currentImage, c.width, c.height));
      QCoreApplication::processEvents();
    }

    // A reduction to a size beyond the image limits.
    messages.Clear();
    AnswerNextDialog<CDownSettingsDlg>([](CDownSettingsDlg& dialog) {
      Field(dialog, 1130)->setText(QStringLiteral("100000"));
      Field(dialog, 1135)->setText(QStringLiteral("100000"));
      return true;
    });
    window.OnProcessDownscale();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("The requested size is too large.")});
    QVERIFY(HasPattern(window.currentImage, 8, 8));
  }

  void loadFromFile() {
    QTemporaryDir dir;
    const QString wrong = WriteImageFile(dir, QStringLiteral("wrong.bmp"), PatternImage(10, 10));
    const QString right = WriteImageFile(dir, QStringLiteral("right.bmp"), PatternImage(12, 10));
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    window.currentImage = PatternImage(6, 5);
    const QSize before = window.size();

    // A picture of the wrong size, and one that cannot be read (which says why).
    const QString missing = dir.filePath(QStringLiteral("missing.bmp"));
    const std::pair<QString, QString> cases[] = {
        {wrong, QStringLiteral("Image dimensions do not match!")},
        {missing, QStringLiteral("Error loading image: ") + missing +
                      QStringLiteral("\nthe file cannot be opened: No such file or directory")}};
    for (const auto& [path, message] : cases) {
      messages.Clear();
      dialogs.answers = {path};
      StartUpscale(window, PatternImage(6, 5), QuickRun(0, 12, 10, CSRSettingsDlg::kLoadFromFile));
      QCOMPARE(messages.Texts(), QStringList{message});
      QVERIFY(!window.UpscaleRunning());
      QVERIFY(HasPattern(window.currentImage, 6, 5));
      QCOMPARE(window.size(), before);
    }

    // The right size: with no iteration the result is the loaded image itself.
    messages.Clear();
    dialogs.answers = {right};
    StartUpscale(window, PatternImage(6, 5), QuickRun(0, 12, 10, CSRSettingsDlg::kLoadFromFile));
    QVERIFY(WaitForRunEnd(window));
    QVERIFY(messages.messages.empty());
    QVERIFY(HasPattern(window.currentImage, 12, 10));
  }

  // During a run every command that would replace the image is refused;
  // Copy and Save As take the picture being computed, as shown. Closing
  // only asks the run to stop; the window closes when it has. Destroying a
  // window stops its run and waits for the worker.
  void commandsAndClosingDuringRun() {
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("during.bmp"));
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    window.loadedImage = PatternImage(120, 60);
    QStringList refusals;
    QImage shown;
    QSize pictureSize;
    bool closeRefused = false;
    AtStatus(window, QStringLiteral("Iteration 1 of 1000"), [&] {
      pictureSize = window.PictureWidget()->size();
      window.OnFileOpen();
      window.LoadImageFile(dir.filePath(QStringLiteral("any.bmp")));
      window.OnEditPaste();
      window.OnEditUndoAll();
      window.OnProcessUpscale();
      window.OnProcessDownscale();
      refusals = messages.Texts();
      shown = DibToQImage(window.displayBitmap);
      window.OnEditCopy();
      dialogs.answers = {saved};
      window.OnFileSaveAs();
      closeRefused = !window.close();
    });
    StartUpscale(window, window.loadedImage, QuickRun(1000, 240, 120));
    QVERIFY(QTest::qWaitFor([&] { return !window.isVisible(); }, 120000));
    QVERIFY(closeRefused);
    QVERIFY(!window.UpscaleRunning());
    QCOMPARE(window.progressDialog.cancelButton->text(), QStringLiteral("Canceling..."));
    QCOMPARE(window.currentImage.Width(), 240u);
    QCOMPARE(refusals, QStringList(6, QString::fromLatin1(kBusyMessage)));
    QCOMPARE(messages.messages.size(), std::size_t{6});
    QCOMPARE(dialogs.requests.size(), std::size_t{1});  // only Save As asked for a file
    QCOMPARE(pictureSize, QSize(240, 120));  // the window fits the x2 picture
    QCOMPARE(shown.size(), QSize(240, 120));
    QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888), shown);
    QCOMPARE(QImage(saved).convertToFormat(QImage::Format_RGB888), shown);
    QVERIFY(HasPattern(window.loadedImage, 120, 60));
    // After the run the commands work again.
    window.OnEditUndoAll();
    QVERIFY(HasPattern(window.currentImage, 120, 60));

    auto* doomed = new CKestruneDlg;
    bool started = false;
    AtStatus(*doomed, QStringLiteral("Iteration 1 of 1000"), [&] { started = true; });
    StartUpscale(*doomed, PatternImage(40, 40), QuickRun(1000, 80, 80));
    QVERIFY(QTest::qWaitFor([&] { return started; }, 120000));
    delete doomed;
  }

  void downscaleWithHinting() {
    MessageRecorder messages;
    CKestruneDlg window;
    window.show();
    window.currentImage = PatternImage(40, 30);
    window.loadedImage = window.currentImage;
    StatusLog log(window);
    bool cancelDisabled = true;
    int lastProgress = 0;
    bool progressRose = true;
    OnStatus(window, [&](const QString&) {
      cancelDisabled = cancelDisabled && !window.progressDialog.cancelButton->isEnabled();
      progressRose = progressRose && window.progressDialog.progressBar->value() >= lastProgress;
      lastProgress = window.progressDialog.progressBar->value();
    });
    auto answer = [](CDownSettingsDlg& dialog) {
      Field(dialog, 1130)->setText(QStringLiteral("20"));
      Field(dialog, 1135)->setText(QStringLiteral("15"));
      Field(dialog, 1161)->setText(QStringLiteral("4"));
      return true;
    };
    AnswerNextDialog<CDownSettingsDlg>(answer);
    window.OnProcessDownscale();
    QVERIFY(messages.messages.empty());
    QCOMPARE(window.currentImage.Width(), 20u);
    QCOMPARE(window.currentImage.Height(), 15u);
    QVERIFY(!window.progressDialog.isVisible());
    QVERIFY(cancelDisabled);
    QVERIFY(progressRose && lastProgress < 10000);

    // The search's lines: the best score so far, never falling, then the
    // final scaling.
    QCOMPARE(log.lines.first(), QStringLiteral("Searching for hints..."));
    QCOMPARE(log.lines.last(), QStringLiteral("Final scaling..."));
    QVERIFY(log.lines.size() >= 3);
    const QRegularExpression best(QStringLiteral(R"(^Searching for hints\.\.\.  \(best hint so far: (\d+\.\d{3})\)$)"));
    double shownScore = 0.0;
    for (qsizetype i = 1; i + 1 < log.lines.size(); ++i) {
      const QRegularExpressionMatch match = best.match(log.lines[i]);
      QVERIFY2(match.hasMatch(), qPrintable(log.lines[i]));
      QVERIFY(match.captured(1).toDouble() > shownScore);
      shownScore = match.captured(1).toDouble();
    }

    // "Undo all" returns to the image as loaded.
    window.OnEditUndoAll();
    QVERIFY(HasPattern(window.currentImage, 40, 30));
  }
};

QTEST_MAIN(UpscaleRunTest)
#include "upscale_run_test.moc"
