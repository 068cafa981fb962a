/// @file
/// The image: three colour planes (red, green, blue) and an optional alpha
/// plane, each a row-major array of width x height floats on the 0..255 scale
/// (255 is white). Samples are not clamped: the enlargement may overshoot
/// slightly, and bytes are made only when an image leaves the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kestrune/export.h"

namespace kestrune {

class FloatImage;  ///< the implementation

///@{
/// Limits on the images the library makes or accepts from outside: a side of
/// at most 100000 pixels and at most 2^28 pixels in all.
inline constexpr uint32_t kMaxImageSide = 100000;
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 28;
///@}

/// True when width x height lies within the limits above (both sides >= 1).
KESTRUNE_API bool ImageSizeAllowed(uint64_t width, uint64_t height);

/// The planes of an image, as the `channel` argument of Plane() and Row() takes
/// them.
enum Channel : int { kRed = 0, kGreen = 1, kBlue = 2, kAlpha = 3 };

/// How a file stored its samples.
enum class SampleDepth : int {
  kUnknown = 0,
  k8 = 8,        ///< 0..255 as they are
  k16 = 16,      ///< v / 257 on the 0..255 scale, so 65535 is 255
  k32Float = 32  ///< floats whose 1.0 is white (255 here), not clamped
};

/// What a photograph carries besides its samples. Every operation passes it
/// on to its result; a writer puts into its format what the format can hold.
struct ImageMetadata {
  std::vector<uint8_t> icc;   ///< the embedded colour profile, byte for byte (no colour conversion is made)
  std::vector<uint8_t> exif;  ///< the EXIF block, as libvips holds it ("Exif\0\0" and the TIFF structure)
  std::vector<uint8_t> xmp;   ///< the XMP packet
  std::vector<uint8_t> iptc;  ///< the IPTC block
  SampleDepth depth = SampleDepth::kUnknown;  ///< of the file read; a write's default depth
  bool greyscale = false;  ///< the file had one colour channel: the three planes are equal and written as one
};

/// A read-only look at an image's planes, valid while the image it was taken
/// from is neither changed nor destroyed.
struct ImageView {
  ///@{
  /// Size in pixels; 0 x 0 for an empty view.
  uint32_t width = 0;
  uint32_t height = 0;
  ///@}
  const float* planes[4] = {};  ///< red, green, blue, alpha (null when absent)

  /// True for a view of an empty image (no planes).
  bool IsEmpty() const { return planes[kRed] == nullptr; }
  /// Row `y` of plane `channel` (width floats); the plane must be present.
  const float* Row(int channel, uint32_t y) const { return planes[channel] + std::size_t{y} * width; }
};

/// An image in memory: its planes and the metadata of the file it came from.
/// Copies are deep; moves leave the source empty.
class KESTRUNE_API Image {
 public:
  /// An empty image (0 x 0, no planes).
  Image();
  /// A width x height image, every sample 0; with `withAlpha` also an alpha
  /// plane. A zero side gives an empty image. Throws std::bad_alloc when the
  /// planes cannot be allocated.
  Image(uint32_t width, uint32_t height, bool withAlpha = false);
  Image(const Image& other);                 ///< deep copy; throws std::bad_alloc
  Image(Image&& other) noexcept;             ///< takes the planes; `other` is left empty
  Image& operator=(const Image& other);      ///< deep copy; throws std::bad_alloc
  Image& operator=(Image&& other) noexcept;  ///< takes the planes; `other` is left empty
  ~Image();

  ///@{
  /// Size in pixels; 0 for an empty image.
  uint32_t Width() const;
  uint32_t Height() const;
  ///@}
  bool IsEmpty() const;   ///< no planes (0 x 0)
  bool HasAlpha() const;  ///< an alpha plane is present
  /// Width() x Height().
  std::size_t PixelCount() const { return std::size_t{Width()} * Height(); }

  ///@{
  /// Plane `channel` as width x height row-major floats; null when absent.
  /// Taking a plane to change (the non-const form) ends the image's tie to
  /// the JPEG file it was read from (UpscaleOptions::jpegModel).
  float* Plane(int channel);
  const float* Plane(int channel) const;
  ///@}
  ///@{
  /// Row `y` of plane `channel` (Width() floats); the plane must be present.
  float* Row(int channel, uint32_t y) { return Plane(channel) + std::size_t{y} * Width(); }
  const float* Row(int channel, uint32_t y) const { return Plane(channel) + std::size_t{y} * Width(); }
  ///@}
  /// A read-only view of the planes (empty for an empty image).
  ImageView View() const;

  /// True while the image is the decoding of a JPEG file as ReadImage read it,
  /// whose coefficients UpscaleOptions::jpegModel can hold the enlargement to.
  bool HasJpegCoefficients() const;

  /// Bits per pixel of the file the image was read from when the reader knows
  /// it (BMP), else 0.
  uint32_t SourceBitDepth() const;

  ///@{
  /// The profile, tags, depth and greyscale flag the image came with. An
  /// empty image has no metadata to change (the call on it is a no-op).
  const ImageMetadata& Metadata() const;
  ImageMetadata& Metadata();
  ///@}

 private:
  friend struct ImageAccess;
  std::unique_ptr<FloatImage> impl_;  ///< null while empty
};

/// A deterministic photograph-like test image (smooth gradients, hard edges at
/// many angles, thin lines, fine texture and a little noise), the same on
/// every machine for the same arguments. Throws std::bad_alloc.
KESTRUNE_API Image MakeTestChart(uint32_t width, uint32_t height, uint32_t seed = 1);

}  // namespace kestrune
