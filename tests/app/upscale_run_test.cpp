// The progress dialog and both resizing commands, driven through the main window.

#include <kestrune/bitmap.h>

#include "app/dib_draw.h"
#include "app/down_settings_dlg.h"
#include "app/sr_settings_dlg.h"
#include "app_test_support.h"

namespace {
using Fields = std::vector<std::pair<int, QString>>;

// Answers the next modal settings dialog: `fields` typed, a method chosen, OK.
template <typename Dialog>
void AnswerNextDialog(Fields fields, int method = -1, bool ok = true) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [=] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    timer->stop();
    timer->deleteLater();
    for (const auto& [id, text] : fields) Field(*dialog, id)->setText(text);
    if (method >= 0) dialog->template findChild<QComboBox*>(QStringLiteral("1153"))->setCurrentIndex(method);
    ok ? dialog->accept() : dialog->reject();
  });
  timer->start(5);
}

// Plain iterations without fractal substitution, to width x height.
Fields QuickRun(int iterations, int width, int height) {
  return {{1128, QString::number(iterations)},
          {1129, "0"},
          {1130, QString::number(width)},
          {1135, QString::number(height)}};
}

void StartUpscale(CKestruneDlg& window, kestrune::Image image, const Fields& fields, int method = 0) {
  window.currentImage = std::move(image);
  AnswerNextDialog<CSRSettingsDlg>(fields, method);
  window.OnProcessUpscale();
}

bool WaitForRunEnd(CKestruneDlg& window) {
  return QTest::qWaitFor([&] { return !window.UpscaleRunning(); }, 120000);
}

// Calls `action` at each status line, inside the report (the worker waits).
void OnStatus(CKestruneDlg& window, std::function<void(const QString&)> action) {
  QObject::connect(&window.progressDialog, &CProgressDlg::statusTextChanged, &window, action);
}

void AtStatus(CKestruneDlg& window, const QString& text, std::function<void()> action) {
  auto done = std::make_shared<bool>(false);
  OnStatus(window, [=](const QString& line) {
    if (!*done && line == text) *done = true, action();
  });
}

// The status lines, repeats counted once.
std::shared_ptr<QStringList> StatusLog(CKestruneDlg& window) {
  auto lines = std::make_shared<QStringList>();
  OnStatus(window, [lines](const QString& text) {
    if (lines->isEmpty() || lines->back() != text) *lines << text;
  });
  return lines;
}

QImage Bytes(const kestrune::Image& image) {
  QImage bytes(static_cast<int>(image.Width()), static_cast<int>(image.Height()), QImage::Format_RGB888);
  kestrune::ExportBytes(image.View(), kestrune::PixelOrder::kRgb, bytes.bits(), bytes.bytesPerLine());
  return bytes;
}
}  // namespace

