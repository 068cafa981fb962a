// The progress dialog: modeless, updated synchronously so that it shows the
// latest state even while the user-interface thread is busy.
#include "app/progress_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/field_exchange.h"

CProgressDlg::CProgressDlg(QWidget* parent) : QDialog(parent), cancelWindow(parent) {
  setWindowTitle(QStringLiteral("Progress"));
  // A title but no close box: the dialog ends only when its operation ends.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(false);
  DialogUnits du(this);
  setFixedSize(du.X(188), du.Y(45));

  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName(QStringLiteral("1151"));
  statusLabel_->setGeometry(du.Rect(4, 4, 182, 8));
  progressBar = new QProgressBar(this);
  progressBar->setObjectName(QStringLiteral("1150"));
  progressBar->setGeometry(du.Rect(6, 14, 156, 10));
  progressBar->setTextVisible(false);
  progressBar->setRange(0, 10000);
  percentLabel_ = new QLabel(this);
  percentLabel_->setObjectName(QStringLiteral("1152"));
  percentLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  percentLabel_->setGeometry(du.Rect(164, 14, 20, 8));
  cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton->setObjectName(QStringLiteral("IDCANCEL"));
  cancelButton->setGeometry(du.Rect(68, 28, 50, 14));
  cancelButton->setAutoDefault(false);
  connect(cancelButton, &QPushButton::clicked, this, &CProgressDlg::OnCancel);
}

void CProgressDlg::Start(QString text, QWidget* parent, bool cancelEnabled, std::atomic<bool>* flag, uint32_t message) {
  if (parentWidget() != parent) setParent(parent, windowFlags());
  cancelButton->setText(QStringLiteral("Cancel"));
  statusString = std::move(text);
  progressBar->setRange(0, 10000);
  SetProgress(0);
  cancelButton->setEnabled(cancelEnabled);
  cancelFlag = flag;
  if (cancelFlag) *cancelFlag = false;
  cancelWindow = parent;
  cancelMessage = message;
  show();
  TransferAndRepaint();
  emit statusTextChanged(statusString);
  // Let the window system map the dialog before a busy caller goes on.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CProgressDlg::SetProgress(float percent) {
  progressBar->setValue(static_cast<int>(percent * 100.0f + 0.5f));
  percentString = QString::asprintf("%d %%", static_cast<int>(percent + 0.5f));
  TransferAndRepaint();
}

void CProgressDlg::SetStatusText(const QString& text) {
  statusString = text;
  TransferAndRepaint();
  emit statusTextChanged(statusString);
}

void CProgressDlg::Finish() { hide(); }

void CProgressDlg::OnCancel() {
  cancelButton->setText(QStringLiteral("Canceling..."));
  if (cancelFlag) *cancelFlag = true;
  if (cancelWindow && cancelMessage != 0)
    QCoreApplication::postEvent(cancelWindow, new QEvent(static_cast<QEvent::Type>(cancelMessage)));
  cancelButton->setEnabled(false);
}

void CProgressDlg::reject() { OnCancel(); }

void CProgressDlg::closeEvent(QCloseEvent* event) { event->ignore(); }

void CProgressDlg::TransferAndRepaint() {
  statusLabel_->setText(statusString);
  percentLabel_->setText(percentString);
  if (isVisible()) repaint();
}
