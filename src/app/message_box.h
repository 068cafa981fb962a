// The one way the program shows a message box. Tests replace the box by a
// handler that records the message, so that nothing waits for a click.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

struct MessageBoxRequest {
  QWidget* parent = nullptr;
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Shows a modal box with an OK button. The caption defaults to the program's
// name ("Kestrune").
void ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon, const QString& caption = QString());

// Replaces the box by `handler` (empty: show real boxes again). Returns the
// handler that was installed before.
using MessageBoxHandler = std::function<void(const MessageBoxRequest&)>;
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
