// The main window: sizing to the picture, the 1:1 drawing, open, save and
// "Undo all" with real files, damaged and unreadable files, keys, drops and
// the commands without an image.
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QMenuBar>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "app/kestrune_dlg.h"
#include "app_test_support.h"

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

  void menusAndIds() {
    CKestruneDlg window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Kestrune"));
    const std::pair<int, const char*> items[] = {
        {32771, "Open..."}, {32772, "Save As..."}, {32774, "Copy"}, {32775, "Paste"}, {32776, "Undo all"},
        {32777, "Kestrune interpolation..."}, {32778, "Downscale with hinting..."}, {32773, "About..."}};
    for (const auto& [id, text] : items) {
      QAction* action = window.Command(id);
      QVERIFY2(action, text);
      QCOMPARE(action->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0), QString::fromLatin1(text));
      QVERIFY(action->isEnabled());
    }
    QStringList menus;
    for (QAction* menu : window.menuBar()->actions()) menus << menu->text().remove(QLatin1Char('&'));
    QCOMPARE(menus, (QStringList{"File", "Edit", "Process", "Help"}));
  }

  void windowSizing() {
    CKestruneDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    for (const QSize size : {QSize(640, 480), QSize(1000, 30), QSize(30, 700)}) {
      window.currentImage = PatternImage(size.width(), size.height());
      window.FitWindowToImage();
      QCoreApplication::processEvents();
      // The whole picture fits below the menu bar, with nothing to spare on
      // the side that exceeds the minimum.
      const QSize picture = window.PictureWidget()->size();
      QVERIFY(picture.width() >= size.width() && picture.height() >= size.height());
      if (size.width() + frame.width() > 200) QCOMPARE(picture.width(), size.width());
      if (size.height() > 200) QCOMPARE(picture.height(), size.height());
      QCOMPARE(window.PictureWidget()->y(), window.menuBar()->height());
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
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage shot = window.PictureWidget()->grab().toImage();
    QCOMPARE(shot.pixelColor(0, 0), QColor(254, 0, 255));
    for (const QPoint p : {QPoint(1, 0), QPoint(299, 0), QPoint(0, 199), QPoint(299, 199), QPoint(123, 77)})
      QCOMPARE(shot.pixelColor(p), PatternColor(p.x(), p.y()));
  }

  void openSaveAndUndoAll() {
    QTemporaryDir dir;
    const QString first = WriteFile(dir, QStringLiteral("first.bmp"), PatternBmp(7, 5, 24));
    const QString second = WriteFile(dir, QStringLiteral("second.bmp"), PatternBmp(12, 9, 32));
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    window.show();

    dialogs.answers = {first};
    window.OnFileOpen();
    QVERIFY(HasPattern(window.currentImage, 7, 5));
    QVERIFY(HasPattern(window.loadedImage, 7, 5));
    QCOMPARE(window.filePath, first);
    QCOMPARE(window.fileName, QStringLiteral("first.bmp"));

    QVERIFY(window.LoadImageFile(second));
    QVERIFY(HasPattern(window.currentImage, 12, 9));
    QCOMPARE(window.fileName, QStringLiteral("second.bmp"));

    // A changed picture returns to the file's with "Undo all".
    window.currentImage = PatternImage(3, 3);
    window.OnEditUndoAll();
    QVERIFY(HasPattern(window.currentImage, 12, 9));
    QCOMPARE(window.frameGeometry().width(), 200);  // small picture: minimum outer width

    // Save As proposes the opened file's name and writes a 24-bit BMP.
    const QString saved = dir.filePath(QStringLiteral("saved.bmp"));
    dialogs.answers = {saved};
    window.OnFileSaveAs();
    QCOMPARE(dialogs.requests.back().kind, FileDialogKind::kSave);
    QCOMPARE(dialogs.requests.back().proposedName, QStringLiteral("second.bmp"));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), 54 + 36 * 9);  // stride 3 x 12 = 36
    QCOMPARE(static_cast<int>(bytes[28]), 24);
    QVERIFY(HasPattern(ReadImageFile(saved), 12, 9));
    QCOMPARE(window.filePath, second);  // saving changes nothing in the window
    QVERIFY(messages.messages.empty());

    // With nothing ever loaded, "Undo all" empties the window.
    CKestruneDlg fresh;
    fresh.currentImage = PatternImage(4, 4);
    fresh.OnEditUndoAll();
    QVERIFY(fresh.currentImage.IsEmpty());
  }

  void loadFailureKeepsPicture() {
    QTemporaryDir dir;
    const QString good = WriteFile(dir, QStringLiteral("good.bmp"), PatternBmp(8, 8, 24));
    const QString failures[] = {WriteFile(dir, QStringLiteral("bad.bmp"), QByteArray("BMnot really an image")),
                                WriteFile(dir, QStringLiteral("empty.png"), QByteArray()),
                                dir.filePath(QStringLiteral("missing.png")), dir.path()};
    MessageRecorder messages;
    CKestruneDlg window;
    QVERIFY(window.LoadImageFile(good));
    const QSize size = window.size();
    for (const QString& path : failures) {
      messages.Clear();
      QVERIFY(!window.LoadImageFile(path));
      QCOMPARE(messages.messages.size(), std::size_t{1});
      QVERIFY(messages.messages[0].text.startsWith(QStringLiteral("Error loading image: ") + path + "\n"));
      QCOMPARE(messages.messages[0].caption, QStringLiteral("Kestrune"));
      QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
      QVERIFY(HasPattern(window.currentImage, 8, 8));
      QVERIFY(HasPattern(window.loadedImage, 8, 8));
      QCOMPARE(window.filePath, good);
      QCOMPARE(window.size(), size);
    }
  }

  // A damaged file shows what could be read and a box saying what is
  // missing; only a JPEG file's box is the JPEG library's, with its words.
  void damagedFilesShownWithAMessage() {
    QTemporaryDir dir;
    QImage picture(256, 192, QImage::Format_RGB888);
    for (int y = 0; y < 192; ++y)
      for (int x = 0; x < 256; ++x) picture.setPixelColor(x, y, QColor(x, y, 90));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "JPG", 90));
    const QByteArray bmp = PatternBmp(8, 8, 24);
    const struct {
      QString path;
      bool shown;
      QString text;  // the start of the box's text after the file's path
      QString alsoSays;
      QString caption;
    } cases[] = {
        {WriteFile(dir, QStringLiteral("cut.jpg"), jpeg.left(jpeg.size() / 2)), true,
         QStringLiteral("\nJPEG truncated after row "), QStringLiteral("\nPremature end of JPEG file"),
         QStringLiteral("JPEG Library Error")},
        {WriteFile(dir, QStringLiteral("cut.bmp"), bmp.left(54 + 24 * 3)), true,
         QStringLiteral("\nBMP truncated after row 3 of 8 (the top 5 rows are missing)"),
         QStringLiteral("\nShowing what could be read."), QStringLiteral("Kestrune")},
        {WriteFile(dir, QStringLiteral("bmp.jpg"), bmp.left(54 + 10)), false,
         QStringLiteral("\nBMP truncated after row 0 of 8 (all rows are missing)"), QString(),
         QStringLiteral("Kestrune")},
    };
    for (const auto& c : cases) {
      MessageRecorder messages;
      CKestruneDlg window;
      QCOMPARE(window.LoadImageFile(c.path), c.shown);
      QCOMPARE(window.currentImage.IsEmpty(), !c.shown);
      QCOMPARE(messages.messages.size(), std::size_t{1});
      QCOMPARE(messages.messages[0].caption, c.caption);
      const QString text = messages.messages[0].text;
      QVERIFY2(text.startsWith(
                   (c.shown ? QStringLiteral("The image file is damaged: ") : QStringLiteral("Error loading image: ")) +
                   c.path + c.text),
               qPrintable(text));
      QVERIFY2(text.contains(c.alsoSays), qPrintable(text));
    }
  }

  void saveFailureAndPng() {
    QTemporaryDir dir;
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    window.currentImage = PatternImage(5, 4);
    dialogs.answers = {dir.filePath(QStringLiteral("no/such/folder/x.bmp"))};
    window.OnFileSaveAs();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Error saving image file!")});
    QCOMPARE(messages.messages[0].caption, QStringLiteral("Error"));
    QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);

    // A name ending in ".png", in any letter case, is written as PNG.
    const QString png = dir.filePath(QStringLiteral("picture.PNG"));
    dialogs.answers = {png};
    window.OnFileSaveAs();
    QFile file(png);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(8) == QByteArray("\x89PNG\r\n\x1a\n", 8));
    QVERIFY(HasPattern(ReadImageFile(png), 5, 4));
    QCOMPARE(messages.messages.size(), std::size_t{1});
  }

  void keys() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, QStringLiteral("k.bmp"), PatternBmp(6, 6, 24));
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    dialogs.answers = {path};
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    QVERIFY(HasPattern(window.currentImage, 6, 6));

    for (const Qt::Key copy : {Qt::Key_Insert, Qt::Key_C}) {
      QApplication::clipboard()->clear();
      QTest::keyClick(&window, copy, Qt::ControlModifier);
      QCOMPARE(QApplication::clipboard()->image().size(), QSize(6, 6));
    }

    window.currentImage = PatternImage(2, 2);
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);  // "Undo all"
    QVERIFY(HasPattern(window.currentImage, 6, 6));

    dialogs.answers = {dir.filePath(QStringLiteral("keyed.bmp"))};
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("keyed.bmp"))));

    // Ctrl+Shift+Insert copies, then pastes what it copied.
    window.currentImage = PatternImage(9, 3);
    QTest::keyClick(&window, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(HasPattern(window.currentImage, 9, 3));
    QVERIFY(HasPattern(window.loadedImage, 9, 3));  // pasted: "Undo all" returns here
    QVERIFY(messages.messages.empty());

    // Shift+Insert and Ctrl+V paste; without a bitmap they say so.
    QApplication::clipboard()->setText(QStringLiteral("words"));
    QTest::keyClick(&window, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(messages.Texts(), (QStringList{"No bitmap in the clipboard.", "No bitmap in the clipboard."}));

    // Esc and Enter end the program.
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
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
  }

  void dropOpensFile() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, QStringLiteral("dropped.bmp"), PatternBmp(10, 4, 24));
    CKestruneDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
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
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
