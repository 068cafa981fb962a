// The two settings dialogs (defaults shown, field checks and their messages,
// focus on the failing field, the aspect-ratio and "x2" buttons, tooltips)
// and the About box with its hyperlinks (texts, link targets, colours on
// hover and after a visit, the error messages).
#include <QCheckBox>
#include <QComboBox>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <initializer_list>
#include <tuple>
#include <utility>

#include "app/about_dlg.h"
#include "app/down_settings_dlg.h"
#include "app/hyperlink.h"
#include "app/sr_settings_dlg.h"
#include "app_test_support.h"

namespace {
QPushButton* Button(QWidget& dialog, const QString& name) { return dialog.findChild<QPushButton*>(name); }

// Replaces a field's text as a user would (so that it counts as an edit).
void Type(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

// Gives a dialog its start size and shows it (active, for the focus checks).
template <class Dialog>
void Show(Dialog& dialog, uint32_t width, uint32_t height, bool active = false) {
  dialog.newWidth = width;
  dialog.newHeight = height;
  dialog.show();
  if (!active) return;
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
}

// A value typed into one field of a fresh dialog, and the message OK gives.
struct Refusal {
  int id;
  const char* text;
  const char* message;
};

// Each refusal in a fresh, active dialog of w x h: its one message, the
// dialog still open and not accepted, the focus on the failing field.
template <class Dialog>
void ExpectRefusals(std::initializer_list<Refusal> cases, uint32_t w, uint32_t h) {
  for (const Refusal& c : cases) {
    MessageRecorder messages;
    Dialog dialog;
    Show(dialog, w, h, true);
    Type(Field(dialog, c.id), QString::fromLatin1(c.text));
    Button(dialog, QStringLiteral("IDOK"))->click();
    QCOMPARE(messages.Texts(), QStringList{QString::fromLatin1(c.message)});
    QVERIFY2(dialog.isVisible(), c.text);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Field(dialog, c.id)));
  }
}

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

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void defaults() {
    // Each field shows its member's default, the size fields the start size.
    CSRSettingsDlg up;
    Show(up, 320, 200);
    CDownSettingsDlg down;
    Show(down, 800, 600);
    const std::tuple<QDialog*, int, const char*> shown[] = {
        {&up, 1130, "320"},   {&up, 1135, "200"},   {&up, 1128, "16"},   {&up, 1129, "2"},  {&up, 1073, "3"},
        {&up, 1131, "0"},     {&up, 1132, "0.03"},  {&up, 1133, "1"},    {&up, 1134, "2"},  {&down, 1130, "800"},
        {&down, 1135, "600"}, {&down, 1163, "0.8"}, {&down, 1161, "12"}, {&down, 1162, "8"}};
    for (const auto& [dialog, id, text] : shown) QCOMPARE(Field(*dialog, id)->text(), QString::fromLatin1(text));
    for (QDialog* dialog : {static_cast<QDialog*>(&up), static_cast<QDialog*>(&down)})
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Kestrune settings"));
    auto* methods = up.findChild<QComboBox*>(QStringLiteral("1153"));
    QCOMPARE(methods->count(), 6);
    QCOMPARE(methods->currentText(), QStringLiteral("NEDI"));
    QCOMPARE(methods->itemText(4), QStringLiteral("Load from file"));
    QCOMPARE(methods->itemText(5), QStringLiteral("Learned"));
    auto* filters = down.findChild<QComboBox*>(QStringLiteral("1153"));
    QCOMPARE(filters->count(), 7);
    QCOMPARE(filters->currentText(), QStringLiteral("Catmull-Rom"));
    QCOMPARE(filters->itemText(0), QStringLiteral("Box"));
    QCOMPARE(filters->itemText(6), QStringLiteral("Sinc"));
    QVERIFY(!down.findChild<QPushButton*>(QStringLiteral("1158")));  // no "x2"
  }

  void jpegModelCheckBoxForJpegSourcesOnly() {
    for (bool jpeg : {false, true}) {
      CSRSettingsDlg dialog;
      dialog.jpegSource = jpeg;
      Show(dialog, 320, 200);
      auto* box = dialog.findChild<QCheckBox*>(QStringLiteral("1170"));
      QCOMPARE(box->isVisible(), jpeg);
      if (!jpeg) continue;
      QVERIFY(box->isChecked());
      QCOMPARE(box->text(), QStringLiteral("JPEG compression taken into account"));
      box->click();
      Button(dialog, QStringLiteral("IDOK"))->click();
      QVERIFY(!dialog.jpegModel);
    }
  }

  void upscaleDoubleAndRestore() {
    CSRSettingsDlg dialog;
    Show(dialog, 320, 200);
    Type(Field(dialog, 1128), QStringLiteral("40"));
    Type(Field(dialog, 1130), QStringLiteral("500"));
    Button(dialog, QStringLiteral("1158"))->click();
    QCOMPARE(Field(dialog, 1130)->text(), QStringLiteral("640"));
    QCOMPARE(Field(dialog, 1135)->text(), QStringLiteral("400"));
    // "x2" reads nothing: the typed iteration count returns to its member.
    QCOMPARE(Field(dialog, 1128)->text(), QStringLiteral("16"));
    QCOMPARE(dialog.iterations, 16);

    MessageRecorder messages;
    Button(dialog, QStringLiteral("IDOK"))->click();
    QVERIFY(messages.messages.empty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.newWidth, 640u);
    QCOMPARE(dialog.newHeight, 400u);
  }

  void aspectButton() {
    // The driving side keeps its value; the other follows the start size's
    // ratio, rounded half up and kept within 1..100000.
    const struct {
      uint32_t width, height;
      int typed;
      const char* value;
      int other;
      const char* expected;
    } cases[] = {
        {640, 480, 1130, "1000", 1135, "750"},
        {640, 480, 1130, "333", 1135, "250"},      // 249.75 + 0.5
        {640, 480, 1135, "96", 1130, "128"},       // typing in the height box makes the height drive
        {1000, 3, 1130, "1", 1135, "1"},           // 0.003 + 0.5, raised to 1
        {10, 1000, 1130, "2000", 1135, "100000"},  // not 200000
    };
    MessageRecorder messages;
    for (const auto& c : cases) {
      CDownSettingsDlg dialog;
      Show(dialog, c.width, c.height);
      Type(Field(dialog, c.typed), QString::fromLatin1(c.value));
      Button(dialog, QStringLiteral("1160"))->click();
      QCOMPARE(Field(dialog, c.other)->text(), QString::fromLatin1(c.expected));
    }
    QVERIFY(messages.messages.empty());

    // A failing field stops the reading with its message; the rule then works
    // with the members read so far, and every box shows its member again.
    CSRSettingsDlg dialog;
    Show(dialog, 640, 480);
    Type(Field(dialog, 1130), QStringLiteral("320"));
    Type(Field(dialog, 1129), QStringLiteral("many"));
    Button(dialog, QStringLiteral("1160"))->click();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Enter an integer.")});
    QCOMPARE(Field(dialog, 1135)->text(), QStringLiteral("480"));  // width 640 was never re-read
    QCOMPARE(Field(dialog, 1130)->text(), QStringLiteral("640"));
    QCOMPARE(Field(dialog, 1129)->text(), QStringLiteral("2"));
  }

  void upscaleChecks() {
    ExpectRefusals<CSRSettingsDlg>({{1128, "1001", "Enter an integer between 0 and 1000."},
                                    {1128, "2.5", "Enter an integer."},
                                    {1129, "101", "Enter an integer between 0 and 100."},
                                    {1073, "strong", "Enter a number."},
                                    {1131, "", "Enter a number."},
                                    {1132, "inf", "Enter a number."},
                                    {1130, "-5", "Enter a positive integer."},
                                    {1130, "0", "Enter an integer between 1 and 100000."},
                                    {1135, "99999999999", "Enter a positive integer."}},
                                   320, 200);
    {
      // Fields are checked in the transfer order: iterations before the width.
      MessageRecorder messages;
      CSRSettingsDlg dialog;
      Show(dialog, 320, 200, true);
      Type(Field(dialog, 1130), QStringLiteral("0"));
      Type(Field(dialog, 1128), QStringLiteral("2000"));
      Button(dialog, QStringLiteral("IDOK"))->click();
      QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Enter an integer between 0 and 1000.")});
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Field(dialog, 1128)));
    }
  }

  void upscaleAcceptsItsRanges() {
    MessageRecorder messages;
    CSRSettingsDlg dialog;
    Show(dialog, 320, 200);
    // 1000 iterations although the tooltip says 0-100.
    for (const auto& [id, text] : {std::pair{1128, "1000"}, {1129, " 100 "}, {1073, "-2.5e1"}, {1131, "0.1"},
                                   {1132, "7"}, {1133, "0"}, {1134, "-1"}, {1130, "100000"}, {1135, "1"}})
      Type(Field(dialog, id), QString::fromLatin1(text));
    dialog.findChild<QComboBox*>(QStringLiteral("1153"))->setCurrentIndex(4);
    Button(dialog, QStringLiteral("IDOK"))->click();
    QVERIFY(messages.messages.empty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.iterations, 1000);
    QCOMPARE(dialog.fractalSubsts, 100);
    QCOMPARE(dialog.beta, -25.0f);
    QCOMPARE(dialog.sideLobe, 0.1f);
    QCOMPARE(dialog.regularization, 7.0f);
    QCOMPARE(dialog.variableRegularization, 0.0f);
    QCOMPARE(dialog.edgeDirIterations, -1);
    QCOMPARE(dialog.initialMethod, CSRSettingsDlg::kLoadFromFile);
    QCOMPARE(dialog.newWidth, 100000u);
    QCOMPARE(dialog.newHeight, 1u);

    // Cancel reads nothing.
    CSRSettingsDlg cancelled;
    Show(cancelled, 320, 200);
    Type(Field(cancelled, 1128), QStringLiteral("99"));
    Button(cancelled, QStringLiteral("IDCANCEL"))->click();
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    QCOMPARE(cancelled.iterations, 16);
  }

  void downscaleChecks() {
    ExpectRefusals<CDownSettingsDlg>({{1163, "0.4", "Enter a number between 0.5 and 2."},
                                      {1163, "2.01", "Enter a number between 0.5 and 2."},
                                      {1161, "3", "Enter an integer between 4 and 256."},
                                      {1162, "-0.1", "Enter a number between 0 and 64."},
                                      {1162, "wide", "Enter a number."}},
                                     800, 600);
    MessageRecorder messages;
    CDownSettingsDlg dialog;
    Show(dialog, 800, 600);
    dialog.findChild<QComboBox*>(QStringLiteral("1153"))->setCurrentIndex(5);
    for (const auto& [id, text] : {std::pair{1130, "400"}, {1163, "2"}, {1161, "4"}, {1162, "0"}})
      Type(Field(dialog, id), QString::fromLatin1(text));
    Button(dialog, QStringLiteral("IDOK"))->click();
    QVERIFY(messages.messages.empty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.filterType, 5);
    QCOMPARE(dialog.newWidth, 400u);
    QCOMPARE(dialog.newHeight, 600u);
    QCOMPARE(dialog.smoothness, 2.0f);
    QCOMPARE(dialog.trials, 4);
    QCOMPARE(dialog.scaleDeviation, 0.0f);
  }

  void tooltips() {
    CSRSettingsDlg up;
    CDownSettingsDlg down;
    const std::pair<QWidget*, const char*> tips[] = {
        {Field(up, 1128), "Number of enhancemnent iterations (0-100) "},
        {Button(up, QStringLiteral("1158")), "Upscale the image by the factor of 2"},
        {down.findChild<QComboBox*>(QStringLiteral("1153")), "Initial image upsampling algorithm"},
        {Field(down, 1161), ""}};
    for (const auto& [widget, tip] : tips) QCOMPARE(widget->toolTip(), QString::fromLatin1(tip));
  }

  // The About box's texts and mail links; a link turns red under the mouse
  // and purple once visited; a failed open says why and leaves it unvisited.
  void aboutBox() {
    CAboutDlg about;
    about.show();
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

    CHyperLink* link = about.links[0];
    Hover(link, true);
    QCOMPARE(link->CurrentColour(), QColor(255, 0, 0));
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    Hover(link, false);
    QCOMPARE(link->CurrentColour(), QColor(0, 0, 255));

    OpenerScript opener(42);  // above 32: opened
    MessageRecorder messages;
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(opener.opened, QStringList{link->target});
    QVERIFY(messages.messages.empty());
    QCOMPARE(link->CurrentColour(), QColor(128, 0, 128));
    Hover(link, true);
    QCOMPARE(link->CurrentColour(), QColor(255, 0, 0));
    Hover(link, false);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(128, 0, 128));

    CHyperLink* failing = about.links[2];
    const std::pair<int, const char*> cases[] = {
        {2, "The specified file was not found."},
        {17, "Unknown Error (17) occurred."},
        {26, "A sharing violation occurred. "},
        {31, "There is no application associated\nwith the given filename extension."}};
    for (const auto& [code, text] : cases) {
      OpenerScript opener(code);
      MessageRecorder messages;
      failing->OnClicked();
      QVERIFY(!failing->visited);
      QCOMPARE(messages.Texts(),
               QStringList{QStringLiteral("Unable to open hyperlink:\n\n") + QString::fromLatin1(text)});
      QCOMPARE(messages.messages[0].icon, QMessageBox::Warning);
    }
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
