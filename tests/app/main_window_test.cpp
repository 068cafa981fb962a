// The main window: sizing to the picture and to the screen, scrolling, the
// zooms, the status bar, the 1:1 drawing, open, save and "Undo all" with real
// files, damaged and unreadable files, Copy and Paste through the clipboard,
// keys, drops and the commands without an image.
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <utility>

#include "app/clipboard.h"
#include "app/kestrune_dlg.h"
#include "app/picture_view.h"
#include "app_test_support.h"

namespace {
// The pixel of the viewport's top-left corner is the picture's pixel at the
// scroll bars' values (100 %).
QPoint ScrollValues(const CKestruneDlg& window) {
  return QPoint(window.View()->horizontalScrollBar()->value(), window.View()->verticalScrollBar()->value());
}

void Wheel(QWidget* widget, QPoint at, int notches, Qt::KeyboardModifiers modifiers) {
  QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(widget, &wheel);
}

void SetClipboardBmp(const QByteArray& bmp) {
  auto* mime = new QMimeData;
  mime->setData(QStringLiteral("image/bmp"), bmp);
  QApplication::clipboard()->setMimeData(mime);
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

  void menusAndIds() {
    CKestruneDlg window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Kestrune"));
    const std::pair<int, const char*> items[] = {
        {32771, "Open..."}, {32772, "Save As..."}, {32774, "Copy"}, {32775, "Paste"}, {32776, "Undo all"},
        {32777, "Kestrune interpolation..."}, {32778, "Downscale with hinting..."}, {32773, "About..."},
        {32779, "Fit to window"}, {32780, "Actual pixels (100 %)"}, {32781, "200 %"}, {32782, "Zoom in"},
        {32783, "Zoom out"}, {32784, "Compare with source"}, {32785, "Split view"}};
    for (const auto& [id, text] : items) {
      QAction* action = window.Command(id);
      QVERIFY2(action, text);
      QCOMPARE(action->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0), QString::fromLatin1(text));
      QVERIFY(action->isEnabled());
    }
    QStringList menus;
    for (QAction* menu : window.menuBar()->actions()) menus << menu->text().remove(QLatin1Char('&'));
    QCOMPARE(menus, (QStringList{"File", "Edit", "View", "Process", "Help"}));
    QVERIFY(window.Command(32784)->text().endsWith(QStringLiteral("\tHold Space")));
  }

  void windowSizing() {
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    for (const QSize size : {QSize(640, 480), QSize(700, 30), QSize(30, 700)}) {
      window.currentImage = PatternImage(size.width(), size.height());
      window.FitWindowToImage();
      QCoreApplication::processEvents();
      // The whole picture fits below the menu bar, with nothing to spare on
      // the side that exceeds the minimum.
      const QSize picture = window.PictureWidget()->size();
      QVERIFY(picture.width() >= size.width() && picture.height() >= size.height());
      if (size.width() + frame.width() > 200) QCOMPARE(picture.width(), size.width());
      if (size.height() > 200) QCOMPARE(picture.height(), size.height());
      QCOMPARE(window.PictureWidget()->mapTo(&window, QPoint(0, 0)).y(), window.menuBar()->height());
      // The status bar below adds its height to the outer height, which is
      // otherwise the picture's, the menu bar's and the frame's.
      if (size.height() > 100)
        QCOMPARE(window.frameGeometry().height(),
                 frame.height() + window.menuBar()->height() + size.height() + window.statusBar()->height());
    }
    // Small pictures and no picture give the minimum outer size 200 x 100.
    window.currentImage = PatternImage(50, 20);
    window.FitWindowToImage();
    QCOMPARE(window.frameGeometry().size(), QSize(200, 100));
    window.currentImage = kestrune::Image();
    window.FitWindowToImage();
    QCOMPARE(window.frameGeometry().size(), QSize(200, 100));
  }

  void drawsOneToOneAtTopLeft() {
    CKestruneDlg window;
    window.currentImage = PatternImage(300, 200);
    window.currentImage.Row(kestrune::kRed, 0)[0] = 254.5f;   // byte conversion: ties to even -> 254
    window.currentImage.Row(kestrune::kGreen, 0)[0] = -3.2f;  // clamped to 0
    window.currentImage.Row(kestrune::kBlue, 0)[0] = 300.0f;  // clamped to 255
    window.FitWindowToImage();
    QVERIFY(ShowExposed(window));
    const QImage shot = Shown(window);
    QCOMPARE(shot.pixelColor(0, 0), QColor(254, 0, 255));
    for (const QPoint p : {QPoint(1, 0), QPoint(299, 0), QPoint(0, 199), QPoint(299, 199), QPoint(123, 77)})
      QCOMPARE(shot.pixelColor(p), PatternColor(p.x(), p.y()));
  }

