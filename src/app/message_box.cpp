// Message boxes of the program, with a replaceable handler for tests.
#include "app/message_box.h"

#include <QWidget>

#include <utility>

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

void ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon, const QString& caption) {
  MessageBoxRequest request{parent, text, caption.isEmpty() ? QStringLiteral("Kestrune") : caption, icon};
  if (Handler()) {
    Handler()(request);
    return;
  }
  QMessageBox box(icon, request.caption, text, QMessageBox::Ok, parent);
  box.exec();
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}
