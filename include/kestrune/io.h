/// @file
/// Image files: reading (the format told from the file's first bytes) and
/// writing (the format chosen by the name's extension), all or nothing.
#pragma once

#include <cstdint>
#include <string>

#include "kestrune/export.h"
#include "kestrune/image.h"
#include "kestrune/result.h"

namespace kestrune {

/// The file formats the library knows, as files name them and as it reads
/// and writes them.
enum class FileFormat {
  kUnknown = 0,  ///< also a file read by another of libvips's loaders (a matrix file, ...)
  kBmp,          ///< read: 1, 4, 8, 24 and 32 bits per pixel, uncompressed, no alpha; written: 24 bits, no alpha
  kPng,          ///< read: every colour type; written: 8 or 16 bits, with alpha, grey or colour
  kJpeg,         ///< read: greyscale and colour (CMYK refused); written: 8 bits, WriteOptions::quality, no alpha
  kPfm,          ///< portable float map, 1.0 is white (read: both byte orders, colour and grey); no alpha
  kTiff,         ///< written: 8, 16 or 32-bit float, lossless (deflate) compression
  kWebp,         ///< written: lossy with WriteOptions::quality, or lossless
  kHeif,         ///< HEIF and AVIF: read only
  kGif,          ///< read only: the first frame
  kPnm,          ///< PBM, PGM, PPM: read only
};

/// The format a file name's extension names (".bmp", ".png", ".jpg", ".jpeg",
/// ".pfm", ".tif", ".tiff", ".webp", ".heic", ".heif", ".avif", ".gif", ".pbm",
/// ".pgm", ".ppm", ".pnm", any letter case), else kUnknown.
KESTRUNE_API FileFormat FormatFromExtension(const std::string& path);
/// Whether WriteImage writes this format.
KESTRUNE_API bool CanWrite(FileFormat format);

/// How ReadImage reads.
struct ReadOptions {
  /// A damaged file (cut short, corrupt data) is normally refused. With
  /// keepDamaged the part that could be read is returned (the rest black)
  /// together with a kUnreadable error that says what is missing.
  bool keepDamaged = false;
};

/// What a file's header says.
struct ImageInfo {
  FileFormat format = FileFormat::kUnknown;  ///< as the first bytes name it
  ///@{
  /// Size in pixels, upright (after the EXIF orientation), as ReadImage gives it.
  uint32_t width = 0;
  uint32_t height = 0;
  ///@}
  /// Bits per pixel as stored: BMP 1, 4, 8, 24 or 32; PNG its bit depth times
  /// its channels (a palette image: the index depth); PFM 32 per channel;
  /// other formats the decoded sample size times the channels.
  uint32_t bitsPerPixel = 0;
  bool hasAlpha = false;                      ///< an alpha channel is stored
  SampleDepth depth = SampleDepth::kUnknown;  ///< as ReadImage records it in the metadata
  bool greyscale = false;                     ///< one colour channel is stored
  bool hasProfile = false;                    ///< an ICC profile is embedded
  bool hasExif = false;                       ///< an EXIF block is embedded
};

/// Reads an image file, its format told from the first bytes whatever its
/// name; the path "-" reads standard input (as does any stream that cannot
/// seek, read into memory first). BMP and PFM are read by the library's own
/// readers, every other format by libvips with only its trusted loaders. EXIF
/// orientation is applied to the pixels; the profile, tags, depth and greyscale flag go into the
/// image's metadata; 16-bit samples keep their precision (v / 257). A
/// declared size beyond what the file can hold, or beyond the image limits,
/// is refused before anything is allocated. Errors: kCannotOpen (missing, a
/// folder, no permission), kUnreadable (empty, not a format this library
/// reads, an unsupported kind, damaged, too large; the message gives the
/// reason, for a damaged file what is missing), kOutOfMemory. The decoder's
/// own remarks are in the result's warnings. `format`, when given, receives
/// the format the first bytes name (kUnknown when they name none of the
/// enumeration's), also when the read fails.
KESTRUNE_API Result<Image> ReadImage(const std::string& path, const ReadOptions& options = {},
                                     FileFormat* format = nullptr);

/// What the file's header says, without reading the pixels, after the checks
/// that need none (a supported kind, a size within the limits and within what
/// the file can hold). Errors as for ReadImage.
KESTRUNE_API Result<ImageInfo> ReadImageInfo(const std::string& path);

/// How WriteImage writes.
struct WriteOptions {
  /// kUnknown: by the extension of the path (required for "-").
  FileFormat format = FileFormat::kUnknown;
  /// kUnknown: the image's source depth where the format can hold it (else
  /// the nearest it can: JPEG and WebP 8 bits, PNG 8 or 16, TIFF 8, 16 or 32f,
  /// PFM 32f, BMP 8). A depth the format cannot hold is an error.
  SampleDepth depth = SampleDepth::kUnknown;
  int quality = 92;       ///< JPEG and lossy WebP, 1..100
  bool lossless = false;  ///< WebP
  /// A folder the path lies below that other users may write to (a batch's
  /// output folder): the folders between are made when missing and nothing
  /// below it is followed, so that whatever is at the path (a symbolic link, a
  /// FIFO) but a folder is replaced by the file, and a link among the folders
  /// between fails the write. Empty: links are followed as WriteImage says.
  std::string within = {};
};

/// Writes `image` with its alpha plane and metadata where the format holds
/// them: the ICC profile byte for byte (PNG, JPEG, TIFF, WebP), EXIF (PNG,
/// JPEG, WebP; its orientation "normal" and its pixel dimensions those of the
/// image), XMP (PNG, JPEG, TIFF, WebP), IPTC (JPEG, TIFF); a greyscale image
/// as one channel (every format but BMP). BMP, JPEG and PFM get the colour
/// planes only. Samples are rounded half to even and clamped to the depth's
/// range (32-bit float keeps them as they are, 255 written as 1.0). The path
/// "-" writes standard output (WriteOptions::format required). The file is
/// written all or nothing: into a temporary file beside the target (named
/// ".kestrune-tmp-<pid>-<n>", whatever the target's name), flushed to the disk
/// and renamed over the target only when complete, so that on any failure the
/// file that was there before is untouched; a symbolic link at the path keeps
/// pointing where it did and its target is replaced, and a device or a FIFO is
/// written directly (unless WriteOptions::within is given). Errors:
/// kInvalidArgument (empty image, unknown format, a depth the format cannot
/// hold, a quality outside 1..100), kCannotWrite (the message
/// names the path and the system's reason).
KESTRUNE_API Error WriteImage(const Image& image, const std::string& path, const WriteOptions& options = {});

/// The checks WriteImage makes before writing, for callers that want to refuse
/// before long work: a format this library writes and a folder that exists
/// and can be written. The empty error when a write may be attempted.
KESTRUNE_API Error CheckOutputPath(const std::string& path, const WriteOptions& options = {});

/// Removes the temporary files of the writes in progress in this process.
/// Safe to call from a signal handler (it only unlinks), so that a program
/// stopped by a signal leaves nothing behind.
KESTRUNE_API void RemovePartialOutputs();

}  // namespace kestrune