  // A picture larger than the screen: the window stays within the screen's
  // available area and the picture scrolls with the bars, the mouse and the wheel.
  void largePictureScrolls() {
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    window.currentImage = PatternImage(3000, 2000);
    window.FitWindowToImage();
    QCoreApplication::processEvents();
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    QVERIFY(window.View()->horizontalScrollBar()->isVisible() && window.View()->verticalScrollBar()->isVisible());
    QWidget* area = window.PictureWidget();
    const QPoint middle = area->rect().center();
    const struct {
      const char* how;
      std::function<void()> scroll;
    } moves[] = {
        {"bars", [&] { window.View()->horizontalScrollBar()->setValue(1700), window.View()->verticalScrollBar()->setValue(900); }},
        {"drag", [&] {
           QTest::mousePress(area, Qt::LeftButton, {}, middle);
           QTest::mouseMove(area, middle + QPoint(40, 25));
           QTest::mouseRelease(area, Qt::LeftButton, {}, middle + QPoint(40, 25));
         }},
        {"wheel", [&] { Wheel(area, middle, -2, Qt::NoModifier); }},
    };
    QPoint last = ScrollValues(window);
    for (const auto& move : moves) {
      move.scroll();
      const QPoint now = ScrollValues(window);
      QVERIFY2(now != last, move.how);
      // 100 %: each device pixel is the picture's pixel at the scrolled place.
      const QImage shot = Shown(window);
      for (const QPoint p : {QPoint(0, 0), QPoint(shot.width() - 1, shot.height() - 1)})
        QCOMPARE(shot.pixelColor(p), PatternColor(now.x() + p.x(), now.y() + p.y()));
      last = now;
    }
    QCOMPARE(last.x(), 1700 - 40);  // dragging right shows what lies left
    QVERIFY(last.y() > 900 - 25);   // the wheel turned towards the user scrolls down
    // A picture that fits again has no bars and starts at the top-left.
    window.currentImage = PatternImage(300, 200);
    window.FitWindowToImage();
    QCoreApplication::processEvents();
    QCOMPARE(area->size(), QSize(300, 200));
    QCOMPARE(ScrollValues(window), QPoint(0, 0));
    QVERIFY(!window.View()->horizontalScrollBar()->isVisible() && !window.View()->verticalScrollBar()->isVisible());
  }

