// Pictures too large to hold whole, read and written a band of rows at a
// time from the top down through libvips. The reader decodes only as far as
// it has been asked; the writer spools the samples, at the depth they will be
// written, to a temporary file beside the target and encodes from it when
// the last row is in (libvips maps the spool a window at a time), then puts
// the file in place all or nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/float_image.h"
#include "image/image_readers.h"
#include "kestrune/io.h"

namespace kestrune {

class RowFileReader {
 public:
  RowFileReader();
  ~RowFileReader();
  RowFileReader(const RowFileReader&) = delete;
  RowFileReader& operator=(const RowFileReader&) = delete;

  // Opens `path` (a file libvips reads, stored upright: EXIF orientation 1)
  // after the same checks as a whole read. A failed status says why; BMP,
  // PFM, standard input and turned pictures are not read this way.
  ReadStatus Open(const std::string& path);
  const ImageInfo& header() const;
  const ImageMetadata& metadata() const;
  // The next `rows` rows into `band` (allocated here, width x rows, with an
  // alpha plane when the file has one). A damaged file fails with its reason.
  ReadStatus Read(uint32_t rows, FloatImage& band);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class RowFileWriter {
 public:
  RowFileWriter();
  ~RowFileWriter();  // without Commit: nothing is written, the spool is removed
  RowFileWriter(const RowFileWriter&) = delete;
  RowFileWriter& operator=(const RowFileWriter&) = delete;

  // Whether this writer takes `options.format` (PNG, JPEG, TIFF, WebP).
  static bool Takes(FileFormat format);
  // Starts a width x height picture at `path` with `metadata` (profile,
  // EXIF, XMP, IPTC, greyscale, the source depth) and an alpha plane when
  // `alpha`. False with the reason when the path or the depth is refused.
  bool Open(const std::string& path, uint32_t width, uint32_t height, bool alpha, const ImageMetadata& metadata,
            const WriteOptions& options, std::string& reason);
  // The next rows, in order.
  bool Write(const FloatImage& rows, std::string& reason);
  // After the last row: encodes the file and moves it into place.
  bool Commit(std::string& reason);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kestrune
