// The two settings dialogs and the About box with its hyperlinks.

#include <tuple>

#include "app/about_dlg.h"
#include "app/down_settings_dlg.h"
#include "app/hyperlink.h"
#include "app/sr_settings_dlg.h"
#include "app_test_support.h"

namespace {
QPushButton* Button(QWidget& dialog, const char* name) { return dialog.findChild<QPushButton*>(name); }

using Typing = std::vector<std::pair<int, const char*>>;

// Types into fields (id, text) as a user would.
void Type(QWidget& dialog, const Typing& typed) {
  for (const auto& [id, text] : typed) {
    QLineEdit* edit = Field(dialog, id);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }
}

// Shows a dialog with its start size, active for the focus checks.
void Show(SizeSettingsDlg& dialog, uint32_t width, uint32_t height) {
  dialog.newWidth = width;
  dialog.newHeight = height;
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
}

// Answers the desktop's URL opening with `result`, for its lifetime.
struct OpenerScript {
  explicit OpenerScript(int result) {
    previous = CHyperLink::SetOpener([this, result](const QString& target) { return opened << target, result; });
  }
  ~OpenerScript() { CHyperLink::SetOpener(previous); }
  QStringList opened;
  CHyperLink::Opener previous;
};

void Hover(QWidget* widget, bool inside) {
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(widget, inside ? static_cast<QEvent*>(&enter) : &leave);
}
}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  // Defaults and start size shown; "x2" shows the members again; each field
  // reaches its member, its range's ends accepted; Cancel reads nothing.
  void defaultsDoubleAndValuesRead() {
    CSRSettingsDlg up;
    Show(up, 320, 200);
    CDownSettingsDlg down;
    Show(down, 800, 600);
    const std::tuple<QDialog*, int, const char*> shown[] = {
        {&up, 1130, "320"},   {&up, 1135, "200"},   {&up, 1128, "16"},   {&up, 1129, "2"},  {&up, 1073, "3"},
        {&up, 1131, "0"},     {&up, 1132, "0.03"},  {&up, 1133, "1"},    {&up, 1134, "2"},  {&down, 1130, "800"},
        {&down, 1135, "600"}, {&down, 1163, "0.8"}, {&down, 1161, "12"}, {&down, 1162, "8"}};
    for (const auto& [dialog, id, text] : shown) QCOMPARE(Field(*dialog, id)->text(), QString::fromLatin1(text));
    QCOMPARE(up.findChild<QComboBox*>("1153")->currentText(), QStringLiteral("NEDI"));
    QCOMPARE(up.findChild<QComboBox*>("1153")->itemText(5), QStringLiteral("Learned"));
    QCOMPARE(down.findChild<QComboBox*>("1153")->currentText(), QStringLiteral("Catmull-Rom"));

    Type(up, {{1128, "40"}, {1130, "500"}});
    Button(up, "1158")->click();
    QCOMPARE(Field(up, 1130)->text() + Field(up, 1135)->text() + Field(up, 1128)->text(), QStringLiteral("64040016"));
    MessageRecorder messages;
    Type(up,
         {{1128, "1000"}, {1129, " 100 "}, {1073, "-2.5e1"}, {1131, "0.1"}, {1132, "7"}, {1133, "0"}, {1134, "-1"}});
    up.findChild<QComboBox*>("1153")->setCurrentIndex(4);
    Button(up, "IDOK")->click();
    QCOMPARE(up.result(), int(QDialog::Accepted));
    QCOMPARE(std::tuple(up.iterations, up.fractalSubsts, up.edgeDirIterations, up.initialMethod),
             std::tuple(1000, 100, -1, int(CSRSettingsDlg::kLoadFromFile)));
    QCOMPARE(std::tuple(up.beta, up.sideLobe, up.regularization, up.variableRegularization),
             std::tuple(-25.0f, 0.1f, 7.0f, 0.0f));
    QCOMPARE(QPoint(up.newWidth, up.newHeight), QPoint(640, 400));

    down.findChild<QComboBox*>("1153")->setCurrentIndex(5);
    Type(down, {{1130, "100000"}, {1135, "1"}, {1163, "2"}, {1161, "4"}, {1162, "0"}});
    Button(down, "IDOK")->click();
    QCOMPARE(down.result(), int(QDialog::Accepted));
    QCOMPARE(std::tuple(down.filterType, down.trials, down.newWidth, down.newHeight), std::tuple(5, 4, 100000u, 1u));
    QCOMPARE(std::pair(down.smoothness, down.scaleDeviation), std::pair(2.0f, 0.0f));
    QVERIFY(messages.messages.empty());

    CSRSettingsDlg cancelled;
    Show(cancelled, 320, 200);
    Type(cancelled, {{1128, "99"}});
    Button(cancelled, "IDCANCEL")->click();
    QCOMPARE(std::pair(cancelled.result(), cancelled.iterations), std::pair(int(QDialog::Rejected), 16));
  }

  // A refused field: its message, the dialog open, the focus on the field.
  void fieldChecks() {
    const struct {
      bool down;
      Typing typed;  // the last field is the failing one
      const char* message;
    } cases[] = {
        {false, {{1128, "1001"}}, "Enter an integer between 0 and 1000."},
        {false, {{1128, "2.5"}}, "Enter an integer."},
        {false, {{1129, "101"}}, "Enter an integer between 0 and 100."},
        {false, {{1073, "strong"}}, "Enter a number."},
        {false, {{1132, "inf"}}, "Enter a number."},
        {false, {{1130, "-5"}}, "Enter a positive integer."},
        {false, {{1130, "0"}}, "Enter an integer between 1 and 100000."},
        {false, {{1135, "99999999999"}}, "Enter a positive integer."},
        {false, {{1130, "0"}, {1128, "2000"}}, "Enter an integer between 0 and 1000."},
        {true, {{1163, "0.4"}}, "Enter a number between 0.5 and 2."},
        {true, {{1161, "3"}}, "Enter an integer between 4 and 256."},
        {true, {{1162, "-0.1"}}, "Enter a number between 0 and 64."},
    };
    for (const auto& c : cases) {
      MessageRecorder messages;
      std::unique_ptr<SizeSettingsDlg> dialog(c.down ? static_cast<SizeSettingsDlg*>(new CDownSettingsDlg)
                                                     : new CSRSettingsDlg);
      Show(*dialog, 320, 200);
      Type(*dialog, c.typed);
      Button(*dialog, "IDOK")->click();
      QCOMPARE(messages.Texts(), QStringList{QString::fromLatin1(c.message)});
      QVERIFY2(dialog->isVisible() && dialog->result() == QDialog::Rejected, c.message);
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Field(*dialog, c.typed.back().first)));
    }
  }

  // The other side follows the start size's ratio, rounded, in 1..100000.
  void aspectButton() {
    const struct {
      uint32_t width, height;
      int typed;
      const char* value;
      const char* other;  // what the other box shows
    } cases[] = {
        {640, 480, 1130, "1000", "750"},    {640, 480, 1130, "333", "250"},  // 249.75 + 0.5
        {640, 480, 1130, "330", "248"},                                      // 247.5 + 0.5
        {640, 480, 1135, "96", "128"},       // typing in the height box makes the height drive
        {1000, 3, 1130, "1", "1"},           // 0.003 + 0.5, raised to 1
        {10, 1000, 1130, "2000", "100000"},  // not 200000
    };
    MessageRecorder messages;
    for (const auto& c : cases) {
      CDownSettingsDlg dialog;
      Show(dialog, c.width, c.height);
      Type(dialog, {{c.typed, c.value}});
      Button(dialog, "1160")->click();
      QCOMPARE(Field(dialog, c.typed == 1130 ? 1135 : 1130)->text(), QString::fromLatin1(c.other));
    }
    QVERIFY(messages.messages.empty());
  }

  // The JPEG model's box: a JPEG source's only, checked, read back.
  void jpegModelCheckBox() {
    for (bool jpeg : {false, true}) {
      CSRSettingsDlg dialog;
      dialog.jpegSource = jpeg;
      Show(dialog, 320, 200);
      auto* box = dialog.findChild<QCheckBox*>("1170");
      QVERIFY(box->isVisible() == jpeg && (!jpeg || box->isChecked()));
      if (jpeg) box->click();
      Button(dialog, "IDOK")->click();
      QCOMPARE(dialog.jpegModel, !jpeg);
    }
  }

  // The fractal field is greyed out with "Learned" and under "Reduced", and then not read.
  void fractalFieldGreyedOut() {
    for (const auto& [method, source, enabled] : {std::tuple{3, 0, true}, {5, 0, false}, {3, 1, false}, {3, 2, true}}) {
      CSRSettingsDlg dialog;
      Show(dialog, 320, 200);
      Type(dialog, {{1129, "101"}});
      dialog.findChild<QComboBox*>("1153")->setCurrentIndex(method);
      dialog.findChild<QComboBox*>("1171")->setCurrentIndex(source);
      MessageRecorder messages;
      Button(dialog, "IDOK")->click();
      QVERIFY(Field(dialog, 1129)->isEnabled() == enabled && messages.messages.empty() != enabled);
    }
  }

  // Links turn red under the mouse, purple once opened; a failure says why.
  void aboutBox() {
    CAboutDlg about;
    about.show();
    QStringList texts{about.windowTitle()};
    for (QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
    for (const char* text :
         {"About Kestrune", "KESTRUNE Image Resampling", "Authors:", "JPEG decoder - by Independent JPEG Group"})
      QVERIFY2(texts.contains(QString::fromLatin1(text)), text);
    CHyperLink* link = about.links[0];
    QVERIFY(link->target.startsWith(QStringLiteral("mailto:")) && link->toolTip() == link->target);
    QVERIFY(link->font().underline() && link->cursor().shape() == Qt::PointingHandCursor);
    QCOMPARE(link->CurrentColour(), QColor(0, 0, 255));
    OpenerScript opener(42);  // above 32: opened
    MessageRecorder messages;
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(opener.opened == QStringList{link->target} && messages.messages.empty());
    Hover(link, true);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    Hover(link, false);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(128, 0, 128));

    for (const auto& [code, text] :
         {std::pair{2, "The specified file was not found."}, {17, "Unknown Error (17) occurred."}}) {
      OpenerScript opener(code);
      about.links[2]->OnClicked();
      QVERIFY(!about.links[2]->visited);
      QCOMPARE(messages.Texts().takeLast(),
               QStringLiteral("Unable to open hyperlink:\n\n") + QString::fromLatin1(text));
    }
    QCOMPARE(messages.messages.back().icon, QMessageBox::Warning);
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
