// The picture area: scrolling, zoomed drawing, the comparison with the source
// and the mouse.
#include "app/picture_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// A small caption on the picture ("Source", "Result"), in a dark box.
void DrawTag(QPainter& painter, const QString& text, QPoint corner, bool rightAligned) {
  const QFontMetrics metrics = painter.fontMetrics();
  QRect box(0, 0, metrics.horizontalAdvance(text) + 10, metrics.height() + 4);
  box.moveTopLeft(rightAligned ? corner - QPoint(box.width(), 0) : corner);
  painter.fillRect(box, QColor(0, 0, 0, 150));
  painter.setPen(Qt::white);
  painter.drawText(box, Qt::AlignCenter, text);
}
}  // namespace

QImage RepeatPixels(const QImage& image, QSize size) {
  const QImage in = image.convertToFormat(QImage::Format_RGB32);
  QImage out(size, QImage::Format_RGB32);
  if (in.isNull() || out.isNull()) return QImage();
  std::vector<int> columns(static_cast<std::size_t>(size.width()));
  for (int x = 0; x < size.width(); ++x) columns[x] = NearestIndex(x, size.width(), in.width());
  for (int y = 0; y < size.height(); ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(in.constScanLine(NearestIndex(y, size.height(), in.height())));
    auto* to = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < size.width(); ++x) to[x] = from[columns[x]];
  }
  return out;
}

QImage PictureView::Layer::Piece(QSize content, const QRect& visible) {
  if (content == full.size()) {
    reduced = QImage();
    return full.copy(visible);
  }
  if (content.width() <= full.width() && content.height() <= full.height()) {
    // Reductions average the pixels they cover; the result is kept until the
    // zoom or the picture changes.
    if (reduced.size() != content) reduced = full.scaled(content, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return reduced.copy(visible);
  }
  // Enlargements repeat each pixel: only the visible part is made.
  reduced = QImage();
  QImage piece(visible.size(), QImage::Format_RGB32);
  if (piece.isNull()) return piece;
  std::vector<int> columns(static_cast<std::size_t>(visible.width()));
  for (int x = 0; x < visible.width(); ++x) columns[x] = NearestIndex(visible.x() + x, content.width(), full.width());
  for (int y = 0; y < visible.height(); ++y) {
    const int row = NearestIndex(visible.y() + y, content.height(), full.height());
    const auto* from = reinterpret_cast<const QRgb*>(full.constScanLine(row));
    auto* to = reinterpret_cast<QRgb*>(piece.scanLine(y));
    for (int x = 0; x < visible.width(); ++x) to[x] = from[columns[x]];
  }
  return piece;
}

PictureView::PictureView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::NoFocus);
  viewport()->setBackgroundRole(QPalette::Window);
  viewport()->setMouseTracking(true);
  for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
    bar->setFocusPolicy(Qt::NoFocus);
    // Any scrolling but the view's own keeps the new place through zooms.
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (!rescrolling_) RememberPlace();
    });
  }
}

qreal PictureView::Ratio() const { return viewport()->devicePixelRatioF(); }

QSize PictureView::ViewportDeviceSize() const {
  const qreal ratio = Ratio();
  return QSize(static_cast<int>(std::lround(viewport()->width() * ratio)),
               static_cast<int>(std::lround(viewport()->height() * ratio)));
}

QSize PictureView::ContentSize(double zoom) const {
  if (picture_.full.isNull()) return QSize(0, 0);
  const auto side = [zoom](int pixels) { return std::max(1, static_cast<int>(std::lround(pixels * zoom))); };
  return QSize(side(picture_.full.width()), side(picture_.full.height()));
}

void PictureView::SetPicture(QImage picture) {
  picture_ = Layer{picture.convertToFormat(QImage::Format_RGB32), QImage()};
  if (source_.full.size() != picture_.full.size()) SetSource(QImage());
  Rescroll();
  emit viewChanged();
}

