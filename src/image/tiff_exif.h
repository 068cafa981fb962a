// EXIF in TIFF files, which libvips 8.14 neither writes nor reads there: the
// EXIF and GPS directories hang off the first directory by pointer tags, and
// a few descriptive tags (camera make and model, date, artist, copyright)
// stand in the first directory itself.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrune {

// A TIFF file being read or extended: `read` fills `count` bytes from
// `offset` (false past the end), `write` puts bytes at `offset` (the end
// of the file appends).
struct TiffFile {
  uint64_t size = 0;
  std::function<bool(uint64_t offset, uint8_t* out, std::size_t count)> read;
  std::function<bool(uint64_t offset, const uint8_t* bytes, std::size_t count)> write;
};

// The EXIF block ("Exif\0\0" and a TIFF structure, as JPEG files carry it)
// of a TIFF file's first directory; empty when it has none or it cannot be
// followed.
std::vector<uint8_t> ExifFromTiff(const TiffFile& file);

// Adds the EXIF block `exif` to a classic TIFF file written by libvips: its
// directories are appended and a copy of the first directory with the
// pointers to them replaces the first, whose bytes stay unused. The
// picture's size goes into the EXIF pixel dimensions. False when the block
// or the file cannot be followed (the file is then left as it was).
bool AddExifToTiff(TiffFile& file, const std::vector<uint8_t>& exif, uint32_t width, uint32_t height);

}  // namespace kestrune
