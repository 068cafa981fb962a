// Little-endian field access and the 40-byte information header shared by
// the BMP writer, the display buffer and the clipboard bitmaps.
#pragma once

#include <cstdint>

namespace kestrune {

namespace bmp {

inline constexpr uint32_t kFileHeaderSize = 14;
inline constexpr uint32_t kInfoHeaderSize = 40;
inline constexpr uint16_t kTypeBM = 19778;  // the bytes "B", "M"

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline int32_t GetS32(const uint8_t* p) { return static_cast<int32_t>(Get32(p)); }

inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Row stride of a 24-bit bitmap: 3 x width padded up to a multiple of 4.
inline uint64_t Stride24(uint64_t width) { return (3 * width + 3) / 4 * 4; }

// Writes the 40-byte header of a 24-bit uncompressed bottom-up bitmap:
// 1 plane, compression 0, image size 0, resolutions 75 and 75, no colours.
inline void PutInfoHeader24(uint8_t* p, uint32_t width, uint32_t height) {
  Put32(p, kInfoHeaderSize);
  Put32(p + 4, width);
  Put32(p + 8, height);
  Put16(p + 12, 1);
  Put16(p + 14, 24);
  Put32(p + 16, 0);
  Put32(p + 20, 0);
  Put32(p + 24, 75);
  Put32(p + 28, 75);
  Put32(p + 32, 0);
  Put32(p + 36, 0);
}

}  // namespace bmp

}  // namespace kestrune
