// Bytes for screens and clipboards: the byte conversion of the image layer
// over whole images, and the packed-bitmap codec.
#include "kestrune/bitmap.h"

#include <new>

#include "api/image_access.h"
#include "base/threading.h"
#include "image/byte_conversion.h"
#include "image/clipboard_dib.h"

namespace kestrune {

uint8_t SampleToByte(float sample) { return FloatToByte(sample); }

void ExportBytes(const ImageView& image, PixelOrder order, uint8_t* out, std::ptrdiff_t rowStride) {
  if (image.IsEmpty()) return;
  // Swapping the red and blue planes turns the blue-first conversion into
  // red-first. Rows convert independently; the threads take runs of them.
  const bool bgr = order == PixelOrder::kBgr;
  const float* first = image.planes[bgr ? kBlue : kRed];
  const float* last = image.planes[bgr ? kRed : kBlue];
  const std::size_t w = image.width;
  ParallelFor(0, image.height, RowGrain(std::ptrdiff_t(w) * 3), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::ptrdiff_t y = y0; y < y1; ++y)
      PlanesToBgr(last + y * w, image.planes[kGreen] + y * w, first + y * w, out + y * rowStride, w);
  });
}

Result<Image> DecodePackedBitmap(const uint8_t* data, std::size_t size) {
  try {
    FloatImage planes;
    if (DecodePackedDib(data, size, planes) != PasteResult::kPasted)
      return Error{ErrorCode::kUnreadable, "not a 24- or 32-bit uncompressed bitmap, or cut short"};
    return ImageAccess::Adopt(std::move(planes));
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the bitmap"};
  }
}

std::vector<uint8_t> EncodePackedBitmap(const Image& image) { return EncodePackedDib(ImageAccess::Planes(image)); }

}  // namespace kestrune
