// CProgressDlg: the one progress dialog of the program (status line, bar,
// percentage and Cancel). The main window Starts it, feeds it the stage texts
// and percentages it makes of a long operation's reports, and Finishes it;
// Cancel only records the request.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

class CProgressDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CProgressDlg(QWidget* parent = nullptr);

  // Shows the dialog owned by `parent` with `text` as its status line and
  // the bar at 0. Cancel is enabled when `cancelEnabled`; a non-null
  // `cancelFlag` is cleared now and set by Cancel; a non-zero
  // `cancelMessage` is posted to `parent` as an event of that type on Cancel.
  void Start(QString text, QWidget* parent, bool cancelEnabled, std::atomic<bool>* cancelFlag, uint32_t cancelMessage);
  // Bar at percent x 100, the percentage rounded half up; shown at once.
  void SetProgress(float percent);
  // Replaces the status line; shown at once.
  void SetStatusText(const QString& text);
  // Closes the dialog. The next Start sets everything again.
  void Finish();
  // Cancel button and Esc: "Canceling...", the flag, the event, button off.
  void OnCancel();

  std::atomic<bool>* cancelFlag = nullptr;
  QPointer<QWidget> cancelWindow;
  uint32_t cancelMessage = 0;
  QString statusString;
  QString percentString;
  QProgressBar* progressBar = nullptr;
  QPushButton* cancelButton = nullptr;

  void reject() override;  // Esc

 signals:
  // Each change of the status line (observers, tests).
  void statusTextChanged(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void TransferAndRepaint();

  QLabel* statusLabel_ = nullptr;
  QLabel* percentLabel_ = nullptr;
};
