// The enlargement by rows: the source band, the policy of what goes by rows,
// its checks and memory, and the loop over the rows of tiles.
#include "upscale/upscale_rows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "base/available_memory.h"
#include "image/jpeg_coefficients.h"
#include "upscale/jpeg_observation.h"
#include "upscale/observation_choice.h"
#include "upscale/tiled_upscale.h"

namespace kestrune {

namespace {

// Keeps source rows [first, first + rows) of the picture as three planes
// of at most `capacity` rows, reading further rows from the file as they
// are asked for; the rows kept move up in place.
class SourceRows {
 public:
  SourceRows(RowFileReader& reader, uint32_t width, uint32_t capacity)
      : reader_(reader), width_(width), planes_(width, capacity) {}

  // Makes the band hold rows [from, to): drops the rows above `from`,
  // reads up to `to`.
  ReadStatus Hold(uint32_t from, uint32_t to) {
    const uint32_t end = first_ + rows_, keep = end > from ? end - from : 0;
    FloatImage more;
    ReadStatus status = reader_.Read(to - std::max(from, end), more);
    if (!status.ok()) return status;
    const std::size_t kept = std::size_t(keep) * width_;
    for (int c = 0; c < 3; ++c) {
      float* plane = planes_.samples(c);
      if (keep > 0) std::memmove(plane, plane + (std::size_t(rows_) * width_ - kept), kept * sizeof(float));
      if (more.height > 0) std::memcpy(plane + kept, more.samples(c), more.PixelCount() * sizeof(float));
    }
    first_ = from;
    rows_ = keep + more.height;
    return status;
  }
  SourceBand Band() const {
    SourceBand band;
    for (int c = 0; c < 3; ++c) band.planes[c] = planes_.samples(c);
    band.y0 = int(first_);
    band.rows = int(rows_);
    return band;
  }

 private:
  RowFileReader& reader_;
  uint32_t width_;
  FloatImage planes_;
  uint32_t first_ = 0, rows_ = 0;
};

}  // namespace

bool UpscaleTakesRows(const std::string& input, const std::string& output, const UpscaleSettings& settings,
                      FileFormat format, RowFileReader& reader) {
  return input != "-" && output != "-" && settings.params.initialMethod != InitialMethod::kFromImage &&
         RowFileWriter::Takes(format) && reader.Open(input).ok() && !reader.header().hasAlpha &&
         UseTiles(reader.header().width, reader.header().height) &&
         (settings.width == 0 || settings.width == 2 * reader.header().width) &&
         (settings.height == 0 || settings.height == 2 * reader.header().height);
}

Error UpscaleByRows(RowFileReader& reader, const std::string& input, const std::string& output,
                    const UpscaleSettings& settings, const WriteOptions& how, Progress* progress) {
  const uint32_t w = reader.header().width, h = reader.header().height;
  if (std::string problem = CheckUpscaleRun(w, h, settings, false); !problem.empty())
    return Error{ErrorCode::kInvalidArgument, std::move(problem)};
  SRParams params = settings.params;
  // A JPEG file's coefficients, for the observation model, held whole (some
  // 3 bytes a pixel with chroma at half resolution).
  JpegCoefficients coefficients;
  const JpegCoefficients* jpeg = nullptr;
  if (settings.jpegModel && reader.header().format == FileFormat::kJpeg) {
    std::string reason;
    const JpegCoefficientsRead read = ReadJpegCoefficients(input, coefficients, reason);
    if (read == JpegCoefficientsRead::kDamaged) return Error{ErrorCode::kUnreadable, "JPEG damaged: " + reason};
    if (read == JpegCoefficientsRead::kRead && coefficients.width == w && coefficients.height == h)
      jpeg = &coefficients;
  }
  // One tile's run (the whole picture's need but for the estimate, which is
  // not held), the source band, a band of the result with its interleaved
  // copy, and the coefficients. JPEG sources take the larger tiles when they
  // fit.
  const int block = jpeg != nullptr ? JpegObservation::BlockSide(*jpeg) : 0;
  std::size_t coefficientBytes = 0;
  if (jpeg != nullptr)
    for (const JpegComponent& c : jpeg->components) coefficientBytes += c.coefficients.size() * sizeof(int16_t);
  auto need = [&](int core) {
    const double side = core + 2.0 * TileMargin(params, block);
    return double(UpscaleMemoryEstimate(w, h, settings, false, block, core)) - 48.0 * w * h +
           12.0 * w * std::min<double>(h, side) + 64.0 * w * core + double(coefficientBytes);
  };
  const uint64_t available = AvailableMemoryBytes();
  const int core = block != 0 && need(kJpegTileCore) <= double(available) ? kJpegTileCore : kTileCore;
  const TileGrid grid{core, TileMargin(params, block)};
  const double needed = need(core);
  if (needed > double(available)) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Kestrune interpolation of a %u x %u image needs about %.1f GB of memory; %.1f GB are available.", w,
                  h, needed / 1e9, double(available) / 1e9);
    return Error{ErrorCode::kOutOfMemory, text};
  }
  try {
    RowFileWriter writer;
    std::string reason;
    if (!writer.Open(output, 2 * w, 2 * h, false, reader.metadata(), how, reason))
      return Error{ErrorCode::kCannotWrite, output + ": " + reason};
    SourceRows source(reader, w, std::min(h, uint32_t(grid.core + 2 * grid.margin)));
    uint32_t tileIndex = 0;
    for (uint32_t y0 = 0; y0 < h; y0 += uint32_t(grid.core)) {
      const uint32_t y1 = std::min(h, y0 + uint32_t(grid.core));
      const uint32_t from = y0 > uint32_t(grid.margin) ? y0 - uint32_t(grid.margin) : 0;
      const uint32_t to = std::min(h, y1 + uint32_t(grid.margin));
      if (ReadStatus status = source.Hold(from, to); !status.ok()) return status.error();
      FloatImage band(2 * w, 2 * (y1 - y0));
      float* out[3] = {band.samples(0), band.samples(1), band.samples(2)};
      SourceBand rows = source.Band();
      rows.jpeg = jpeg;
      if (y0 == 0) params = ResolveObservation(params, rows.planes, int(w), rows.rows);  // from the first rows
      if (!UpscaleTileRow(rows, int(w), int(h), int(y0), int(y1), out, params, grid, progress, ImageView{}, tileIndex))
        return Error{ErrorCode::kCancelled, "Stopped before every tile was enlarged; nothing was written."};
      band.metadata = reader.metadata();
      if (!writer.Write(band, reason)) return Error{ErrorCode::kCannotWrite, output + ": " + reason};
    }
    if (!writer.Commit(reason)) return Error{ErrorCode::kCannotWrite, output + ": " + reason};
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "Not enough memory for this image."};
  }
  return {};
}

}  // namespace kestrune
