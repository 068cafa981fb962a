// Painting the display buffer.
#include "app/dib_draw.h"

#include <QPaintDevice>
#include <QPainter>

QImage DibToQImage(const DibImage& dib) {
  if (dib.IsEmpty()) return QImage();
  QImage image(static_cast<int>(dib.width), static_cast<int>(dib.height), QImage::Format_RGB888);
  if (image.isNull()) return image;
  const std::size_t rowBytes = std::size_t{3} * dib.width;
  for (uint32_t y = 0; y < dib.height; ++y) {
    const uint8_t* in = dib.rows()[y];  // blue, green, red
    uint8_t* out = image.scanLine(static_cast<int>(y));
    for (std::size_t i = 0; i < rowBytes; i += 3) {
      out[i] = in[i + 2];
      out[i + 1] = in[i + 1];
      out[i + 2] = in[i];
    }
  }
  return image;
}

QImage DibToScreenImage(const DibImage& dib) {
  if (dib.IsEmpty()) return QImage();
  QImage image(static_cast<int>(dib.width), static_cast<int>(dib.height), QImage::Format_RGB32);
  if (image.isNull()) return image;
  for (uint32_t y = 0; y < dib.height; ++y) {
    const uint8_t* in = dib.rows()[y];  // blue, green, red
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
    for (uint32_t x = 0; x < dib.width; ++x, in += 3) out[x] = qRgb(in[2], in[1], in[0]);
  }
  return image;
}

void Draw(const DibImage& dib, QPainter& painter, int x, int y) {
  QImage image = DibToQImage(dib);
  if (image.isNull()) return;
  const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  image.setDevicePixelRatio(ratio);
  painter.drawImage(QPointF(x, y), image);
}
