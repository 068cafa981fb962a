// The hyperlink control and its error messages.
#include "app/hyperlink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QUrl>

#include <utility>

#include "app/message_box.h"

namespace {
// Result codes of opening a link, as the error table numbers them.
constexpr int kOpenedOk = 33;
constexpr int kNoAssociation = 31;

CHyperLink::Opener& CurrentOpener() {
  static CHyperLink::Opener opener;
  return opener;
}
}  // namespace

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent) {}

void CHyperLink::PreSubclassWindow() {
  if (target.isEmpty()) target = text();
  if (text().isEmpty()) setText(target);
  linkFont = font();
  linkFont.setUnderline(underlined);
  setFont(linkFont);
  attached_ = true;
  FitToText();
  LoadHandCursor();
  setToolTip(target);
  ApplyColour();
}

void CHyperLink::SetTarget(const QString& text) {
  target = text;
  if (attached_) {
    FitToText();
    setToolTip(text);
  }
}

void CHyperLink::FitToText() {
  if (!attached_ || !sizeToText) return;
  QRect rect = geometry();
  const QFontMetrics metrics(linkFont);
  const int textWidth = metrics.horizontalAdvance(text());
  const int textHeight = metrics.height();
  const Qt::Alignment align = alignment();
  if (align & Qt::AlignVCenter) {
    const int shrink = (rect.height() - textHeight) / 2;
    rect.adjust(0, shrink, 0, -shrink);
  } else {
    rect.setHeight(textHeight);
  }
  if (align & Qt::AlignHCenter) {
    const int shrink = (rect.width() - textWidth) / 2;
    rect.adjust(shrink, 0, -shrink, 0);
  } else if (align & Qt::AlignRight) {
    rect.setLeft(rect.right() + 1 - textWidth);
  } else {
    rect.setWidth(textWidth);
  }
  setGeometry(rect);
}

void CHyperLink::LoadHandCursor() { setCursor(Qt::PointingHandCursor); }

QColor CHyperLink::CurrentColour() const {
  if (hovering) return hoverColour;
  return visited ? visitedColour : normalColour;
}

void CHyperLink::ApplyColour() {
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, CurrentColour());
  setPalette(palette);
  repaint();
}

void CHyperLink::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  if (!hovering) {
    hovering = true;
    ApplyColour();
  }
}

void CHyperLink::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  if (hovering) {
    hovering = false;
    ApplyColour();
  }
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) OnClicked();
}

void CHyperLink::OnClicked() {
  const int result = OpenTarget(target);
  visited = result > 32;
  if (!visited) {
    QApplication::beep();
    ShowOpenError(result, this);
  } else {
    MarkVisited(true);
  }
}

void CHyperLink::MarkVisited(bool flag) {
  visited = flag;
  if (attached_) ApplyColour();
}

int CHyperLink::OpenTarget(const QString& target) {
  if (CurrentOpener()) return CurrentOpener()(target);
  return QDesktopServices::openUrl(QUrl(target)) ? kOpenedOk : kNoAssociation;
}

CHyperLink::Opener CHyperLink::SetOpener(Opener opener) { return std::exchange(CurrentOpener(), std::move(opener)); }

QString CHyperLink::OpenErrorText(int code) {
  switch (code) {
    case 0: return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2: return QStringLiteral("The specified file was not found.");
    case 3: return QStringLiteral("The specified path was not found.");
    case 5: return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8: return QStringLiteral("There was not enough memory to complete the operation.");
    case 11: return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26: return QStringLiteral("A sharing violation occurred. ");
    case 27: return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28: return QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
    case 29: return QStringLiteral("The DDE transaction failed.");
    case 30:
      return QStringLiteral(
          "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.");
    case 31: return QStringLiteral("There is no application associated\nwith the given filename extension.");
    case 32: return QStringLiteral("The specified dynamic-link library was not found.");
    default: return QString::asprintf("Unknown Error (%d) occurred.", code);
  }
}

void CHyperLink::ShowOpenError(int code, QWidget* parent) {
  ShowMessageBox(parent, QStringLiteral("Unable to open hyperlink:\n\n") + OpenErrorText(code), QMessageBox::Warning);
}
