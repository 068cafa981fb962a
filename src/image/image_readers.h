// Reading image files into a FloatImage on the 0..255 scale (16-bit samples
// v / 257, floats x 255). The format is told from the file's first bytes,
// never from its name: BMP ("BM") and PFM ("PF" or "Pf" and a white-space
// character) are read by the program's own readers, every other format by
// libvips, whose loaders recognise their files the same way.
//
// Every read answers with a ReadStatus that says what happened in words a
// user can be shown. Where a format bounds how much data a declared size
// needs (BMP, PFM, PNG, JPEG), the size is checked against the file's length
// before any pixel storage is allocated.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/float_image.h"
#include "kestrune/io.h"

namespace kestrune {

// "BMP", "PNG", "JPEG", "PFM", "TIFF", "WebP", "HEIF", "GIF", "PNM";
// "unknown" for kUnknown.
const char* FormatName(FileFormat format);

// The format whose signature starts `bytes` (the first `count` bytes of a
// file), for the formats the enumeration names. A file shorter than a
// signature but matching its start (at least two bytes) counts as that
// format, so that its reader can call it truncated.
FileFormat FormatOfSignature(const uint8_t* bytes, std::size_t count);

// A read's outcome in the library's error codes: kCannotOpen (missing, not
// permitted, a folder, or not a regular file), kUnreadable (no format could
// be told, or a reader of its format refused it: damaged, an unsupported
// kind, too large), kOutOfMemory (decoding needs more memory than is
// available).
struct ReadStatus {
  ErrorCode code = ErrorCode::kNone;
  FileFormat format = FileFormat::kUnknown;
  // Why the read failed, or for a damaged file what is missing ("PNG
  // truncated after row 37 of 64"); empty after a clean read.
  std::string message;
  // The file ends early or holds corrupt data. Without an error
  // (kKeepReadable) the image holds what could be read, the rest black (JPEG: what the
  // library makes of the missing data).
  bool damaged = false;
  // The decoding library's own messages, each kind once ("VipsJpeg:
  // Premature end of JPEG file"). They do not fail a read by themselves.
  std::vector<std::string> warnings;

  bool ok() const { return code == ErrorCode::kNone; }
  // The error to report for a read that failed, or whose image is damaged
  // (kUnreadable then, with what is missing).
  Error error() const { return Error{ok() ? ErrorCode::kUnreadable : code, message}; }
};

// What a read does with a damaged file.
enum class DamagePolicy {
  kRefuse,        // kUnreadable (the command-line tool)
  kKeepReadable,  // no error, `damaged` set, when at least one row could be
                  // read (the desktop program shows it), else kUnreadable
};

// What a file's header says, found without reading pixels, is the public
// ImageInfo (kestrune/io.h): the readers fill it in, ReadImageInfo hands it
// on as it is. Its bitsPerPixel for a BMP file is what a full read records
// as FloatImage::sourceBitDepth.

// The most standard input may hold: it is read whole into memory first.
inline constexpr uint64_t kMaxStandardInput = uint64_t{1} << 30;

// Reads `path` ("-": standard input) into `image`, with the EXIF orientation
// applied and the metadata filled in. On failure the image is left empty.
// The decoders' messages are collected in the status; nothing is printed.
ReadStatus ReadImageFile(const std::string& path, FloatImage& image, DamagePolicy policy = DamagePolicy::kRefuse);

// Reads the header of `path` and makes the checks that need no pixels: the
// kind is supported, the size within the limits and within what the file
// can hold. A BMP or PFM file whose pixel data is cut short gives no error
// and `damaged` (as a read with kKeepReadable would), or kUnreadable when not
// one row is there; damage inside compressed data is found only by reading it.
ReadStatus ReadImageHeader(const std::string& path, ImageInfo& header);

// The same on a whole file held in memory, which the caller keeps.
ReadStatus ReadImageMemory(const uint8_t* data, std::size_t size, FloatImage& image,
                           DamagePolicy policy = DamagePolicy::kRefuse);
ReadStatus ReadImageHeaderMemory(const uint8_t* data, std::size_t size, ImageInfo& header);

}  // namespace kestrune
