/// @file
/// Eight-bit pixels for screens and system clipboards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kestrune/export.h"
#include "kestrune/image.h"
#include "kestrune/result.h"

namespace kestrune {

/// The byte of a sample: rounded to the nearest integer with ties to even,
/// then clamped to 0..255; a sample that is not a number becomes 0.
KESTRUNE_API uint8_t SampleToByte(float sample);

/// The order of a pixel's three bytes in ExportBytes's rows: red first (kRgb)
/// or blue first (kBgr, as Windows bitmaps and 32-bit screen formats keep them).
enum class PixelOrder { kRgb, kBgr };

/// Writes the colour planes of `image` as rows of three-byte pixels: row y at
/// out + y * rowStride (a negative stride writes the rows bottom-up from
/// `out`). Alpha is ignored.
KESTRUNE_API void ExportBytes(const ImageView& image, PixelOrder order, uint8_t* out, std::ptrdiff_t rowStride);

/// The packed device-independent bitmaps of system clipboards: an information
/// header of at least 40 bytes, optional colour masks or table, then the rows.
/// Decoding takes 24- and 32-bit uncompressed (or bit-field) bitmaps, bottom-up
/// or top-down (the fourth byte of 32-bit pixels is dropped). Errors:
/// kUnreadable for anything else (other depths, short data, sizes beyond the
/// image limits), kOutOfMemory.
KESTRUNE_API Result<Image> DecodePackedBitmap(const uint8_t* data, std::size_t size);
/// A 24-bit bottom-up packed bitmap of the colour planes (empty for an empty
/// image). Throws std::bad_alloc.
KESTRUNE_API std::vector<uint8_t> EncodePackedBitmap(const Image& image);

}  // namespace kestrune
