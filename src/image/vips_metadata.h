// The metadata of files libvips reads and writes: the profile, EXIF, XMP and
// IPTC taken from a read, and put on an image for a saver. Internal to the
// image layer.
#pragma once

#include <vips/vips8>

#include "image/format_readers.h"

namespace kestrune::vipsio {

// The profile, tags, depth and greyscale flag a read records; a TIFF
// file's EXIF from its directories, which libvips does not read.
ImageMetadata MetadataOf(const vips::VImage& stored, const ImageInfo& header, const VipsInput& in);

// The profile, XMP, IPTC and EXIF of `meta` on `image` for a saver, which
// says orientation 1: the pixels are stored upright.
void AttachMetadata(vips::VImage& image, const ImageMetadata& meta);

}  // namespace kestrune::vipsio
