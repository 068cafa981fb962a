// Clipboard glue: the library's packed-bitmap codec on Qt's clipboard.
#include "app/clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <QtEndian>

#include <cstring>
#include <new>

#include <kestrune/bitmap.h>

#include "app/dib_draw.h"

namespace {
constexpr int kBmpFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;

// A 32-bit bottom-up packed bitmap of `image`, as the system hands out an
// image copied in another format.
QByteArray PackedDib32(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) return QByteArray();
  const qsizetype rowBytes = qsizetype{4} * image.width();
  QByteArray dib(kInfoHeaderSize + rowBytes * image.height(), '\0');
  uchar* header = reinterpret_cast<uchar*>(dib.data());
  qToLittleEndian<quint32>(kInfoHeaderSize, header);
  qToLittleEndian<qint32>(image.width(), header + 4);
  qToLittleEndian<qint32>(image.height(), header + 8);
  qToLittleEndian<quint16>(1, header + 12);
  qToLittleEndian<quint16>(32, header + 14);
  for (int y = 0; y < image.height(); ++y) {
    const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    uchar* out = header + kInfoHeaderSize + rowBytes * (image.height() - 1 - y);
    for (int x = 0; x < image.width(); ++x) {
      out[4 * x] = static_cast<uchar>(qBlue(in[x]));
      out[4 * x + 1] = static_cast<uchar>(qGreen(in[x]));
      out[4 * x + 2] = static_cast<uchar>(qRed(in[x]));
      out[4 * x + 3] = static_cast<uchar>(qAlpha(in[x]));
    }
  }
  return dib;
}
}  // namespace

QByteArray PackedDibFromMimeData(const QMimeData* mime) {
  if (!mime) return QByteArray();
  if (mime->hasFormat(QStringLiteral("image/bmp"))) {
    QByteArray bmp = mime->data(QStringLiteral("image/bmp"));
    if (bmp.size() >= kBmpFileHeaderSize && bmp.startsWith("BM")) return bmp.mid(kBmpFileHeaderSize);
    return bmp;
  }
  if (mime->hasImage()) return PackedDib32(qvariant_cast<QImage>(mime->imageData()));
  return QByteArray();
}

void CopyToClipboard(const DibImage& picture, const float* alpha) {
  if (picture.IsEmpty()) return;
  QImage image = DibToQImage(picture);
  if (alpha != nullptr && !image.isNull()) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (uint32_t y = 0; y < picture.height; ++y) {
      QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
      const float* a = alpha + std::size_t{y} * picture.width;
      for (uint32_t x = 0; x < picture.width; ++x)
        line[x] = (line[x] & 0x00ffffffu) | QRgb{kestrune::SampleToByte(a[x])} << 24;
    }
  }
  QApplication::clipboard()->setImage(image);
}

PasteOutcome PasteFromClipboard() {
  const QByteArray dib = PackedDibFromMimeData(QApplication::clipboard()->mimeData());
  PasteOutcome outcome;
  if (dib.isEmpty()) {
    outcome.message = QString::fromLatin1(kNoBitmapMessage);
    return outcome;
  }
  kestrune::Result<kestrune::Image> decoded = kestrune::DecodePackedBitmap(
      reinterpret_cast<const uint8_t*>(dib.constData()), static_cast<std::size_t>(dib.size()));
  if (decoded.error().code == kestrune::ErrorCode::kOutOfMemory) throw std::bad_alloc();
  if (!decoded.ok())
    outcome.message = QString::fromLatin1(kUnsupportedBitmapMessage);
  else
    outcome.image = std::move(decoded).value();
  return outcome;
}
