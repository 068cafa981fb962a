// The About box and the hyperlink control: texts, link targets, colours on
// hover and after a visit, the error messages, and sizing to the text.
#include <QEnterEvent>
#include <QLabel>
#include <QTest>

#include "app/about_dlg.h"
#include "app/hyperlink.h"
#include "app_test_support.h"

namespace {
// Replaces the desktop's URL handler with a fixed answer for its lifetime.
class OpenerScript {
 public:
  explicit OpenerScript(int result) {
    previous_ = CHyperLink::SetOpener([this, result](const QString& target) {
      opened << target;
      return result;
    });
  }
  ~OpenerScript() { CHyperLink::SetOpener(previous_); }
  QStringList opened;

 private:
  CHyperLink::Opener previous_;
};

void Hover(QWidget* widget, bool inside) {
  if (inside) {
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(widget, &enter);
  } else {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &leave);
  }
}
}  // namespace

class AboutTest : public QObject {
  Q_OBJECT
 private slots:
  void contents() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Kestrune"));
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
    for (const char* text : {"KESTRUNE Image Resampling", "Version 1.2", "Authors:",
                             "JPEG decoder - by Independent JPEG Group"})
      QVERIFY2(texts.contains(QString::fromLatin1(text)), text);
    for (CHyperLink* link : about.links) {
      QVERIFY(link->target.startsWith(QStringLiteral("mailto:")));
      QVERIFY(link->target.endsWith(QStringLiteral("@example.org")));
      QCOMPARE(link->toolTip(), link->target);
      QVERIFY(link->font().underline());
      QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
      QCOMPARE(link->CurrentColour(), QColor(0, 0, 255));
    }
  }

  void hoverAndVisit() {
    CAboutDlg about;
    about.show();
    CHyperLink* link = about.links[0];
    Hover(link, true);
    QVERIFY(link->hovering);
    QCOMPARE(link->CurrentColour(), QColor(255, 0, 0));
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    Hover(link, false);
    QCOMPARE(link->CurrentColour(), QColor(0, 0, 255));

    OpenerScript opener(42);  // above 32: opened
    MessageRecorder messages;
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(opener.opened, QStringList{link->target});
    QVERIFY(link->visited);
    QVERIFY(messages.messages.empty());
    QCOMPARE(link->CurrentColour(), QColor(128, 0, 128));
    Hover(link, true);
    QCOMPARE(link->CurrentColour(), QColor(255, 0, 0));
    Hover(link, false);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(128, 0, 128));
  }

  void openFailures() {
    // Each failure code gives its message; the link stays unvisited and can
    // be clicked again.
    CAboutDlg about;
    about.show();
    CHyperLink* link = about.links[2];
    const std::pair<int, const char*> cases[] = {
        {2, "The specified file was not found."},
        {17, "Unknown Error (17) occurred."},
        {26, "A sharing violation occurred. "},
        {31, "There is no application associated\nwith the given filename extension."}};
    for (const auto& [code, text] : cases) {
      OpenerScript opener(code);
      MessageRecorder messages;
      link->OnClicked();
      QVERIFY(!link->visited);
      QCOMPARE(messages.Texts(),
               QStringList{QStringLiteral("Unable to open hyperlink:\n\n") + QString::fromLatin1(text)});
      QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
    }
  }

  void fitToText() {
    QWidget parent;
    auto make = [&](Qt::Alignment align) {
      auto* link = new CHyperLink(&parent);
      link->setText(QStringLiteral("Link text"));
      link->setAlignment(align);
      link->setGeometry(100, 50, 200, 40);
      link->PreSubclassWindow();
      return link;
    };
    const int textWidth = QFontMetrics(make(Qt::AlignLeft)->linkFont).horizontalAdvance(QStringLiteral("Link text"));
    const int textHeight = QFontMetrics(make(Qt::AlignLeft)->linkFont).height();
    CHyperLink* left = make(Qt::AlignLeft | Qt::AlignTop);
    QCOMPARE(left->geometry(), QRect(100, 50, textWidth, textHeight));
    QCOMPARE(left->target, QStringLiteral("Link text"));  // an empty target takes the text
    CHyperLink* centred = make(Qt::AlignHCenter | Qt::AlignVCenter);
    const int shrinkX = (200 - textWidth) / 2, shrinkY = (40 - textHeight) / 2;
    QCOMPARE(centred->geometry(), QRect(100 + shrinkX, 50 + shrinkY, 200 - 2 * shrinkX, 40 - 2 * shrinkY));
    CHyperLink* right = make(Qt::AlignRight | Qt::AlignTop);
    QCOMPARE(right->geometry().right(), 299);
    QCOMPARE(right->geometry().width(), textWidth);
  }
};

QTEST_MAIN(AboutTest)
#include "about_test.moc"
