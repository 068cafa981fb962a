// The main window driven by keys, mouse, drops and the clipboard.

#include "app_test_support.h"

namespace {
// The picture's pixel at the viewport's top-left corner (at 100 %).
QPoint ScrollValues(const CKestruneDlg& window) {
  return QPoint(window.View()->horizontalScrollBar()->value(), window.View()->verticalScrollBar()->value());
}

bool ScrollBarsShown(const CKestruneDlg& window) {
  return window.View()->horizontalScrollBar()->isVisible() || window.View()->verticalScrollBar()->isVisible();
}

void Wheel(QWidget* widget, QPoint at, int notches, Qt::KeyboardModifiers modifiers) {
  QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(widget, &wheel);
}

void Key(CKestruneDlg& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
  QTest::keyClick(&window, key, modifiers);
  QCoreApplication::processEvents();
}

void SetPicture(CKestruneDlg& window, kestrune::Image image) {
  window.currentImage = std::move(image);
  window.FitWindowToImage();
  QCoreApplication::processEvents();
}

// True when `shot` shows the pattern at 1:1 from picture pixel `origin`.
bool ShowsPattern(const QImage& shot, QPoint origin, std::initializer_list<QPoint> points) {
  for (const QPoint p : points)
    if (shot.pixelColor(p) != PatternColor(origin.x() + p.x(), origin.y() + p.y())) return false;
  return true;
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  // The window fits the picture (outer size at least 200 x 100), or the
  // screen, and then scrolls by the bars, a drag and the wheel.
  void sizingAndScrolling() {
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    for (const QSize size : {QSize(640, 480), QSize(700, 30), QSize(30, 700)}) {
      SetPicture(window, PatternImage(size.width(), size.height()));
      const QSize picture = window.PictureWidget()->size();
      QVERIFY(picture.width() >= size.width() && picture.height() >= size.height());
      if (size.width() > 200) QCOMPARE(picture.width(), size.width());
      if (size.height() > 200) QCOMPARE(picture.height(), size.height());
      QCOMPARE(window.PictureWidget()->mapTo(&window, QPoint(0, 0)).y(), window.menuBar()->height());
      if (size.height() > 100)
        QCOMPARE(window.frameGeometry().height(),
                 frame.height() + window.menuBar()->height() + size.height() + window.statusBar()->height());
    }
    for (const kestrune::Image& image : {PatternImage(50, 20), kestrune::Image()}) {
      SetPicture(window, image);
      QCOMPARE(window.frameGeometry().size(), QSize(200, 100));
    }

    SetPicture(window, PatternImage(3000, 2000));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    QWidget* area = window.PictureWidget();
    const QPoint middle = area->rect().center();
    window.View()->horizontalScrollBar()->setValue(1700);
    window.View()->verticalScrollBar()->setValue(900);
    QTest::mousePress(area, Qt::LeftButton, {}, middle);
    QTest::mouseMove(area, middle + QPoint(40, 25));
    QTest::mouseRelease(area, Qt::LeftButton, {}, middle + QPoint(40, 25));
    QCOMPARE(ScrollValues(window), QPoint(1660, 875));  // dragging shows what lies left and up
    Wheel(area, middle, -2, Qt::NoModifier);
    QVERIFY(ScrollValues(window).y() > 875);  // the wheel turned towards the user scrolls down
    const QImage shot = Shown(window);
    QVERIFY(ShowsPattern(shot, ScrollValues(window), {QPoint(0, 0), QPoint(shot.width() - 1, shot.height() - 1)}));
    SetPicture(window, PatternImage(300, 200));
    QCOMPARE(area->size(), QSize(300, 200));
    QCOMPARE(ScrollValues(window), QPoint(0, 0));
    QVERIFY(!ScrollBarsShown(window));
  }

  // The status bar: size, depth and the pixel under the mouse in the file's
  // depth. The zoom keys, "fit" and Ctrl+wheel (about the mouse).
  void statusBarAndZooms() {
    QTemporaryDir dir;
    kestrune::Image deep = PatternImage(40, 30);
    deep.Metadata().depth = kestrune::SampleDepth::k16;
    kestrune::Image grey(40, 30, true);
    for (int c = 0; c < 4; ++c) std::fill_n(grey.Plane(c), grey.PixelCount(), c == kestrune::kAlpha ? 255.0f : 51.0f);
    grey.Metadata().depth = kestrune::SampleDepth::k32Float;
    grey.Metadata().greyscale = true;
    const std::tuple<kestrune::Image, double, QPoint, QString, QString> cases[] = {
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
    for (const auto& [image, zoom, mouse, size, pixel] : cases) {
      SetPicture(window, image);
      window.OnViewZoom(zoom);
      QCOMPARE(StatusField(window, "size"), size);
      QTest::mouseMove(window.PictureWidget(), mouse);
      QCOMPARE(StatusField(window, "pixel"), pixel);
    }
    QTest::mouseMove(window.PictureWidget(), QPoint(150, 5));  // beside the picture
    QCOMPARE(StatusField(window, "pixel"), QString());

    SetPicture(window, PatternImage(200, 150));
    const std::tuple<Qt::Key, double, const char*> steps[] = {
        {Qt::Key_2, 2.0, "200 %"},        {Qt::Key_Minus, 1.5, "150 %"}, {Qt::Key_1, 1.0, "100 %"},
        {Qt::Key_Plus, 1.5, "150 %"},     {Qt::Key_Equal, 2.0, "200 %"}, {Qt::Key_0, 1.0, "100 % (fit)"},
        {Qt::Key_Minus, 2.0 / 3, "67 %"}, {Qt::Key_Minus, 0.5, "50 %"},  {Qt::Key_2, 2.0, "200 %"}};
    for (const auto& [key, zoom, label] : steps) {
      Key(window, key);
      QCOMPARE(window.View()->Zoom(), zoom);
      QCOMPARE(StatusField(window, "zoom"), QString::fromLatin1(label));
      QCOMPARE(window.View()->ContentSize(), QSize(qRound(200 * zoom), qRound(150 * zoom)));
    }
    const QImage twice = Shown(window);
    for (const QPoint p : {QPoint(0, 0), QPoint(57, 31), QPoint(199, 149)})
      for (const QPoint corner : {QPoint(0, 0), QPoint(1, 1)})
        QCOMPARE(twice.pixelColor(2 * p + corner), PatternColor(p.x(), p.y()));
    Key(window, Qt::Key_1);
    QCOMPARE(window.PictureWidget()->size(), QSize(200, 150));
    QVERIFY(ShowsPattern(Shown(window), QPoint(0, 0), {QPoint(0, 0), QPoint(57, 31), QPoint(199, 149)}));

    SetPicture(window, PatternImage(3000, 2000));
    Key(window, Qt::Key_0);
    QVERIFY(window.View()->Zoom() < 0.4);
    QCOMPARE(window.PictureWidget()->size(), window.View()->ContentSize());
    QVERIFY(!ScrollBarsShown(window));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));

    window.OnViewZoom(1.0);
    window.View()->horizontalScrollBar()->setValue(1000);
    window.View()->verticalScrollBar()->setValue(700);
    const QPoint mouse(150, 120);
    const QPoint under = window.View()->PixelAt(mouse);
    for (const auto& [notches, zoom] : {std::pair{1, 1.5}, std::pair{2, 3.0}, std::pair{-1, 2.0}}) {
      Wheel(window.PictureWidget(), mouse, notches, Qt::ControlModifier);
      QCOMPARE(window.View()->Zoom(), zoom);
      QCOMPARE(window.View()->PixelAt(mouse), under);
    }
  }

