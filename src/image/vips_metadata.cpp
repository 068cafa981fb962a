// Metadata through libvips, and the EXIF block libvips rebuilds on saving.
#include "image/vips_metadata.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "image/tiff_exif.h"
#include "image/vips_header_checks.h"

namespace kestrune::vipsio {

using vips::VError;
using vips::VImage;

namespace {

std::vector<uint8_t> Blob(const VImage& image, const char* name) {
  if (vips_image_get_typeof(image.get_image(), name) == 0) return {};
  const void* data = nullptr;
  std::size_t length = 0;
  if (vips_image_get_blob(image.get_image(), name, &data, &length) != 0) {
    vips_error_clear();
    return {};
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + length);
}

// The smallest valid JPEG (one grey pixel), which carries an EXIF block to
// libvips's JPEG loader.
const std::vector<uint8_t>& CarrierJpeg() {
  static const std::vector<uint8_t> jpeg = [] {
    VipsBlob* blob = VImage::black(1, 1).jpegsave_buffer(VImage::option()->set("strip", true));
    std::size_t length = 0;
    const auto* data = static_cast<const uint8_t*>(vips_area_get_data(&blob->area, &length, nullptr, nullptr, nullptr));
    std::vector<uint8_t> bytes(data, data + length);
    vips_area_unref(&blob->area);
    return bytes;
  }();
  return jpeg;
}

void* CopyExifField(VipsImage*, const char* field, GValue* value, void* target) {
  if (std::strncmp(field, "exif-ifd", 8) == 0) vips_image_set(static_cast<VipsImage*>(target), field, value);
  return nullptr;
}

// Puts `exif` on `image` for a saver. libvips rebuilds the block when it
// saves: it keeps only the tags that also stand as "exif-ifd" fields on the
// image, then writes the image's size and orientation into it. Its loaders
// make those fields; here its JPEG loader makes them from a one-pixel file
// that carries the block.
void AttachExif(VImage& image, const std::vector<uint8_t>& exif) {
  static const uint8_t kPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
  std::vector<uint8_t> payload;
  if (exif.size() < 6 || std::memcmp(exif.data(), kPrefix, 6) != 0) payload.assign(kPrefix, kPrefix + 6);
  payload.insert(payload.end(), exif.begin(), exif.end());
  vips_image_set_blob_copy(image.get_image(), VIPS_META_EXIF_NAME, payload.data(), payload.size());
  if (payload.size() + 2 > 0xFFFF) return;  // more than a JPEG segment holds: only size and orientation are kept
  const std::vector<uint8_t>& carrier = CarrierJpeg();
  std::vector<uint8_t> jpeg(carrier.begin(), carrier.begin() + 2);
  const std::size_t length = payload.size() + 2;
  jpeg.insert(jpeg.end(), {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length)});
  jpeg.insert(jpeg.end(), payload.begin(), payload.end());
  jpeg.insert(jpeg.end(), carrier.begin() + 2, carrier.end());
  try {
    const VImage parsed = VImage::new_from_buffer(jpeg.data(), jpeg.size(), "");
    vips_image_map(parsed.get_image(), CopyExifField, image.get_image());
  } catch (const VError&) {
    vips_error_clear();  // a block libvips cannot parse: it will write size and orientation only
  }
}

}  // namespace

ImageMetadata MetadataOf(const VImage& stored, const ImageInfo& header, const VipsInput& in) {
  ImageMetadata meta;
  meta.icc = Blob(stored, VIPS_META_ICC_NAME);
  meta.exif = Blob(stored, VIPS_META_EXIF_NAME);
  if (meta.exif.empty() && header.format == FileFormat::kTiff) meta.exif = ExifFromTiff(TiffOf(in));
  meta.xmp = Blob(stored, VIPS_META_XMP_NAME);
  meta.iptc = Blob(stored, VIPS_META_IPTC_NAME);
  meta.depth = header.depth;
  meta.greyscale = header.greyscale;
  return meta;
}

void AttachMetadata(VImage& image, const ImageMetadata& meta) {
  VipsImage* out = image.get_image();
  if (!meta.icc.empty()) vips_image_set_blob_copy(out, VIPS_META_ICC_NAME, meta.icc.data(), meta.icc.size());
  if (!meta.xmp.empty()) vips_image_set_blob_copy(out, VIPS_META_XMP_NAME, meta.xmp.data(), meta.xmp.size());
  if (!meta.iptc.empty()) vips_image_set_blob_copy(out, VIPS_META_IPTC_NAME, meta.iptc.data(), meta.iptc.size());
  if (!meta.exif.empty()) AttachExif(image, meta.exif);
  image.set(VIPS_META_ORIENTATION, 1);
}

}  // namespace kestrune::vipsio
