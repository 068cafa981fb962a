// Checks of a file's header made before libvips reads it: sizes a file of
// its length cannot hold, and headers libvips would misread. Each returns
// the refusal's text, empty when the file passes. Internal to the image
// layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/format_readers.h"
#include "image/tiff_exif.h"

namespace kestrune::vipsio {

// PNG: the filtered rows (a filter byte and the packed samples each) that
// the image header declares must fit in what the file can inflate to.
std::string PngSizeProblem(const VipsInput& in, uint32_t& bitsPerPixel);

// JPEG: Huffman coding spends at least one bit on each code, so the first
// scan takes at least two bits per 8 x 8 block when sequential (a DC code
// and an end of block), one in a progressive DC scan, and 15 per run of up
// to 32767 empty blocks in a progressive AC scan. Arithmetic coding has no
// useful bound. The markers are followed up to the first scan within the
// first bytes.
std::string JpegSizeProblem(const VipsInput& in);

// PNM: libvips reads "-1" as a width of 1 and takes a maximum value of 0,
// so the header is checked here; binary data (P4 to P6) must be all there.
// Sets `rows` to the complete rows when the data is cut short.
std::string PnmHeaderProblem(const VipsInput& in, uint32_t& rows);

// TIFF: libtiff reads a palette image without its colour map as grey, and
// libvips copies samples of a photometric interpretation it does not know
// as they are; both are refused from the first directory's tags.
std::string TiffHeaderProblem(const VipsInput& in);

// WebP: the canvas size its first chunk declares (extended, lossless or
// lossy). libvips's loader allocates a whole frame already when it reads the
// header, so this size is checked against the memory first.
bool WebpSize(const VipsInput& in, uint64_t& width, uint64_t& height);

// `count` bytes of the file from `offset`; false past its end.
bool ReadAt(const VipsInput& in, uint64_t offset, uint8_t* out, std::size_t count);

// A file libvips reads, for the program's own look at a TIFF file's EXIF.
TiffFile TiffOf(const VipsInput& in);

}  // namespace kestrune::vipsio
