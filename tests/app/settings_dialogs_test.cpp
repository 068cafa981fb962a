// The two settings dialogs: defaults shown, field checks and their messages,
// focus on the failing field, the aspect-ratio and "x2" buttons, tooltips.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <initializer_list>
#include <tuple>

#include "app/down_settings_dlg.h"
#include "app/sr_settings_dlg.h"
#include "app_test_support.h"

namespace {
QLineEdit* Edit(QWidget& dialog, int id) { return dialog.findChild<QLineEdit*>(QString::number(id)); }
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
    Type(Edit(dialog, c.id), QString::fromLatin1(c.text));
    Button(dialog, QStringLiteral("IDOK"))->click();
    QCOMPARE(messages.Texts(), QStringList{QString::fromLatin1(c.message)});
    QVERIFY2(dialog.isVisible(), c.text);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Edit(dialog, c.id)));
  }
}

}  // namespace

class SettingsDialogsTest : public QObject {
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
    for (const auto& [dialog, id, text] : shown) QCOMPARE(Edit(*dialog, id)->text(), QString::fromLatin1(text));
    for (QDialog* dialog : {static_cast<QDialog*>(&up), static_cast<QDialog*>(&down)})
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Kestrune settings"));
    auto* methods = up.findChild<QComboBox*>(QStringLiteral("1153"));
    QCOMPARE(methods->count(), 5);
    QCOMPARE(methods->currentText(), QStringLiteral("NEDI"));
    QCOMPARE(methods->itemText(4), QStringLiteral("Load from file"));
    auto* filters = down.findChild<QComboBox*>(QStringLiteral("1153"));
    QCOMPARE(filters->count(), 7);
    QCOMPARE(filters->currentText(), QStringLiteral("Catmull-Rom"));
    QCOMPARE(filters->itemText(0), QStringLiteral("Box"));
    QCOMPARE(filters->itemText(6), QStringLiteral("Sinc"));
    QVERIFY(!down.findChild<QPushButton*>(QStringLiteral("1158")));  // no "x2"
  }

  void upscaleDoubleAndRestore() {
    CSRSettingsDlg dialog;
    Show(dialog, 320, 200);
    Type(Edit(dialog, 1128), QStringLiteral("40"));
    Type(Edit(dialog, 1130), QStringLiteral("500"));
    Button(dialog, QStringLiteral("1158"))->click();
    QCOMPARE(Edit(dialog, 1130)->text(), QStringLiteral("640"));
    QCOMPARE(Edit(dialog, 1135)->text(), QStringLiteral("400"));
    // "x2" reads nothing: the typed iteration count returns to its member.
    QCOMPARE(Edit(dialog, 1128)->text(), QStringLiteral("16"));
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
      Type(Edit(dialog, c.typed), QString::fromLatin1(c.value));
      Button(dialog, QStringLiteral("1160"))->click();
      QCOMPARE(Edit(dialog, c.other)->text(), QString::fromLatin1(c.expected));
    }
    QVERIFY(messages.messages.empty());

    // A failing field stops the reading with its message; the rule then works
    // with the members read so far, and every box shows its member again.
    CSRSettingsDlg dialog;
    Show(dialog, 640, 480);
    Type(Edit(dialog, 1130), QStringLiteral("320"));
    Type(Edit(dialog, 1129), QStringLiteral("many"));
    Button(dialog, QStringLiteral("1160"))->click();
    QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Enter an integer.")});
    QCOMPARE(Edit(dialog, 1135)->text(), QStringLiteral("480"));  // width 640 was never re-read
    QCOMPARE(Edit(dialog, 1130)->text(), QStringLiteral("640"));
    QCOMPARE(Edit(dialog, 1129)->text(), QStringLiteral("2"));
  }

  void upscaleChecks() {
    ExpectRefusals<CSRSettingsDlg>({{1128, "1001", "Enter an integer between 0 and 1000."},
                                    {1128, "-1", "Enter an integer between 0 and 1000."},
                                    {1128, "2.5", "Enter an integer."},
                                    {1129, "101", "Enter an integer between 0 and 100."},
                                    {1073, "strong", "Enter a number."},
                                    {1131, "", "Enter a number."},
                                    {1132, "inf", "Enter a number."},
                                    {1134, "1.5", "Enter an integer."},
                                    {1130, "-5", "Enter a positive integer."},
                                    {1130, "0", "Enter an integer between 1 and 100000."},
                                    {1135, "100001", "Enter an integer between 1 and 100000."},
                                    {1135, "99999999999", "Enter a positive integer."}},
                                   320, 200);
    {
      // Fields are checked in the transfer order: iterations before the width.
      MessageRecorder messages;
      CSRSettingsDlg dialog;
      Show(dialog, 320, 200, true);
      Type(Edit(dialog, 1130), QStringLiteral("0"));
      Type(Edit(dialog, 1128), QStringLiteral("2000"));
      Button(dialog, QStringLiteral("IDOK"))->click();
      QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Enter an integer between 0 and 1000.")});
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Edit(dialog, 1128)));
    }
  }

  void upscaleAcceptsItsRanges() {
    MessageRecorder messages;
    CSRSettingsDlg dialog;
    Show(dialog, 320, 200);
    Type(Edit(dialog, 1128), QStringLiteral("1000"));  // although the tooltip says 0-100
    Type(Edit(dialog, 1129), QStringLiteral(" 100 "));
    Type(Edit(dialog, 1073), QStringLiteral("-2.5e1"));
    Type(Edit(dialog, 1131), QStringLiteral("0.1"));
    Type(Edit(dialog, 1132), QStringLiteral("7"));
    Type(Edit(dialog, 1133), QStringLiteral("0"));
    Type(Edit(dialog, 1134), QStringLiteral("-1"));
    Type(Edit(dialog, 1130), QStringLiteral("100000"));
    Type(Edit(dialog, 1135), QStringLiteral("1"));
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
    Type(Edit(cancelled, 1128), QStringLiteral("99"));
    Button(cancelled, QStringLiteral("IDCANCEL"))->click();
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    QCOMPARE(cancelled.iterations, 16);
  }

  void downscaleChecks() {
    ExpectRefusals<CDownSettingsDlg>({{1163, "0.4", "Enter a number between 0.5 and 2."},
                                      {1163, "2.01", "Enter a number between 0.5 and 2."},
                                      {1161, "3", "Enter an integer between 4 and 256."},
                                      {1161, "257", "Enter an integer between 4 and 256."},
                                      {1162, "64.5", "Enter a number between 0 and 64."},
                                      {1162, "-0.1", "Enter a number between 0 and 64."},
                                      {1162, "wide", "Enter a number."}},
                                     800, 600);
    MessageRecorder messages;
    CDownSettingsDlg dialog;
    Show(dialog, 800, 600);
    dialog.findChild<QComboBox*>(QStringLiteral("1153"))->setCurrentIndex(5);
    Type(Edit(dialog, 1130), QStringLiteral("400"));
    Type(Edit(dialog, 1163), QStringLiteral("2"));
    Type(Edit(dialog, 1161), QStringLiteral("4"));
    Type(Edit(dialog, 1162), QStringLiteral("0"));
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
    QCOMPARE(Edit(up, 1128)->toolTip(), QStringLiteral("Number of enhancemnent iterations (0-100) "));
    QCOMPARE(Edit(up, 1073)->toolTip(), QStringLiteral("Post-enhancement strength \"beta\" (1-10)"));
    QCOMPARE(Edit(up, 1134)->toolTip(), QStringLiteral("Edge smoothness (0-3)"));
    QCOMPARE(Button(up, QStringLiteral("1158"))->toolTip(), QStringLiteral("Upscale the image by the factor of 2"));
    QCOMPARE(Button(up, QStringLiteral("1160"))->toolTip(), QStringLiteral("Preserve aspect ratio of the image"));
    CDownSettingsDlg down;
    QCOMPARE(down.findChild<QComboBox*>(QStringLiteral("1153"))->toolTip(),
             QStringLiteral("Initial image upsampling algorithm"));
    QCOMPARE(Edit(down, 1130)->toolTip(), QStringLiteral("Desired image width (in pixels)"));
    QVERIFY(Edit(down, 1161)->toolTip().isEmpty());
    QVERIFY(Edit(down, 1162)->toolTip().isEmpty());
    QVERIFY(Edit(down, 1163)->toolTip().isEmpty());
  }
};

QTEST_MAIN(SettingsDialogsTest)
#include "settings_dialogs_test.moc"