  // The zoom keys and Ctrl+wheel: the picture area follows the zoomed
  // picture; 100 % is pixel-exact, 200 % shows each pixel as a 2 x 2 square,
  // reductions average; "fit" shows a picture larger than the screen whole.
  void zooms() {
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    window.currentImage = PatternImage(200, 150);
    window.FitWindowToImage();
    const struct {
      Qt::Key key;
      double zoom;
      QString label;
    } steps[] = {{Qt::Key_2, 2.0, "200 %"},          {Qt::Key_Minus, 1.5, "150 %"}, {Qt::Key_1, 1.0, "100 %"},
                 {Qt::Key_Plus, 1.5, "150 %"},       {Qt::Key_Equal, 2.0, "200 %"}, {Qt::Key_0, 1.0, "100 % (fit)"},
                 {Qt::Key_Minus, 2.0 / 3, "67 %"}, {Qt::Key_Minus, 0.5, "50 %"}};
    for (const auto& step : steps) {
      QTest::keyClick(&window, step.key, Qt::ControlModifier);
      QCoreApplication::processEvents();
      QCOMPARE(window.View()->Zoom(), step.zoom);
      QCOMPARE(StatusField(window, "zoom"), step.label);
      QCOMPARE(window.View()->ContentSize(), QSize(qRound(200 * step.zoom), qRound(150 * step.zoom)));
      if (step.zoom >= 1.0) QCOMPARE(window.PictureWidget()->size(), window.View()->ContentSize());
    }

    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QImage shot = Shown(window);
    for (const QPoint p : {QPoint(0, 0), QPoint(57, 31), QPoint(199, 149)})
      for (const QPoint corner : {QPoint(0, 0), QPoint(1, 1)})
        QCOMPARE(shot.pixelColor(2 * p + corner), PatternColor(p.x(), p.y()));
    QTest::keyClick(&window, Qt::Key_1, Qt::ControlModifier);
    QCoreApplication::processEvents();
    shot = Shown(window);
    for (const QPoint p : {QPoint(0, 0), QPoint(57, 31), QPoint(199, 149)})
      QCOMPARE(shot.pixelColor(p), PatternColor(p.x(), p.y()));

    // Black and white single pixels reduce to grey at 50 %.
    window.currentImage = GreyImage(200, 150, [](uint32_t x, uint32_t y) { return (x + y) % 2 ? 255.0f : 0.0f; });
    window.FitWindowToImage();
    window.OnViewZoom(0.5);
    const QColor grey = Shown(window).pixelColor(50, 40);
    QVERIFY2(grey.red() > 100 && grey.red() < 155, qPrintable(grey.name()));

    // Fit: a picture larger than the screen shows whole, without scroll bars.
    window.currentImage = PatternImage(3000, 2000);
    window.FitWindowToImage();
    QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QVERIFY(window.View()->Zoom() < 0.4);
    QCOMPARE(window.PictureWidget()->size(), window.View()->ContentSize());
    QVERIFY(!window.View()->horizontalScrollBar()->isVisible() && !window.View()->verticalScrollBar()->isVisible());
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));

    // Ctrl+wheel zooms in steps about the mouse: the pixel under it stays.
    window.OnViewZoom(1.0);
    window.View()->horizontalScrollBar()->setValue(1000);
    window.View()->verticalScrollBar()->setValue(700);
    const QPoint mouse(150, 120);
    const QPoint under = window.View()->PixelAt(mouse);
    for (const auto& [notches, zoom] : {std::pair{1, 1.5}, std::pair{2, 3.0}, std::pair{-1, 2.0}}) {
      Wheel(window.PictureWidget(), mouse, notches, Qt::ControlModifier);
      QCoreApplication::processEvents();
      QCOMPARE(window.View()->Zoom(), zoom);
      QCOMPARE(window.View()->PixelAt(mouse), under);
    }
  }

  // The status bar: the picture's size and depth, the zoom, and the pixel
  // under the mouse with its values in the file's depth.
  void statusBar() {
    QTemporaryDir dir;
    kestrune::Image deep = PatternImage(40, 30);
    deep.Metadata().depth = kestrune::SampleDepth::k16;
    kestrune::Image grey(40, 30, true);
    for (int c = 0; c < 4; ++c) std::fill_n(grey.Plane(c), grey.PixelCount(), c == kestrune::kAlpha ? 255.0f : 51.0f);
    grey.Metadata().depth = kestrune::SampleDepth::k32Float;
    grey.Metadata().greyscale = true;
    const struct {
      kestrune::Image image;
      double zoom;
      QPoint mouse;
      QString size;
      QString pixel;
    } cases[] = {
        {ReadImageFile(WriteFile(dir, QStringLiteral("p.bmp"), PatternBmp(40, 30, 24))), 1.0, QPoint(5, 7),
         QStringLiteral("40 \u00d7 30, RGB, 24 bits per pixel"), QStringLiteral("x 5, y 7: R 51  G 142  B 15")},
        {deep, 2.0, QPoint(11, 15), QStringLiteral("40 \u00d7 30, RGB, 16 bits per channel"),
         QStringLiteral("x 5, y 7: R 13107  G 36494  B 3855")},
        {grey, 1.0, QPoint(5, 7), QStringLiteral("40 \u00d7 30, grey + alpha, 32-bit float"),
         QStringLiteral("x 5, y 7: grey 0.200  A 1.000")},
    };
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    QCOMPARE(StatusField(window, "size"), QString());
    for (const auto& c : cases) {
      window.currentImage = c.image;
      window.FitWindowToImage();
      window.OnViewZoom(c.zoom);
      QCOMPARE(StatusField(window, "size"), c.size);
      QTest::mouseMove(window.PictureWidget(), c.mouse);
      QCOMPARE(StatusField(window, "pixel"), c.pixel);
    }
    QTest::mouseMove(window.PictureWidget(), QPoint(150, 5));  // beside the picture
    QCOMPARE(StatusField(window, "pixel"), QString());
  }

  // Open, "Undo all" and Save As by their keys, with real files: Save As
  // proposes the opened file's name and writes a 24-bit BMP, or PNG for a
  // name ending in ".png" in any letter case; a failed save says so.
  void openSaveAndUndoAll() {
    QTemporaryDir dir;
    const QString first = WriteFile(dir, QStringLiteral("first.bmp"), PatternBmp(7, 5, 24));
    const QString second = WriteFile(dir, QStringLiteral("second.bmp"), PatternBmp(12, 9, 32));
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));

    dialogs.answers = {first};
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(dialogs.requests.size(), std::size_t{1});  // one dialog, the open one
    QCOMPARE(dialogs.requests[0].kind, FileDialogKind::kOpen);
    QVERIFY(HasPattern(window.currentImage, 7, 5));
    QVERIFY(HasPattern(window.loadedImage, 7, 5));
    QCOMPARE(window.filePath, first);
    QCOMPARE(window.fileName, QStringLiteral("first.bmp"));

    QVERIFY(window.LoadImageFile(second));
    QVERIFY(HasPattern(window.currentImage, 12, 9));
    QCOMPARE(window.fileName, QStringLiteral("second.bmp"));
    window.currentImage = PatternImage(3, 3);
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);  // "Undo all"
    QVERIFY(HasPattern(window.currentImage, 12, 9));

    const QString saved = dir.filePath(QStringLiteral("saved.bmp"));
    dialogs.answers = {saved};
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(dialogs.requests.back().kind, FileDialogKind::kSave);
    QCOMPARE(dialogs.requests.back().proposedName, QStringLiteral("second.bmp"));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), 54 + 36 * 9);  // stride 3 x 12 = 36
    QCOMPARE(static_cast<int>(bytes[28]), 24);
    QVERIFY(HasPattern(ReadImageFile(saved), 12, 9));
    QCOMPARE(window.filePath, second);  // saving changes nothing in the window

    const QString png = dir.filePath(QStringLiteral("picture.PNG"));
    dialogs.answers = {png};
    window.OnFileSaveAs();
    QFile pngFile(png);
    QVERIFY(pngFile.open(QIODevice::ReadOnly));
    QVERIFY(pngFile.read(8) == QByteArray("\x89PNG\r\n\x1a\n", 8));
    QVERIFY(HasPattern(ReadImageFile(png), 12, 9));
    QVERIFY(messages.messages.empty());

    dialogs.answers = {dir.filePath(QStringLiteral("no/such/folder/x.bmp"))};
    window.OnFileSaveAs();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Error saving image file!")});
    QCOMPARE(messages.messages[0].caption, QStringLiteral("Error"));
    QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
  }

  // A file that cannot be read leaves the picture as it was, with a box
  // saying why after its path; a damaged file shows what could be read, with
  // a box saying what is missing; only a JPEG file's box is the JPEG
  // library's, with its words.
  void unreadableAndDamagedFiles() {
    QTemporaryDir dir;
    QImage picture(256, 192, QImage::Format_RGB888);
    for (int y = 0; y < 192; ++y)
      for (int x = 0; x < 256; ++x) picture.setPixelColor(x, y, QColor(x, y, 90));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "JPG", 90));
    const QByteArray bmp = PatternBmp(8, 8, 24);
    const QString good = WriteFile(dir, QStringLiteral("good.bmp"), bmp);
    const QString kestrune = QStringLiteral("Kestrune");
    const struct {
      QString path;
      bool shown;
      QString text;  // the start of the box's text after the file's path
      QString alsoSays;
      QString caption;
    } cases[] = {
        {WriteFile(dir, QStringLiteral("bad.bmp"), QByteArray("BMnot really an image")), false, "\n", {}, kestrune},
        {dir.filePath(QStringLiteral("missing.png")), false, "\n", {}, kestrune},
        {WriteFile(dir, QStringLiteral("cut.jpg"), jpeg.left(jpeg.size() / 2)), true,
         QStringLiteral("\nJPEG truncated after row "), QStringLiteral("\nPremature end of JPEG file"),
         QStringLiteral("JPEG Library Error")},
        {WriteFile(dir, QStringLiteral("cut.bmp"), bmp.left(54 + 24 * 3)), true,
         QStringLiteral("\nBMP truncated after row 3 of 8 (the top 5 rows are missing)"),
         QStringLiteral("\nShowing what could be read."), kestrune},
        {WriteFile(dir, QStringLiteral("bmp.jpg"), bmp.left(54 + 10)), false,
         QStringLiteral("\nBMP truncated after row 0 of 8 (all rows are missing)"), QString(), kestrune},
    };
    MessageRecorder messages;
    CKestruneDlg window;
    for (const auto& c : cases) {
      QVERIFY(window.LoadImageFile(good));
      const QSize size = window.size();
      messages.Clear();
      QCOMPARE(window.LoadImageFile(c.path), c.shown);
      QCOMPARE(messages.messages.size(), std::size_t{1});
      QCOMPARE(messages.messages[0].caption, c.caption);
      const QString text = messages.messages[0].text;
      QVERIFY2(text.startsWith(
                   (c.shown ? QStringLiteral("The image file is damaged: ") : QStringLiteral("Error loading image: ")) +
                   c.path + c.text),
               qPrintable(text));
      QVERIFY2(text.contains(c.alsoSays), qPrintable(text));
      if (c.shown) {
        QVERIFY(!window.currentImage.IsEmpty() && !HasPattern(window.currentImage, 8, 8));
        continue;
      }
      QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
      QVERIFY(HasPattern(window.currentImage, 8, 8));
      QVERIFY(HasPattern(window.loadedImage, 8, 8));
      QCOMPARE(window.filePath, good);
      QCOMPARE(window.size(), size);
    }
  }

  // The copy and paste keys (Ctrl+Shift+Insert copies, then pastes what it
  // copied; without a bitmap a paste says so), and Esc and Enter, which end
  // the program. Open, Save As and "Undo all" are keyed above.
  void keys() {
    MessageRecorder messages;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    window.currentImage = PatternImage(6, 6);
    for (const Qt::Key copy : {Qt::Key_Insert, Qt::Key_C}) {
      QApplication::clipboard()->clear();
      QTest::keyClick(&window, copy, Qt::ControlModifier);
      QCOMPARE(QApplication::clipboard()->image().size(), QSize(6, 6));
    }

    window.currentImage = PatternImage(9, 3);
    QTest::keyClick(&window, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(HasPattern(window.currentImage, 9, 3));
    QVERIFY(HasPattern(window.loadedImage, 9, 3));  // pasted: "Undo all" returns here
    QVERIFY(messages.messages.empty());

    QApplication::clipboard()->setText(QStringLiteral("words"));
    QTest::keyClick(&window, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(messages.Texts(), (QStringList{"No bitmap in the clipboard.", "No bitmap in the clipboard."}));

    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
      QVERIFY(ShowExposed(window));
      QTest::keyClick(&window, key);
      QVERIFY(!window.isVisible());
    }
  }

  void commandsWithoutImage() {
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    window.OnFileSaveAs();  // no image: no dialog at all
    QVERIFY(dialogs.requests.empty());
    window.OnProcessUpscale();
    window.OnProcessDownscale();
    QCOMPARE(messages.Texts(), (QStringList{"No image file opened yet.", "No image file opened yet."}));
    QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
    messages.Clear();
    dialogs.answers = {QString()};  // Open, then Cancel: nothing happens
    window.OnFileOpen();
    QVERIFY(window.currentImage.IsEmpty());
    QVERIFY(messages.messages.empty());
    // With nothing ever loaded, "Undo all" empties the window.
    window.currentImage = PatternImage(4, 4);
    window.OnEditUndoAll();
    QVERIFY(window.currentImage.IsEmpty());
  }

  void dropOpensFile() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, QStringLiteral("dropped.bmp"), PatternBmp(10, 4, 24));
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    QTRY_VERIFY(HasPattern(window.currentImage, 10, 4));
    QCOMPARE(window.fileName, QStringLiteral("dropped.bmp"));

    // Two files at once are not taken.
    mime.setUrls({QUrl::fromLocalFile(path), QUrl::fromLocalFile(path)});
    QDragEnterEvent twice(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &twice);
    QVERIFY(!twice.isAccepted());
  }

  // Copy places what the window shows: bytes rounded half to even and
  // clamped; with transparency the colour over a checkerboard of 8-pixel
  // white and light squares on screen, the colour and its alpha on the
  // clipboard. Without an image the clipboard is left alone.
  void copyPlacesWhatTheWindowShows() {
    CKestruneDlg window;
    window.currentImage = PatternImage(13, 7);
    window.currentImage.Row(kestrune::kRed, 2)[3] = 1.5f;    // ties to even: 2
    window.currentImage.Row(kestrune::kGreen, 2)[3] = 0.5f;  // 0
    window.currentImage.Row(kestrune::kBlue, 2)[3] = 999.f;  // 255
    window.OnEditCopy();
    const QImage copied = QApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(13, 7));
    QCOMPARE(copied.pixelColor(3, 2), QColor(2, 0, 255));
    for (const QPoint p : {QPoint(0, 0), QPoint(12, 0), QPoint(0, 6), QPoint(12, 6)})
      QCOMPARE(copied.pixelColor(p), PatternColor(p.x(), p.y()));

    kestrune::Image clear(16, 2, true);
    for (int c = 0; c < 3; ++c) std::fill_n(clear.Plane(c), 32, c == 0 ? 200.0f : 0.0f);
    float* alpha = clear.Plane(kestrune::kAlpha);
    alpha[0] = 255.0f, alpha[1] = 127.5f;  // the rest 0
    window.currentImage = clear;
    window.FitWindowToImage();
    const QImage shown = Shown(window);
    QCOMPARE(shown.pixelColor(0, 0), QColor(200, 0, 0));
    QCOMPARE(shown.pixelColor(1, 0), QColor(228, 128, 128));  // 200 x 0.5 + 255 x 0.5 = 227.5, 127.5
    QCOMPARE(shown.pixelColor(2, 0), QColor(255, 255, 255));
    QCOMPARE(shown.pixelColor(8, 0), QColor(204, 204, 204));
    window.OnEditCopy();
    const QImage withAlpha = QApplication::clipboard()->image();
    QVERIFY(withAlpha.hasAlphaChannel());
    QCOMPARE(qAlpha(withAlpha.pixel(0, 0)), 255);
    QCOMPARE(qAlpha(withAlpha.pixel(1, 0)), 128);
    QCOMPARE(qAlpha(withAlpha.pixel(9, 1)), 0);

    QApplication::clipboard()->setText(QStringLiteral("kept"));
    CKestruneDlg empty;
    empty.OnEditCopy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("kept"));
  }

  // 24- and 32-bit bitmaps paste exactly and become what "Undo all" returns
  // to; an image in another format (as a browser offers it) is taken as a
  // 32-bit bitmap without its alpha; the rest is refused with a message.
  void paste() {
    MessageRecorder messages;
    CKestruneDlg window;
    window.fileName = QStringLiteral("earlier.bmp");  // as if a file had been opened
    for (int bits : {24, 32}) {
      for (const QSize size : {QSize(1, 1), QSize(5, 3), QSize(16, 9)}) {
        SetClipboardBmp(PatternBmp(size.width(), size.height(), bits));
        window.OnEditPaste();
        QVERIFY2(HasPattern(window.currentImage, size.width(), size.height()), qPrintable(QString::number(bits)));
        QVERIFY(HasPattern(window.loadedImage, size.width(), size.height()));
      }
    }
    QCOMPARE(window.fileName, QStringLiteral("earlier.bmp"));  // Save As still proposes it

    QImage picture(4, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) picture.setPixelColor(x, y, PatternColor(x, y));
    QApplication::clipboard()->setImage(picture);
    const QByteArray dib = PackedDibFromMimeData(QApplication::clipboard()->mimeData());
    QCOMPARE(dib.size(), 40 + 4 * 4 * 3);
    QCOMPARE(static_cast<int>(dib[14]), 32);
    window.OnEditPaste();
    QVERIFY(HasPattern(window.currentImage, 4, 3));
    QVERIFY(messages.messages.empty());

    CKestruneDlg refusing;
    refusing.currentImage = PatternImage(6, 2);
    SetClipboardBmp(PatternBmp(4, 4, 16));
    refusing.OnEditPaste();
    QApplication::clipboard()->setText(QStringLiteral("not a picture"));
    refusing.OnEditPaste();
    QApplication::clipboard()->clear();
    refusing.OnEditPaste();
    QCOMPARE(messages.Texts(),
             (QStringList{"Unsupported bitmap format in the clipboard.\nOnly 24-bit RGB bitmaps are supported.",
                          "No bitmap in the clipboard.", "No bitmap in the clipboard."}));
    for (const MessageBoxRequest& m : messages.messages) QCOMPARE(m.icon, QMessageBox::Information);
    QVERIFY(HasPattern(refusing.currentImage, 6, 2));  // unchanged
    QVERIFY(refusing.loadedImage.IsEmpty());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
