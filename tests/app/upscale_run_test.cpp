// Both resizing commands driven through the main window: an upscaling run to
// its end and one cancelled, the status lines seen and the final size, the
// guards before a run, commands refused during a run, closing during a run,
// and a downscaling with its progress.
#include <QApplication>
#include <QStandardPaths>
#include <QClipboard>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include "app/down_settings_dlg.h"
#include "app/kestrune_dlg.h"
#include "app/sr_settings_dlg.h"
#include "app_test_support.h"
#include "image/image_writers.h"

using namespace kestrune;

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

void SetField(QDialog& dialog, int id, const QString& text) {
  dialog.findChild<QLineEdit*>(QString::number(id))->setText(text);
}

// Settings of a quick run: bilinear start, `iterations` plain iterations, no
// fractal substitution, target `width` x `height`.
std::function<bool(CSRSettingsDlg&)> QuickRun(int iterations, uint32_t width, uint32_t height, int method = 0) {
  return [=](CSRSettingsDlg& dialog) {
    SetField(dialog, 1128, QString::number(iterations));
    SetField(dialog, 1129, QStringLiteral("0"));
    SetField(dialog, 1130, QString::number(width));
    SetField(dialog, 1135, QString::number(height));
    dialog.findChild<QComboBox*>(QStringLiteral("1153"))->setCurrentIndex(method);
    return true;
  };
}

// Status lines of the progress dialog, repeated lines counted once.
struct StatusLog {
  explicit StatusLog(CProgressDlg& dialog) {
    QObject::connect(&dialog, &CProgressDlg::statusTextChanged, [this](const QString& text) {
      if (lines.isEmpty() || lines.back() != text) lines << text;
    });
  }
  QStringList lines;
};

bool WaitForRunEnd(CKestruneDlg& window) {
  return QTest::qWaitFor([&] { return !window.UpscaleRunning(); }, 120000);
}
}  // namespace

class UpscaleRunTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
  void runToCompletion() {
    MessageRecorder messages;
    CKestruneDlg window;
    window.show();
    window.currentImage = PatternImage(12, 10);
    window.loadedImage = window.currentImage;
    StatusLog log(window.progressDialog);
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(2, 24, 20));
    window.OnProcessUpscale();
    QVERIFY(window.UpscaleRunning());
    QVERIFY(window.progressDialog.cancelButton->isEnabled());
    QVERIFY(WaitForRunEnd(window));
    QCOMPARE(log.lines, (QStringList{"Initializing Kestrune...", "Allocating memory", "Initial upscaling",
                                     "Preparing for sharpness enhancement", "Iteration 0 of 2", "Iteration 1 of 2"}));
    QCOMPARE(window.currentImage.width, 24u);
    QCOMPARE(window.currentImage.height, 20u);
    QVERIFY(!window.progressDialog.isVisible());
    QVERIFY(HasPattern(window.loadedImage, 12, 10));  // untouched by the run
    QVERIFY(messages.messages.empty());

    // No iteration: the bilinear enlargement, whose even samples are the source's.
    CKestruneDlg plain;
    plain.currentImage = PatternImage(12, 10);
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(0, 24, 20));
    plain.OnProcessUpscale();
    QVERIFY(WaitForRunEnd(plain));
    QCOMPARE(plain.currentImage.width, 24u);
    for (uint32_t y = 0; y < 10; ++y)
      for (uint32_t x = 0; x < 12; ++x) {
        QCOMPARE(plain.currentImage.rows(0)[2 * y][2 * x], float(PatternRed(x, y)));
        QCOMPARE(plain.currentImage.rows(1)[2 * y][2 * x], float(PatternGreen(x, y)));
        QCOMPARE(plain.currentImage.rows(2)[2 * y][2 * x], float(PatternBlue(x, y)));
      }
    QVERIFY(messages.messages.empty());
  }

  void nediRun() {
    // The default initial method: the picture is built strip by strip, and no
    // progress marker (the red dashed line) remains in the result.
    CKestruneDlg window;
    window.show();
    window.currentImage = PatternImage(20, 24);
    StatusLog log(window.progressDialog);
    float lastProgress = -1.0f;
    bool progressRose = true;
    QObject::connect(&window.progressDialog, &CProgressDlg::statusTextChanged, [&](const QString&) {
      const float now = window.progressDialog.progressBar->value() / 100.0f;
      progressRose = progressRose && now >= lastProgress;
      lastProgress = now;
    });
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(0, 40, 48, 3));
    window.OnProcessUpscale();
    QVERIFY(WaitForRunEnd(window));
    QCOMPARE(log.lines, (QStringList{"Initializing Kestrune...", "Allocating memory", "Initial upscaling",
                                     "Preparing for sharpness enhancement"}));
    QVERIFY(progressRose);
    QVERIFY(lastProgress > 0.0f && lastProgress <= 50.0f);
    QCOMPARE(window.currentImage.width, 40u);
    QCOMPARE(window.currentImage.height, 48u);
    int markers = 0;
    for (uint32_t y = 0; y < 48; ++y)
      if (window.currentImage.rows(0)[y][0] == 255.0f && window.currentImage.rows(1)[y][0] == 0.0f &&
          window.currentImage.rows(2)[y][0] == 0.0f && window.currentImage.rows(0)[y][8] != 255.0f)
        ++markers;
    QCOMPARE(markers, 0);
  }

  void finalResizeToStartSize() {
    // New width and height left at the start size: the 2x result is resampled back.
    CKestruneDlg window;
    window.currentImage = PatternImage(16, 12);
    AnswerNextDialog<CSRSettingsDlg>([](CSRSettingsDlg& dialog) {
      SetField(dialog, 1128, QStringLiteral("1"));
      SetField(dialog, 1129, QStringLiteral("0"));
      dialog.findChild<QComboBox*>(QStringLiteral("1153"))->setCurrentIndex(1);
      return true;
    });
    window.OnProcessUpscale();
    QVERIFY(WaitForRunEnd(window));
    QCOMPARE(window.currentImage.width, 16u);
    QCOMPARE(window.currentImage.height, 12u);
    // A smooth picture survives the round trip closely.
    FloatImage flat(16, 12);
    for (int c = 0; c < 3; ++c) std::fill(flat.samples(c), flat.samples(c) + flat.PixelCount(), 100.0f);
    window.currentImage = flat;
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(1, 40, 30, 1));
    window.OnProcessUpscale();
    QVERIFY(WaitForRunEnd(window));
    QCOMPARE(window.currentImage.width, 40u);
    QCOMPARE(window.currentImage.height, 30u);
    for (int c = 0; c < 3; ++c)
      for (std::size_t i = 0; i < window.currentImage.PixelCount(); ++i)
        QVERIFY(std::abs(window.currentImage.samples(c)[i] - 100.0f) < 0.01f);
  }

  void cancelledRun() {
    CKestruneDlg window;
    window.show();
    window.currentImage = PatternImage(40, 30);
    StatusLog log(window.progressDialog);
    bool cancelState = false;
    QObject::connect(&window.progressDialog, &CProgressDlg::statusTextChanged, [&](const QString& text) {
      if (text != QStringLiteral("Iteration 2 of 200")) return;
      QTest::mouseClick(window.progressDialog.cancelButton, Qt::LeftButton);
      CProgressDlg& dialog = window.progressDialog;
      cancelState = dialog.cancelButton->text() == QStringLiteral("Canceling...") &&
                    !dialog.cancelButton->isEnabled() && dialog.isVisible();
    });
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(200, 80, 60));
    window.OnProcessUpscale();
    QVERIFY(WaitForRunEnd(window));
    QVERIFY(log.lines.contains(QStringLiteral("Iteration 2 of 200")));
    QVERIFY(!log.lines.contains(QStringLiteral("Iteration 4 of 200")));  // stopped at the next check
    QCOMPARE(window.progressDialog.cancelButton->text(), QStringLiteral("Canceling..."));
    QVERIFY(!window.progressDialog.isVisible());
    QCOMPARE(window.currentImage.width, 80u);  // the partial result, at the requested size
    QCOMPARE(window.currentImage.height, 60u);
    QVERIFY(cancelState);

    // The next run starts with a fresh Cancel button.
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(0, 160, 120));
    window.OnProcessUpscale();
    QCOMPARE(window.progressDialog.cancelButton->text(), QStringLiteral("Cancel"));
    QVERIFY(window.progressDialog.cancelButton->isEnabled());
    QVERIFY(WaitForRunEnd(window));
    QCOMPARE(window.currentImage.width, 160u);
  }

  void guardsBeforeARun() {
    // Each upscaling below is refused with one message (cancelled in the
    // dialog: none) and leaves the picture as it was.
    const struct {
      uint32_t width, height;
      std::function<bool(CSRSettingsDlg&)> answer;  // empty: refused before the dialog
      const char* message;                          // empty: any one message
    } cases[] = {
        {2, 9, {}, ""},  // too narrow for the pipeline
        {8, 8,
         [](CSRSettingsDlg& dialog) {
           SetField(dialog, 1134, QStringLiteral("-2"));  // accepted by the dialog, refused before the run
           return true;
         },
         ""},
        {4, 4, [](CSRSettingsDlg&) { return true; }, ""},  // two fractal substitutions need a larger source
        {8, 8, QuickRun(1, 100000, 100000), "The requested size is too large."},
        {8, 8, [](CSRSettingsDlg&) { return false; }, nullptr},  // Cancel: nothing happens
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
      if (c.message && *c.message) QCOMPARE(messages.Texts(), QStringList{QString::fromLatin1(c.message)});
      QVERIFY(HasPattern(window.currentImage, c.width, c.height));
      QCoreApplication::processEvents();
    }

    // A reduction to a size beyond the image limits.
    messages.Clear();
    AnswerNextDialog<CDownSettingsDlg>([](CDownSettingsDlg& dialog) {
      SetField(dialog, 1130, QStringLiteral("100000"));
      SetField(dialog, 1135, QStringLiteral("100000"));
      return true;
    });
    window.OnProcessDownscale();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("The requested size is too large.")});
    QVERIFY(HasPattern(window.currentImage, 8, 8));
  }

  void loadFromFile() {
    QTemporaryDir dir;
    const std::string wrong = dir.filePath(QStringLiteral("wrong.bmp")).toStdString();
    const std::string right = dir.filePath(QStringLiteral("right.bmp")).toStdString();
    QCOMPARE(WriteBmp(wrong, PatternImage(10, 10)), 0);
    QCOMPARE(WriteBmp(right, PatternImage(12, 10)), 0);
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    window.currentImage = PatternImage(6, 5);
    const QSize before = window.size();

    dialogs.answers = {QString::fromStdString(wrong)};
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(0, 12, 10, CSRSettingsDlg::kLoadFromFile));
    window.OnProcessUpscale();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Image dimensions do not match!")});
    QVERIFY(!window.UpscaleRunning());
    QVERIFY(HasPattern(window.currentImage, 6, 5));
    QCOMPARE(window.size(), before);

    // The right size: with no iteration the result is the loaded image itself.
    messages.Clear();
    dialogs.answers = {QString::fromStdString(right)};
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(0, 12, 10, CSRSettingsDlg::kLoadFromFile));
    window.OnProcessUpscale();
    QVERIFY(WaitForRunEnd(window));
    QVERIFY(messages.messages.empty());
    QVERIFY(HasPattern(window.currentImage, 12, 10));
  }

  void commandsRefusedDuringRun() {
    QTemporaryDir dir;
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    window.show();
    window.currentImage = PatternImage(48, 40);
    window.loadedImage = window.currentImage;
    bool tried = false;
    QStringList refusals;
    QObject::connect(&window.progressDialog, &CProgressDlg::statusTextChanged, [&](const QString& text) {
      if (tried || text != QStringLiteral("Iteration 1 of 1000")) return;
      tried = true;
      // Every command that would replace or free the image is refused.
      window.OnFileOpen();
      window.LoadImageFile(dir.filePath(QStringLiteral("any.bmp")));
      window.OnEditPaste();
      window.OnEditUndoAll();
      window.OnProcessUpscale();
      window.OnProcessDownscale();
      refusals = messages.Texts();
      // Copy and Save As keep working on the picture being computed.
      window.OnEditCopy();
      dialogs.answers = {dir.filePath(QStringLiteral("during.bmp"))};
      window.OnFileSaveAs();
      window.progressDialog.OnCancel();
    });
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(1000, 96, 80));
    window.OnProcessUpscale();
    QVERIFY(WaitForRunEnd(window));
    QVERIFY(tried);
    QCOMPARE(refusals.size(), 6);
    for (const QString& text : refusals) QCOMPARE(text, QString::fromLatin1(kBusyMessage));
    QCOMPARE(dialogs.requests.size(), std::size_t{1});  // only Save As asked for a file
    QCOMPARE(QApplication::clipboard()->image().size(), QSize(96, 80));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("during.bmp"))));
    QCOMPARE(messages.messages.size(), std::size_t{6});
    QVERIFY(HasPattern(window.loadedImage, 48, 40));

    // After the run the commands work again.
    window.OnEditUndoAll();
    QVERIFY(HasPattern(window.currentImage, 48, 40));
  }

  void closingDuringRun() {
    CKestruneDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.currentImage = PatternImage(40, 40);
    bool closeRefused = false;
    QObject::connect(&window.progressDialog, &CProgressDlg::statusTextChanged, [&](const QString& text) {
      if (text == QStringLiteral("Iteration 1 of 1000")) closeRefused = !window.close();
    });
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(1000, 80, 80));
    window.OnProcessUpscale();
    QVERIFY(QTest::qWaitFor([&] { return !window.isVisible(); }, 120000));
    QVERIFY(closeRefused);  // the first close only asked the run to stop
    QVERIFY(!window.UpscaleRunning());
    QCOMPARE(window.progressDialog.cancelButton->text(), QStringLiteral("Canceling..."));
    QCOMPARE(window.currentImage.width, 80u);
  }

  void destroyingDuringRun() {
    auto* window = new CKestruneDlg;
    window->currentImage = PatternImage(40, 40);
    bool started = false;
    QObject::connect(&window->progressDialog, &CProgressDlg::statusTextChanged, [&](const QString& text) {
      if (text.startsWith(QStringLiteral("Iteration"))) started = true;
    });
    AnswerNextDialog<CSRSettingsDlg>(QuickRun(1000, 80, 80));
    window->OnProcessUpscale();
    QVERIFY(QTest::qWaitFor([&] { return started; }, 120000));
    delete window;  // stops the run and waits for the worker
  }

  void downscaleWithHinting() {
    MessageRecorder messages;
    CKestruneDlg window;
    window.show();
    window.currentImage = PatternImage(40, 30);
    window.loadedImage = window.currentImage;
    StatusLog log(window.progressDialog);
    bool cancelDisabled = true;
    QObject::connect(&window.progressDialog, &CProgressDlg::statusTextChanged, [&](const QString&) {
      cancelDisabled = cancelDisabled && !window.progressDialog.cancelButton->isEnabled();
    });
    AnswerNextDialog<CDownSettingsDlg>([](CDownSettingsDlg& dialog) {
      SetField(dialog, 1130, QStringLiteral("20"));
      SetField(dialog, 1135, QStringLiteral("15"));
      SetField(dialog, 1161, QStringLiteral("4"));
      return true;
    });
    window.OnProcessDownscale();
    QVERIFY(messages.messages.empty());
    QCOMPARE(window.currentImage.width, 20u);
    QCOMPARE(window.currentImage.height, 15u);
    QVERIFY(!window.progressDialog.isVisible());
    QVERIFY(cancelDisabled);
    QCOMPARE(log.lines.first(), QStringLiteral("Searching for hints..."));
    QVERIFY(log.lines.contains(QStringLiteral("Final scaling...")));
    QVERIFY(HasPattern(window.loadedImage, 40, 30));

    // "Undo all" after upscaling and downscaling returns to the image as loaded.
    window.OnEditUndoAll();
    QVERIFY(HasPattern(window.currentImage, 40, 30));
  }
};

QTEST_MAIN(UpscaleRunTest)
#include "upscale_run_test.moc"