  // Open (key or a drop of one file), "Undo all", Save As: a 24-bit BMP, or
  // PNG for ".png" in any case, under the opened file's name.
  void openSaveAndUndoAll() {
    QTemporaryDir dir;
    const QString first = WriteFile(dir, QStringLiteral("first.bmp"), PatternBmp(7, 5, 24));
    const QString second = WriteFile(dir, QStringLiteral("second.bmp"), PatternBmp(12, 9, 32));
    MessageRecorder messages;
    FileDialogScript dialogs;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    Key(window, Qt::Key_S);
    window.OnProcessUpscale();
    window.OnProcessDownscale();
    QCOMPARE(messages.Texts(), (QStringList{"No image file opened yet.", "No image file opened yet."}));
    QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
    messages.Clear();
    dialogs.answers = {QString(), first};  // Cancel, then the file
    Key(window, Qt::Key_O);
    QVERIFY(window.currentImage.IsEmpty());
    Key(window, Qt::Key_O);
    QVERIFY(dialogs.requests.size() == 2 && dialogs.requests[0].first == FileDialogKind::kOpen);
    QVERIFY(HasPattern(window.currentImage, 7, 5));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(second), QUrl::fromLocalFile(first)});
    for (int files : {2, 1}) {
      QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(&window, &enter);
      QCOMPARE(enter.isAccepted(), files == 1);  // two files at once are not taken
      mime.setUrls({QUrl::fromLocalFile(second)});
    }
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    QTRY_VERIFY(HasPattern(window.currentImage, 12, 9));
    window.currentImage = PatternImage(3, 3);
    Key(window, Qt::Key_Z);  // "Undo all"
    QVERIFY(HasPattern(window.currentImage, 12, 9));

    const QString saved = dir.filePath(QStringLiteral("saved.bmp"));
    const QString png = dir.filePath(QStringLiteral("picture.PNG"));
    dialogs.answers = {saved, png, dir.filePath(QStringLiteral("no/such/folder/x.bmp"))};
    Key(window, Qt::Key_S);
    QCOMPARE(dialogs.requests.back(), std::pair(FileDialogKind::kSave, QStringLiteral("second.bmp")));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(std::pair(bytes.size(), int(bytes[28])), std::pair(qsizetype(54 + 36 * 9), 24));  // stride 3 x 12
    QVERIFY(HasPattern(ReadImageFile(saved), 12, 9));
    QCOMPARE(window.filePath, second);  // saving changes nothing in the window
    window.OnFileSaveAs();
    QFile pngFile(png);
    QVERIFY(pngFile.open(QIODevice::ReadOnly) && pngFile.read(4) == "\x89PNG");
    QVERIFY(HasPattern(ReadImageFile(png), 12, 9));
    QVERIFY(messages.messages.empty());
    window.OnFileSaveAs();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Error saving image file!")});
    QCOMPARE(messages.messages[0].caption, QStringLiteral("Error"));
  }

  // An unreadable file changes nothing; a damaged one shows what was read;
  // the box says why, a JPEG file's in the JPEG library's words.
  void unreadableAndDamagedFiles() {
    QTemporaryDir dir;
    const QImage picture = QImage::fromData(PatternBmp(256, 192, 24));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "JPG", 90));
    const QByteArray bmp = PatternBmp(8, 8, 24);
    const QString good = WriteFile(dir, QStringLiteral("good.bmp"), bmp);
    const char* kestrune = "Kestrune";
    const std::tuple<QString, bool, const char*, const char*, const char*> cases[] = {
        // path, shown, the text after the path, more text, caption
        {WriteFile(dir, QStringLiteral("bad.bmp"), QByteArray("BMnot really an image")), false, "\n", "", kestrune},
        {WriteFile(dir, QStringLiteral("cut.jpg"), jpeg.left(jpeg.size() / 2)), true, "\nJPEG truncated after row ",
         "\nPremature end of JPEG file", "JPEG Library Error"},
        {WriteFile(dir, QStringLiteral("cut.bmp"), bmp.left(54 + 24 * 3)), true,
         "\nBMP truncated after row 3 of 8 (the top 5 rows are missing)", "\nShowing what could be read.", kestrune},
        {WriteFile(dir, QStringLiteral("bmp.jpg"), bmp.left(54 + 10)), false,
         "\nBMP truncated after row 0 of 8 (all rows are missing)", "", kestrune},
    };
    MessageRecorder messages;
    CKestruneDlg window;
    for (const auto& [path, shown, after, alsoSays, caption] : cases) {
      QVERIFY(window.LoadImageFile(good));
      const QSize size = window.size();
      messages.Clear();
      QCOMPARE(window.LoadImageFile(path), shown);
      QVERIFY(messages.messages.size() == 1 && messages.messages[0].caption == QString::fromLatin1(caption));
      const QString text = messages.messages[0].text;
      const QString start = shown ? QStringLiteral("The image file is damaged: ")
                                  : QStringLiteral("Error loading image: ");
      QVERIFY2(text.startsWith(start + path + after) && text.contains(QString::fromLatin1(alsoSays)), qPrintable(text));
      QVERIFY(!window.currentImage.IsEmpty() && HasPattern(window.currentImage, 8, 8) == !shown);
      if (!shown) QVERIFY(HasPattern(window.loadedImage, 8, 8) && window.filePath == good && window.size() == size);
    }
  }

  // Copy takes the bytes shown (alpha over a checkerboard on screen, kept on
  // the clipboard); 24- and 32-bit bitmaps and other images paste, other
  // depths are refused; Ctrl+Shift+Insert copies and pastes.
  void copyAndPaste() {
    MessageRecorder messages;
    CKestruneDlg window;
    QVERIFY(ShowExposed(window));
    kestrune::Image image = PatternImage(13, 7);
    image.Row(kestrune::kRed, 0)[0] = 1.5f;    // ties to even: 2
    image.Row(kestrune::kGreen, 0)[0] = 0.5f;  // 0
    image.Row(kestrune::kBlue, 0)[0] = 999.f;  // 255
    SetPicture(window, image);
    QCOMPARE(Shown(window).pixelColor(0, 0), QColor(2, 0, 255));
    for (const Qt::Key copy : {Qt::Key_Insert, Qt::Key_C}) {
      QApplication::clipboard()->clear();
      Key(window, copy);
      const QImage copied = QApplication::clipboard()->image();
      QCOMPARE(copied.size(), QSize(13, 7));
      QCOMPARE(copied.pixelColor(0, 0), QColor(2, 0, 255));
      QVERIFY(ShowsPattern(copied, QPoint(0, 0), {QPoint(1, 0), QPoint(12, 6)}));
    }
    window.currentImage = PatternImage(9, 3);
    Key(window, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(HasPattern(window.currentImage, 9, 3));
    QVERIFY(HasPattern(window.loadedImage, 9, 3));  // pasted: "Undo all" returns here

    kestrune::Image clear(16, 2, true);
    for (int c = 0; c < 3; ++c) std::fill_n(clear.Plane(c), 32, c == 0 ? 200.0f : 0.0f);
    float* alpha = clear.Plane(kestrune::kAlpha);
    alpha[0] = 255.0f, alpha[1] = 127.5f;  // the rest 0
    SetPicture(window, clear);
    const QImage shown = Shown(window);  // 200 x 0.5 + 255 x 0.5 = 227.5 and 127.5 at x 1
    for (const auto& [x, colour] : {std::pair{0, QColor(200, 0, 0)},
                                    {1, QColor(228, 128, 128)},
                                    {2, QColor(255, 255, 255)},
                                    {8, QColor(204, 204, 204)}})
      QCOMPARE(shown.pixelColor(x, 0), colour);
    window.OnEditCopy();
    const QImage withAlpha = QApplication::clipboard()->image();
    QCOMPARE(std::tuple(qAlpha(withAlpha.pixel(0, 0)), qAlpha(withAlpha.pixel(1, 0)), qAlpha(withAlpha.pixel(9, 1))),
             std::tuple(255, 128, 0));

    QApplication::clipboard()->setText(QStringLiteral("kept"));
    CKestruneDlg().OnEditCopy();  // without an image the clipboard is left alone
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("kept"));
    Key(window, Qt::Key_Insert, Qt::ShiftModifier);
    Key(window, Qt::Key_V);
    QCOMPARE(messages.Texts(), (QStringList{"No bitmap in the clipboard.", "No bitmap in the clipboard."}));

    messages.Clear();
    window.fileName = QStringLiteral("earlier.bmp");  // as if a file had been opened
    for (const auto& [size, bits] :
         {std::pair{QSize(1, 1), 24}, {QSize(5, 3), 24}, {QSize(5, 3), 32}, {QSize(16, 9), 32}, {QSize(4, 4), 16}}) {
      auto* mime = new QMimeData;
      mime->setData(QStringLiteral("image/bmp"), PatternBmp(size.width(), size.height(), bits));
      QApplication::clipboard()->setMimeData(mime);
      Key(window, Qt::Key_V);
      if (bits == 16) break;
      QVERIFY2(HasPattern(window.currentImage, size.width(), size.height()), qPrintable(QString::number(bits)));
      QVERIFY(HasPattern(window.loadedImage, size.width(), size.height()));
      QCOMPARE(window.fileName, QStringLiteral("earlier.bmp"));  // Save As still proposes it
    }
    QVERIFY(HasPattern(window.currentImage, 16, 9));  // unchanged by the refusal
    QCOMPARE(messages.Texts(),
             QStringList{"Unsupported bitmap format in the clipboard.\nOnly 24-bit RGB bitmaps are supported."});
    QCOMPARE(messages.messages[0].icon, QMessageBox::Information);
    QImage picture(4, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) picture.setPixelColor(x, y, PatternColor(x, y));
    QApplication::clipboard()->setImage(picture);
    Key(window, Qt::Key_V);
    QVERIFY(HasPattern(window.currentImage, 4, 3));
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
      QVERIFY(ShowExposed(window));
      QTest::keyClick(&window, key);
      QVERIFY(!window.isVisible());
    }
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