void PictureView::SetSource(QImage source) {
  source_ = Layer{source.convertToFormat(QImage::Format_RGB32), QImage()};
  if (source_.full.isNull()) wholeSource_ = split_ = false;
  viewport()->update();
  emit viewChanged();
}

void PictureView::SetZoom(double zoom, QPoint anchor) {
  const QSize before = ContentSize();
  if (!before.isEmpty()) {
    const qreal ratio = Ratio();
    const double ax = anchor.x() * ratio, ay = anchor.y() * ratio;
    place_ = {(horizontalScrollBar()->value() + ax) / before.width(),
              (verticalScrollBar()->value() + ay) / before.height(), ax, ay};
  }
  zoom_ = zoom;
  Rescroll();
  emit viewChanged();
}

void PictureView::ScrollToTopLeft() {
  place_ = {};
  Rescroll();
}

void PictureView::ShowSource(bool whole) {
  wholeSource_ = whole && HasSource();
  viewport()->update();
  emit viewChanged();
}

void PictureView::SetSplit(bool split) {
  split_ = split && HasSource();
  viewport()->update();
  emit viewChanged();
}

void PictureView::Rescroll() {
  // Scroll bars where the picture is longer than the whole area; a bar takes
  // room from the other side, which may then need one too. Deciding on the
  // area rather than the viewport keeps a bar from staying for the room it
  // takes itself.
  const qreal ratio = Ratio();
  const QSize content = ContentSize();
  const QSize area(static_cast<int>(std::lround(width() * ratio)), static_cast<int>(std::lround(height() * ratio)));
  const int barWidth = static_cast<int>(std::lround(verticalScrollBar()->sizeHint().width() * ratio));
  const int barHeight = static_cast<int>(std::lround(horizontalScrollBar()->sizeHint().height() * ratio));
  bool across = false, down = false;
  for (int pass = 0; pass < 2; ++pass) {
    across = content.width() > area.width() - (down ? barWidth : 0);
    down = content.height() > area.height() - (across ? barHeight : 0);
  }
  const QSize view(area.width() - (down ? barWidth : 0), area.height() - (across ? barHeight : 0));
  const int step = std::max(1, static_cast<int>(20 * ratio));
  QScopedValueRollback<bool> own(rescrolling_, true);
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, across ? content.width() - view.width() : 0);
  h->setPageStep(std::max(1, view.width()));
  h->setSingleStep(step);
  h->setValue(static_cast<int>(std::lround(place_.fx * content.width() - place_.ax)));
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, down ? content.height() - view.height() : 0);
  v->setPageStep(std::max(1, view.height()));
  v->setSingleStep(step);
  v->setValue(static_cast<int>(std::lround(place_.fy * content.height() - place_.ay)));
  viewport()->update();
}

void PictureView::RememberPlace() {
  const QSize content = ContentSize();
  if (content.isEmpty()) return;
  place_ = {static_cast<double>(horizontalScrollBar()->value()) / content.width(),
            static_cast<double>(verticalScrollBar()->value()) / content.height(), 0, 0};
}

void PictureView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Rescroll();
}

void PictureView::scrollContentsBy(int, int) {
  viewport()->update();
  emit viewChanged();
}

