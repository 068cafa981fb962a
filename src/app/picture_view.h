// PictureView: the area below the menu bar that shows the picture. A picture
// larger than the area scrolls (scroll bars, dragging with the mouse, the
// wheel); any zoom shows it: one picture pixel per device pixel at 100 %,
// smoothly reduced below, each pixel a square above. A second picture of the
// same size (the source of an enlargement) can be shown in its place, wholly
// or left of a divider that the mouse drags.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>

class PictureView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit PictureView(QWidget* parent = nullptr);

  // The picture as the screen shows it at 100 %: one image pixel per device
  // pixel. A null image shows nothing.
  void SetPicture(QImage picture);
  QSize PictureSize() const { return picture_.full.size(); }
  // The picture to compare with, of the picture's size (null: none).
  void SetSource(QImage source);
  bool HasSource() const { return !source_.full.isNull(); }

  // Device pixels per picture pixel.
  double Zoom() const { return zoom_; }
  // Sets the zoom; the picture point under `anchor` (a point of the
  // viewport, in its own coordinates) stays where it is.
  void SetZoom(double zoom, QPoint anchor);
  // The picture's size at `zoom` (at the current one without it), in device
  // pixels; at least 1 x 1 for a picture, 0 x 0 without one.
  QSize ContentSize(double zoom) const;
  QSize ContentSize() const { return ContentSize(zoom_); }
  // Shows the top-left corner of the picture (a new picture starts there).
  void ScrollToTopLeft();

  // Whole: the source replaces the picture. Split: the source left of the
  // divider, the picture right of it. Both need a source.
  void ShowSource(bool whole);
  bool SourceShown() const { return wholeSource_; }
  void SetSplit(bool split);
  bool Split() const { return split_; }
  // The divider's place as a fraction of the viewport's width.
  double Divider() const { return divider_; }

  // The picture pixel drawn at `point` of the viewport; (-1, -1) off the picture.
  QPoint PixelAt(QPoint point) const;
  // True when the source is what is drawn at `point` of the viewport.
  bool SourceAt(QPoint point) const;
  // The mouse's place in the viewport while it is over it.
  bool PointerInside() const { return pointerInside_; }
  QPoint Pointer() const { return pointer_; }

 signals:
  // The pixel under the mouse may be another one: the mouse moved or left,
  // the view scrolled or zoomed, the picture or the comparison changed.
  void viewChanged();
  // Ctrl+wheel: `steps` zoom steps in (negative: out) about `anchor`.
  void zoomRequested(int steps, QPoint anchor);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // A picture at 100 % and, below 100 %, its smooth reduction to the zoom
  // last drawn.
  struct Layer {
    QImage full;
    QImage reduced;
    // The part `visible` (device pixels of the picture at `content` size).
    QImage Piece(QSize content, const QRect& visible);
  };

  qreal Ratio() const;
  QSize ViewportDeviceSize() const;
  // Sets the scroll bars' ranges from the zoom and the viewport, and their
  // values from place_.
  void Rescroll();
  // Takes the scroll bars' values as the place to keep.
  void RememberPlace();
  int DividerX() const;  // in viewport coordinates
  bool NearDivider(QPoint point) const;
  void UpdateCursor(QPoint point);

  Layer picture_;
  Layer source_;
  double zoom_ = 1.0;
  // What to keep in view through zooms, resizes and new pictures of another
  // size: the fraction (fx, fy) of the picture at device point (ax, ay) of
  // the viewport.
  struct {
    double fx = 0, fy = 0, ax = 0, ay = 0;
  } place_;
  bool rescrolling_ = false;
  bool wholeSource_ = false;
  bool split_ = false;
  double divider_ = 0.5;
  enum class Drag { kNone, kScroll, kDivider } drag_ = Drag::kNone;
  QPoint dragStart_;
  QPoint dragValues_;
  int wheelDelta_ = 0;  // Ctrl+wheel eighths of a degree not yet turned into steps
  bool pointerInside_ = false;
  QPoint pointer_;
};

// Nearest-neighbour mapping: the input index (of `inLength`) drawn at output
// index `out` when `inLength` is stretched to `outLength`, by pixel centres.
inline int NearestIndex(int out, int outLength, int inLength) {
  const long long index = ((2LL * out + 1) * inLength) / (2LL * outLength);
  return static_cast<int>(index < inLength ? index : inLength - 1);
}

// `image` stretched or shrunk to `size` by pixel repetition (NearestIndex).
QImage RepeatPixels(const QImage& image, QSize size);
