// CHyperLink: a static text that acts as a link: underlined in link colours
// (blue, purple once visited, red under the mouse), a hand cursor, its target
// as tooltip, and a click that opens the target through the desktop.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

#include <functional>

class CHyperLink : public QLabel {
  Q_OBJECT
 public:
  explicit CHyperLink(QWidget* parent = nullptr);

  // Makes the control a link; call once its text, font and geometry are set.
  // An empty target becomes the text, an empty text the target.
  void PreSubclassWindow();
  void SetTarget(const QString& text);

  // Opens `target`; a result above 32 means success, otherwise it is one of
  // the failure codes ShowOpenError knows.
  static int OpenTarget(const QString& target);
  static void ShowOpenError(int code, QWidget* parent = nullptr);
  // The text ShowOpenError shows for `code`.
  static QString OpenErrorText(int code);
  // Replaces the desktop's URL handler (tests); empty restores it.
  using Opener = std::function<int(const QString&)>;
  static Opener SetOpener(Opener opener);

  void FitToText();
  void MarkVisited(bool flag);
  // The colour the text is drawn in now.
  QColor CurrentColour() const;

  QColor normalColour{0, 0, 255};
  QColor visitedColour{128, 0, 128};
  QColor hoverColour{255, 0, 0};
  bool hovering = false;
  bool visited = false;
  bool underlined = true;
  bool sizeToText = true;
  QString target;
  QFont linkFont;

  void OnClicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void LoadHandCursor();
  void ApplyColour();
  bool attached_ = false;
};