void PictureView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QSize content = ContentSize();
  if (content.isEmpty()) return;
  const qreal ratio = Ratio();
  const QPoint offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
  const QRect visible = QRect(offset, ViewportDeviceSize()) & QRect(QPoint(0, 0), content);
  // Pieces are made in device pixels and drawn unscaled.
  auto draw = [&](Layer& layer, const QRect& part) {
    if (part.isEmpty()) return;
    QImage piece = layer.Piece(content, part);
    piece.setDevicePixelRatio(ratio);
    painter.drawImage(QPointF((part.x() - offset.x()) / ratio, (part.y() - offset.y()) / ratio), piece);
  };
  if (!HasSource() || (!wholeSource_ && !split_)) {
    draw(picture_, visible);
    return;
  }
  const int top = std::max(0, -offset.y()) + 4;
  if (wholeSource_) {
    draw(source_, visible);
    DrawTag(painter, QStringLiteral("Source"), QPoint(4, top), false);
    return;
  }
  const int divider = DividerX();
  const int cut = offset.x() + static_cast<int>(std::lround(divider * ratio));
  QRect left = visible, right = visible;
  left.setRight(std::min(visible.right(), cut - 1));
  right.setLeft(std::max(visible.left(), cut));
  draw(source_, left);
  draw(picture_, right);
  const int bottom = static_cast<int>(std::lround((visible.bottom() + 1 - offset.y()) / ratio));
  painter.fillRect(divider - 1, 0, 1, bottom, QColor(0, 0, 0, 160));
  painter.fillRect(divider, 0, 1, bottom, QColor(255, 255, 255, 200));
  DrawTag(painter, QStringLiteral("Source"), QPoint(divider - 4, top), true);
  DrawTag(painter, QStringLiteral("Result"), QPoint(divider + 4, top), false);
}

int PictureView::DividerX() const { return static_cast<int>(std::lround(divider_ * viewport()->width())); }

bool PictureView::NearDivider(QPoint point) const {
  return split_ && HasSource() && std::abs(point.x() - DividerX()) <= 4;
}

bool PictureView::SourceAt(QPoint point) const {
  return HasSource() && (wholeSource_ || (split_ && point.x() < DividerX()));
}

QPoint PictureView::PixelAt(QPoint point) const {
  const QSize content = ContentSize();
  const qreal ratio = Ratio();
  const int x = static_cast<int>(std::floor(horizontalScrollBar()->value() + point.x() * ratio));
  const int y = static_cast<int>(std::floor(verticalScrollBar()->value() + point.y() * ratio));
  if (x < 0 || y < 0 || x >= content.width() || y >= content.height()) return QPoint(-1, -1);
  return QPoint(NearestIndex(x, content.width(), picture_.full.width()),
                NearestIndex(y, content.height(), picture_.full.height()));
}

void PictureView::UpdateCursor(QPoint point) {
  if (drag_ == Drag::kScroll)
    viewport()->setCursor(Qt::ClosedHandCursor);
  else if (drag_ == Drag::kDivider || NearDivider(point))
    viewport()->setCursor(Qt::SplitHCursor);
  else if (horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0)
    viewport()->setCursor(Qt::OpenHandCursor);
  else
    viewport()->unsetCursor();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  if (NearDivider(point)) {
    drag_ = Drag::kDivider;
  } else if (horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0) {
    drag_ = Drag::kScroll;
    dragStart_ = point;
    dragValues_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
  }
  UpdateCursor(point);
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  pointerInside_ = true;
  pointer_ = point;
  if (drag_ == Drag::kScroll) {
    const qreal ratio = Ratio();
    horizontalScrollBar()->setValue(dragValues_.x() -
                                    static_cast<int>(std::lround((point.x() - dragStart_.x()) * ratio)));
    verticalScrollBar()->setValue(dragValues_.y() -
                                  static_cast<int>(std::lround((point.y() - dragStart_.y()) * ratio)));
  } else if (drag_ == Drag::kDivider) {
    divider_ = std::clamp(static_cast<double>(point.x()) / std::max(1, viewport()->width()), 0.0, 1.0);
    viewport()->update();
  }
  UpdateCursor(point);
  emit viewChanged();
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  drag_ = Drag::kNone;
  UpdateCursor(event->position().toPoint());
}

void PictureView::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  event->accept();
  wheelDelta_ += event->angleDelta().y();
  const int steps = wheelDelta_ / 120;
  wheelDelta_ -= steps * 120;
  if (steps != 0) emit zoomRequested(steps, event->position().toPoint());
}

bool PictureView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave) {
    pointerInside_ = false;
    emit viewChanged();
  }
  return QAbstractScrollArea::viewportEvent(event);
}
