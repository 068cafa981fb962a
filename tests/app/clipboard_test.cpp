// Copy and Paste through the clipboard: the exact picture out, 24- and
// 32-bit bitmaps in, other image formats converted, refusals with messages.
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>

#include "app/clipboard.h"
#include "app/kestrune_dlg.h"
#include "app_test_support.h"

namespace {
void SetClipboardBmp(const QByteArray& bmp) {
  auto* mime = new QMimeData;
  mime->setData(QStringLiteral("image/bmp"), bmp);
  QApplication::clipboard()->setMimeData(mime);
}
}  // namespace

class ClipboardTest : public QObject {
  Q_OBJECT
 private slots:
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

    // With transparency the window shows the colour over a checkerboard of
    // 8-pixel white and light squares; the clipboard gets the colour and
    // its alpha.
    kestrune::Image clear(16, 2, true);
    for (int c = 0; c < 3; ++c) std::fill_n(clear.Plane(c), 32, c == 0 ? 200.0f : 0.0f);
    float* alpha = clear.Plane(kestrune::kAlpha);
    alpha[0] = 255.0f, alpha[1] = 127.5f;  // the rest 0
    window.currentImage = clear;
    window.FitWindowToImage();
    const QImage shown = window.PictureWidget()->grab().toImage();
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

    // No image: the clipboard is left alone.
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    CKestruneDlg empty;
    empty.OnEditCopy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("kept"));
  }

  void paste24And32Bit() {
    MessageRecorder messages;
    CKestruneDlg window;
    window.fileName = QStringLiteral("earlier.bmp");  // as if a file had been opened
    for (int bits : {24, 32}) {
      for (const QSize size : {QSize(1, 1), QSize(5, 3), QSize(16, 9)}) {
        SetClipboardBmp(PatternBmp(size.width(), size.height(), bits));
        window.OnEditPaste();
        QVERIFY2(HasPattern(window.currentImage, size.width(), size.height()), qPrintable(QString::number(bits)));
        QVERIFY(HasPattern(window.loadedImage, size.width(), size.height()));  // "Undo all" returns here
      }
    }
    QVERIFY(messages.messages.empty());
    QCOMPARE(window.fileName, QStringLiteral("earlier.bmp"));  // Save As still proposes it
  }

  void pasteOtherImageFormat() {
    // An image in another format (as a browser or a screenshot tool offers it)
    // is taken as a 32-bit bitmap; its alpha is dropped.
    QImage picture(4, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) picture.setPixelColor(x, y, PatternColor(x, y));
    QApplication::clipboard()->setImage(picture);
    const QByteArray dib = PackedDibFromMimeData(QApplication::clipboard()->mimeData());
    QCOMPARE(dib.size(), 40 + 4 * 4 * 3);
    QCOMPARE(static_cast<int>(dib[14]), 32);
    MessageRecorder messages;
    CKestruneDlg window;
    window.OnEditPaste();
    QVERIFY(messages.messages.empty());
    QVERIFY(HasPattern(window.currentImage, 4, 3));

    // Copy then Paste in the same program gives the same samples back.
    window.currentImage = PatternImage(21, 11);
    window.OnEditCopy();
    window.currentImage = kestrune::Image();
    window.OnEditPaste();
    QVERIFY(HasPattern(window.currentImage, 21, 11));
  }

  void pasteRefusals() {
    MessageRecorder messages;
    CKestruneDlg window;
    window.currentImage = PatternImage(6, 2);
    SetClipboardBmp(PatternBmp(4, 4, 16));
    window.OnEditPaste();
    QApplication::clipboard()->setText(QStringLiteral("not a picture"));
    window.OnEditPaste();
    QApplication::clipboard()->clear();
    window.OnEditPaste();
    QCOMPARE(messages.Texts(),
             (QStringList{"Unsupported bitmap format in the clipboard.\nOnly 24-bit RGB bitmaps are supported.",
                          "No bitmap in the clipboard.", "No bitmap in the clipboard."}));
    for (const MessageBoxRequest& m : messages.messages) QCOMPARE(m.icon, QMessageBox::Information);
    QVERIFY(HasPattern(window.currentImage, 6, 2));  // unchanged
    QVERIFY(window.loadedImage.IsEmpty());
  }
};

QTEST_MAIN(ClipboardTest)
#include "clipboard_test.moc"
