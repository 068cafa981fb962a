// The clipboard's packed device-independent bitmaps, without the platform:
// an information header, optional colour masks or colour table, then the
// pixel rows. Paste accepts 24- and 32-bit uncompressed (or bit-field)
// bitmaps; Copy produces a 24-bit one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/float_image.h"

namespace kestrune {

enum class PasteResult {
  kPasted,       // `image` holds the bitmap
  kNoBitmap,     // no data
  kUnsupported,  // not a bitmap this program reads
};

// Decodes a packed bitmap of `size` bytes. Only the bit counts 24 and 32 with
// compression 0 (RGB) or 3 (bit fields) are accepted; the masks are not
// interpreted (blue, green, red byte order), the fourth byte of 32-bit pixels
// is dropped, and a negative height means top-down rows. Headers shorter than
// 40 bytes, sizes beyond the image limits and data too short for the pixels
// are unsupported. On success `image` is replaced by a three-plane image
// without alpha; otherwise it is left untouched. Throws std::bad_alloc when
// the image cannot be allocated.
PasteResult DecodePackedDib(const uint8_t* data, std::size_t size, FloatImage& image);

// Encodes the colour planes as a 24-bit bottom-up packed bitmap (40-byte
// header, then the rows padded to a multiple of 4 bytes). Empty for an empty
// image. Throws std::bad_alloc when the buffer cannot be allocated.
std::vector<uint8_t> EncodePackedDib(const FloatImage& image);

}  // namespace kestrune
