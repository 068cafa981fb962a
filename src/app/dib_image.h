// DibImage: the 24-bit display buffer. Three bytes per pixel in the order
// blue, green, red, rows stored bottom-up with a stride padded to a multiple
// of 4, as a device-independent bitmap expects; row(y) addresses image row y
// counted from the top.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <kestrune/image.h>

class DibImage {
 public:
  DibImage() = default;
  DibImage(uint32_t width, uint32_t height) { Allocate(width, height); }
  virtual ~DibImage() = default;

  // Keeps the contents when the size is unchanged; otherwise releases and,
  // when both sides are non-zero, allocates stride x height bytes. Throws
  // std::bad_alloc on failure and then leaves the buffer empty.
  void Allocate(uint32_t width, uint32_t height);
  void Release();  // frees the buffers; all five fields become 0

  // Allocates to the image's size and fills every pixel with the byte
  // conversions of blue, green and red; the alpha plane is ignored.
  void FromImage(const kestrune::ImageView& image);
  // The same for the screen: where the image has an alpha plane, its colour
  // is laid over a checkerboard of 8-pixel light and white squares, so that
  // transparent parts show as such.
  void ForDisplay(const kestrune::ImageView& image);

  // The picture as an image of its bytes (samples 0..255), for saving what
  // is shown. Throws std::bad_alloc.
  kestrune::Image ToImage() const;

  bool IsEmpty() const { return bits_.empty(); }
  uint8_t* bits() { return bits_.empty() ? nullptr : bits_.data(); }
  const uint8_t* bits() const { return bits_.empty() ? nullptr : bits_.data(); }
  uint8_t* const* rows() { return rows_.empty() ? nullptr : rows_.data(); }
  const uint8_t* const* rows() const {
    return rows_.empty() ? nullptr : const_cast<const uint8_t* const*>(rows_.data());
  }

  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;  // 3 x width padded up to a multiple of 4

 private:
  std::vector<uint8_t> bits_;
  std::vector<uint8_t*> rows_;
};
