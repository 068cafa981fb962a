// The progress dialog: bar positions and percentages, the cancel states, the
// cancel event, and a fresh start after Finish.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/progress_dlg.h"

namespace {
// Counts the events of one type it receives.
class EventCounter : public QWidget {
 public:
  explicit EventCounter(int type) : type_(type) {}
  int count = 0;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == type_) ++count;
    return QWidget::event(e);
  }

 private:
  int type_;
};

QString LabelText(CProgressDlg& dialog, const char* id) {
  return dialog.findChild<QLabel*>(QString::fromLatin1(id))->text();
}
}  // namespace

class ProgressDlgTest : public QObject {
  Q_OBJECT
 private slots:
  void setProgressValues() {
    QWidget owner;
    CProgressDlg dialog;
    dialog.Start(QStringLiteral("Working"), &owner, false, nullptr, 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Progress"));
    QCOMPARE(dialog.progressBar->minimum(), 0);
    QCOMPARE(dialog.progressBar->maximum(), 10000);
    const struct {
      float percent;
      int bar;
      const char* text;
    } cases[] = {{0.0f, 0, "0 %"}, {50.0f, 5000, "50 %"}, {99.996f, 10000, "100 %"}, {0.4f, 40, "0 %"},
                 {37.4f, 3740, "37 %"}, {37.5f, 3750, "38 %"}};
    for (const auto& c : cases) {
      dialog.SetProgress(c.percent);
      QCOMPARE(dialog.progressBar->value(), c.bar);
      QCOMPARE(dialog.percentString, QString::fromLatin1(c.text));
      QCOMPARE(LabelText(dialog, "1152"), QString::fromLatin1(c.text));
    }
    dialog.SetStatusText(QStringLiteral("Iteration 3 of 24"));
    QCOMPARE(LabelText(dialog, "1151"), QStringLiteral("Iteration 3 of 24"));
    dialog.Finish();
    QVERIFY(!dialog.isVisible());
  }

  void cancelDuringRun() {
    QWidget owner;
    CProgressDlg dialog;
    std::atomic<bool> flag{true};
    dialog.Start(QStringLiteral("Initializing Kestrune..."), &owner, true, &flag, 0);
    QVERIFY(!flag);  // cleared by Start
    QCOMPARE(dialog.statusString, QStringLiteral("Initializing Kestrune..."));
    QCOMPARE(dialog.progressBar->value(), 0);
    QCOMPARE(dialog.percentString, QStringLiteral("0 %"));
    QVERIFY(dialog.cancelButton->isEnabled());
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Cancel"));

    QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
    QVERIFY(flag);
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Canceling..."));
    QVERIFY(!dialog.cancelButton->isEnabled());
    QVERIFY(dialog.isVisible());  // stays up until its operation finishes it

    // Esc repeats the same, and closing is refused.
    flag = false;
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(flag);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());

    dialog.Finish();
    QVERIFY(!dialog.isVisible());
    // A second operation starts afresh.
    dialog.Start(QStringLiteral("Again"), &owner, true, &flag, 0);
    QVERIFY(!flag);
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Cancel"));
    QVERIFY(dialog.cancelButton->isEnabled());
    dialog.Finish();
  }

  void cancelPostsMessageOnlyWhenGiven() {
    const int type = QEvent::User + 11;
    for (const uint32_t message : {0u, static_cast<uint32_t>(type)}) {
      EventCounter owner(type);
      CProgressDlg dialog;
      dialog.Start(QStringLiteral("Working"), &owner, true, nullptr, message);
      // No flag to set: the button changes, and the message (when given) is
      // posted, not sent.
      dialog.OnCancel();
      QCOMPARE(owner.count, 0);
      QCoreApplication::processEvents();
      QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Canceling..."));
      QVERIFY(!dialog.cancelButton->isEnabled());
      QCOMPARE(owner.count, message ? 1 : 0);
      dialog.Finish();
    }
  }
};

QTEST_MAIN(ProgressDlgTest)
#include "progress_dlg_test.moc"