class UpscaleRunTest : public QObject {
  Q_OBJECT
 private slots:
  // Bar at percent x 100, the percentage rounded half up; Esc cancels.
  void progressDialog() {
    QWidget owner;
    CProgressDlg dialog;
    std::atomic<bool> flag{true};
    dialog.Start(QStringLiteral("Working"), &owner, true, &flag, 0);
    QVERIFY(!flag);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(flag && dialog.isVisible());
    const std::tuple<float, int, const char*> cases[] = {{50.0f, 5000, "50 %"},
                                                         {99.996f, 10000, "100 %"},
                                                         {0.4f, 40, "0 %"},
                                                         {37.4f, 3740, "37 %"},
                                                         {37.5f, 3750, "38 %"}};
    for (const auto& [value, bar, text] : cases) {
      dialog.SetProgress(value);
      QCOMPARE(dialog.progressBar->value(), bar);
      QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("1152"))->text(), QString::fromLatin1(text));
    }
    dialog.Finish();
    QVERIFY(!dialog.isVisible());
  }

  // The defaults: NEDI, 16 + 4 x 2 iterations, substitutions from 11 and 15,
  // the result resampled back to the start size. Flat stays flat; with no
  // iteration the even samples are the source's. Then the comparison: Space
  // held shows the source, the split view left of a dragged divider.
  void runsAndComparison() {
    const QStringList start{"Initializing Kestrune...", "Allocating memory", "Initial upscaling",
                            "Preparing for sharpness enhancement"};
    QStringList defaults = start;
    for (int it = 0; it < 24; ++it) {
      defaults << QStringLiteral("Iteration %1 of 24").arg(it);
      if (it == 11 || it == 15) defaults << QStringLiteral("Iteration %1 of 24 (fractal substitution)").arg(it);
    }
    kestrune::Image flat(16, 12);
    for (int c = 0; c < 3; ++c) std::fill_n(flat.Plane(c), flat.PixelCount(), 100.0f);
    const std::tuple<kestrune::Image, Fields, int, QStringList, QSize> runs[] = {
        {PatternImage(8, 8), {}, -1, defaults, QSize(8, 8)},
        {flat, QuickRun(1, 40, 30), 1, start + QStringList{"Iteration 0 of 1"}, QSize(40, 30)},
        {PatternImage(120, 60), QuickRun(0, 240, 120), 0, start, QSize(240, 120)},
    };
    MessageRecorder messages;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    QTest::keyPress(&window, Qt::Key_Space);
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("No enlargement to compare with."));
    QVERIFY(!window.View()->SourceShown());
    QTest::keyRelease(&window, Qt::Key_Space);
    for (const auto& [image, fields, method, lines, size] : runs) {
      const auto log = StatusLog(window);
      StartUpscale(window, image, fields, method);
      QVERIFY(window.UpscaleRunning() && window.progressDialog.cancelButton->isEnabled());
      QVERIFY(WaitForRunEnd(window));
      QCOMPARE(*log, lines);
      QCOMPARE(QSize(window.currentImage.Width(), window.currentImage.Height()), size);
      QVERIFY(!window.progressDialog.isVisible());
      for (int c = 0; c < 3 && size == QSize(40, 30); ++c)
        for (std::size_t i = 0; i < window.currentImage.PixelCount(); ++i)
          QVERIFY(std::abs(window.currentImage.Plane(c)[i] - 100.0f) < 0.01f);
    }
    const kestrune::Image source = PatternImage(120, 60);
    for (int c = 0; c < 3; ++c)
      for (uint32_t y = 0; y < 60; ++y)
        for (uint32_t x = 0; x < 120; ++x) QCOMPARE(window.currentImage.Row(c, 2 * y)[2 * x], source.Row(c, y)[x]);

    const QImage result = Bytes(window.currentImage);
    // Columns left..right show the source (else the result).
    auto shows = [&](int left, int right, bool source) {
      const QImage shot = Shown(window);
      for (const QPoint p : {QPoint(left, 0), QPoint(right, 33), QPoint((left + right) / 2, 119)})
        if (shot.pixelColor(p) != (source ? PatternColor(p.x() / 2, p.y() / 2) : result.pixelColor(p))) return false;
      return true;
    };
    QTest::keyPress(&window, Qt::Key_Space);
    QVERIFY(window.Command(CKestruneDlg::ID_VIEW_SOURCE)->isChecked() && shows(0, 239, true));
    QTest::mouseMove(window.PictureWidget(), QPoint(7, 5));
    QCOMPARE(StatusField(window, "pixel"), QStringLiteral("Source x 3, y 2: R 31  G 42  B 8"));
    // The key's repeats, a release and a press each, change nothing.
    for (const QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
      QKeyEvent repeat(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
      QCoreApplication::sendEvent(&window, &repeat);
    }
    QVERIFY(shows(0, 239, true));
    QTest::keyRelease(&window, Qt::Key_Space);
    QVERIFY(shows(0, 239, false));
    QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(window.Command(CKestruneDlg::ID_VIEW_SPLIT)->isChecked());
    QTest::mousePress(window.PictureWidget(), Qt::LeftButton, {}, QPoint(121, 50));
    QTest::mouseMove(window.PictureWidget(), QPoint(60, 50));
    QTest::mouseRelease(window.PictureWidget(), Qt::LeftButton, {}, QPoint(60, 50));
    QCOMPARE(window.View()->Divider(), 0.25);
    QVERIFY(shows(0, 58, true) && shows(61, 239, false));  // the divider line between
    window.OnEditUndoAll();
    QVERIFY(!window.View()->Split() && !window.Command(CKestruneDlg::ID_VIEW_SPLIT)->isChecked());
    QTest::keyPress(&window, Qt::Key_Space);
    QVERIFY(!window.View()->SourceShown());
    QVERIFY(messages.messages.empty());
  }

  void livePictureDuringNedi() {
    // NEDI finishes 16 output rows per strip. Each report shows them, a red
    // dashed line (8 on, 24 off) below, then the source as 2 x 2 blocks.
    kestrune::Image source(20, 24);  // a grey ramp
    for (int c = 0; c < 3; ++c)
      for (uint32_t i = 0; i < source.PixelCount(); ++i) source.Plane(c)[i] = 20.0f + 8 * (i % 20) + 3 * (i / 20);
    CKestruneDlg window;
    window.show();
    window.OnViewZoom(2.0);
    std::vector<std::tuple<QString, int, QImage>> shots;
    OnStatus(window, [&](const QString& text) {
      if (text == QStringLiteral("Initializing Kestrune...")) return;
      const QImage picture = DibToQImage(window.displayBitmap), shown = Shown(window);
      shots.emplace_back(text, window.progressDialog.progressBar->value(), picture);
      for (const QPoint p : {QPoint(0, 0), QPoint(17, 21), QPoint(39, 47)})
        QCOMPARE(shown.pixelColor(2 * p + QPoint(1, 1)), picture.pixelColor(p));
    });
    StartUpscale(window, source, QuickRun(0, 40, 48), 3);
    QVERIFY(WaitForRunEnd(window));

    auto SameRow = [](const QImage& a, const QImage& b, int y) { return a.copy(0, y, 40, 1) == b.copy(0, y, 40, 1); };
    const QImage final = Bytes(window.currentImage);
    const QImage blocky = Bytes(source).scaled(40, 48);
    QList<int> markers;
    int lastDone = 0, lastProgress = 0;
    for (const auto& [status, progress, picture] : shots) {
      int done = 0;
      while (done < 48 && SameRow(picture, final, done)) ++done;
      QVERIFY2(done >= lastDone && done % 16 == 0, qPrintable(status));
      if (status == QStringLiteral("Preparing for sharpness enhancement")) QCOMPARE(done, 48);
      if (done > 0 && done < 48) {
        markers << done;
        QImage marked = blocky.copy();
        for (int x = 0; x < 40; ++x)
          if ((x & 24) == 0) marked.setPixelColor(x, done, QColor(255, 0, 0));
        QVERIFY(SameRow(picture, marked, done));
      }
      for (int y = done > 0 ? done + 1 : 0; y < 48; ++y) QVERIFY2(SameRow(picture, blocky, y), qPrintable(status));
      QVERIFY(progress >= lastProgress && progress <= 5000);
      lastDone = done;
      lastProgress = progress;
    }
    QCOMPARE(markers, (QList<int>{16, 32}));
    QVERIFY(lastProgress > 0);
    // No marker remains in the result or the picture shown.
    const float* red = window.currentImage.Plane(kestrune::kRed);
    QVERIFY(std::equal(red, red + window.currentImage.PixelCount(), window.currentImage.Plane(kestrune::kGreen)));
    window.OnViewZoom(1.0);
    QCOMPARE(Shown(window).convertToFormat(QImage::Format_RGB888).copy(0, 0, 40, 48), final);
  }

  // Refusals leave the picture; "Load from file" of the right size is the
  // result; a downscaling.
  void refusalsLoadFromFileAndDownscale() {
    QTemporaryDir dir;
    const QString wrong = WriteImageFile(dir, QStringLiteral("wrong.bmp"), PatternImage(10, 10));
    const QString missing = dir.filePath(QStringLiteral("missing.bmp"));
    const struct {
      int width, height;
      Fields fields;  // none: refused before the dialog
      const char* message;
      QString file = {};  // "Load from file" answered with this file
    } cases[] = {
        {2, 9, {}, "The image is too small for Kestrune interpolation (at least 3 x 3 pixels)."},
        {60000, 3, {}, "The image is too large for Kestrune interpolation."},
        {4, 4, {{1128, "16"}}, "fractal substitutions"},  // the default two need 6 x 6
        {8, 8, {{1134, "-2"}}, "Edge-dir"},
        {8, 8, {{1131, "0.5"}}, "side lobe"},
        {8, 8, QuickRun(1, 100000, 100000), "The requested size is too large."},
        {8, 8, QuickRun(0, 16, 16), "Image dimensions do not match!", wrong},
        {8, 8, QuickRun(0, 16, 16), "\nthe file cannot be opened: No such file or directory", missing},
    };
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    for (const auto& c : cases) {
      messages.Clear();
      window.currentImage = PatternImage(c.width, c.height);
      const QSize before = window.size();
      dialogs.answers = {c.file};
      if (!c.fields.empty())
        AnswerNextDialog<CSRSettingsDlg>(c.fields, c.file.isEmpty() ? -1 : CSRSettingsDlg::kLoadFromFile);
      window.OnProcessUpscale();
      QVERIFY(!window.UpscaleRunning() && messages.messages.size() == 1);
      QVERIFY2(messages.messages[0].text.contains(QString::fromLatin1(c.message)), qPrintable(messages.Texts()[0]));
      QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
      QVERIFY(HasPattern(window.currentImage, c.width, c.height) && window.size() == before);
      QCoreApplication::processEvents();
    }
    messages.Clear();
    AnswerNextDialog<CSRSettingsDlg>({}, -1, false);  // Cancel: nothing at all
    window.OnProcessUpscale();
    QVERIFY(messages.messages.empty() && HasPattern(window.currentImage, 8, 8));

    dialogs.answers = {WriteImageFile(dir, QStringLiteral("right.bmp"), PatternImage(12, 10))};
    StartUpscale(window, PatternImage(6, 5), QuickRun(0, 12, 10), CSRSettingsDlg::kLoadFromFile);
    QVERIFY(WaitForRunEnd(window));
    QVERIFY(HasPattern(window.currentImage, 12, 10));

    // The hint search: Cancel disabled, the bar rising, the best score shown
    // never falling, then the final scaling.
    messages.Clear();
    window.show();
    window.currentImage = PatternImage(40, 30);
    window.loadedImage = window.currentImage;
    const auto log = StatusLog(window);
    bool cancelDisabled = true, progressRose = true;
    int lastProgress = 0;
    OnStatus(window, [&](const QString&) {
      cancelDisabled = cancelDisabled && !window.progressDialog.cancelButton->isEnabled();
      progressRose = progressRose && window.progressDialog.progressBar->value() >= lastProgress;
      lastProgress = window.progressDialog.progressBar->value();
    });
    AnswerNextDialog<CDownSettingsDlg>({{1130, "100000"}, {1135, "100000"}});
    window.OnProcessDownscale();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("The requested size is too large.")});
    AnswerNextDialog<CDownSettingsDlg>({{1130, "20"}, {1135, "15"}, {1161, "4"}});
    window.OnProcessDownscale();
    QCOMPARE(messages.messages.size(), std::size_t{1});
    QCOMPARE(QSize(window.currentImage.Width(), window.currentImage.Height()), QSize(20, 15));
    QVERIFY(!window.progressDialog.isVisible());
    QVERIFY(cancelDisabled && progressRose && lastProgress < 10000);
    const QStringList& lines = *log;
    QVERIFY(lines.size() >= 3 && lines.first() == "Searching for hints..." && lines.last() == "Final scaling...");
    const QRegularExpression best(QStringLiteral(R"(^Searching for hints\.\.\.  \(best hint so far: (\d+\.\d{3})\)$)"));
    double shownScore = 0.0;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
      const QRegularExpressionMatch match = best.match(lines[i]);
      QVERIFY2(match.hasMatch() && match.captured(1).toDouble() > shownScore, qPrintable(lines[i]));
      shownScore = match.captured(1).toDouble();
    }
    window.OnEditUndoAll();
    QVERIFY(HasPattern(window.currentImage, 40, 30));
  }

  // During a run commands replacing the image are refused; Copy and Save As
  // take the estimate shown. Cancel stops at the next check with a partial
  // result; closing waits for the run's end; destroying stops it.
  void commandsCancelAndClosingDuringRun() {
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("during.bmp"));
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    window.loadedImage = PatternImage(120, 60);
    const auto log = StatusLog(window);
    QImage shown;
    QSize pictureSize;
    bool cancelState = false;
    AtStatus(window, QStringLiteral("Iteration 1 of 1000"), [&] {
      pictureSize = window.PictureWidget()->size();
      window.OnFileOpen();
      window.LoadImageFile(dir.filePath(QStringLiteral("any.bmp")));
      window.OnEditPaste();
      window.OnEditUndoAll();
      window.OnProcessUpscale();
      window.OnProcessDownscale();
      shown = DibToQImage(window.displayBitmap);
      window.OnEditCopy();
      dialogs.answers = {saved};
      window.OnFileSaveAs();
      QTest::mouseClick(window.progressDialog.cancelButton, Qt::LeftButton);
      cancelState = window.progressDialog.cancelButton->text() == QStringLiteral("Canceling...") &&
                    !window.progressDialog.cancelButton->isEnabled() && !window.progressDialog.close();
    });
    StartUpscale(window, window.loadedImage, QuickRun(1000, 240, 120));
    QVERIFY(WaitForRunEnd(window));
    QVERIFY(cancelState && !window.progressDialog.isVisible());
    QCOMPARE(log->last(), QStringLiteral("Iteration 1 of 1000"));
    QCOMPARE(QSize(window.currentImage.Width(), window.currentImage.Height()), QSize(240, 120));
    QCOMPARE(messages.Texts(), QStringList(6, QString::fromLatin1(kBusyMessage)));
    QCOMPARE(dialogs.requests.size(), std::size_t{1});                       // only Save As asked for a file
    QVERIFY(pictureSize == QSize(240, 120) && shown.size() == pictureSize);  // the window fits the x2 picture
    QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888), shown);
    QCOMPARE(QImage(saved).convertToFormat(QImage::Format_RGB888), shown);
    window.OnEditUndoAll();  // works again after the run
    QVERIFY(HasPattern(window.currentImage, 120, 60));

    bool closeRefused = false;
    AtStatus(window, QStringLiteral("Iteration 2 of 1000"), [&] { closeRefused = !window.close(); });
    StartUpscale(window, PatternImage(40, 30), QuickRun(1000, 80, 60));
    QVERIFY(window.progressDialog.cancelButton->isEnabled() && window.progressDialog.cancelButton->text() == "Cancel");
    QVERIFY(QTest::qWaitFor([&] { return !window.isVisible(); }, 120000));
    QVERIFY(closeRefused && !window.UpscaleRunning() && window.currentImage.Width() == 80);

    auto* doomed = new CKestruneDlg;
    bool started = false;
    AtStatus(*doomed, QStringLiteral("Iteration 1 of 1000"), [&] { started = true; });
    StartUpscale(*doomed, PatternImage(40, 40), QuickRun(1000, 80, 80));
    QVERIFY(QTest::qWaitFor([&] { return started; }, 120000));
    delete doomed;
  }
};

QTEST_MAIN(UpscaleRunTest)
#include "upscale_run_test.moc"
