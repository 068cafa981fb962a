// Rows of pictures too large to hold whole, read through libvips from the
// top down as far as asked.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include <vips/vips8>

#include "image/format_readers.h"
#include "image/row_files.h"
#include "image/vips_messages.h"
#include "image/vips_metadata.h"
#include "image/vips_runtime.h"
#include "image/vips_samples.h"

namespace kestrune {

using namespace vipsio;
using vips::VError;
using vips::VImage;
using vips::VRegion;

struct RowFileReader::State {
  int descriptor = -1;
  ImageInfo header;
  ImageMetadata metadata;
  VImage stored;
  std::optional<VRegion> region;
  uint32_t next = 0;
  std::string name;
  ~State() {
    if (descriptor >= 0) ::close(descriptor);
  }
};

RowFileReader::RowFileReader() = default;
RowFileReader::~RowFileReader() {
  if (state_) {
    std::lock_guard<std::mutex> lock(g_vipsMutex);
    state_.reset();
  }
}

const ImageInfo& RowFileReader::header() const { return state_->header; }
const ImageMetadata& RowFileReader::metadata() const { return state_->metadata; }

ReadStatus RowFileReader::Open(const std::string& path) {
  auto state = std::make_unique<State>();
  ReadStatus status = ReadImageHeader(path, state->header);
  if (!status.ok()) return status;
  if (state->header.format == FileFormat::kBmp || state->header.format == FileFormat::kPfm || path == "-")
    return Refusal(state->header.format, "not read by rows");
  if (status.damaged) return Refusal(state->header.format, status.message);
  state->descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (state->descriptor < 0) return Refusal(state->header.format, "the file cannot be opened");
  std::lock_guard<std::mutex> lock(g_vipsMutex);
  WarningCapture capture(status.warnings);
  vips_error_clear();
  try {
    VipsInput in;
    in.descriptor = state->descriptor;
    in.size = uint64_t(std::max<off_t>(0, ::lseek(state->descriptor, 0, SEEK_END)));
    state->stored = Load(in, VIPS_FAIL_ON_ERROR);
    VipsImage* image = state->stored.get_image();
    const int orientation = vips_image_get_typeof(image, VIPS_META_ORIENTATION) ? vips_image_get_orientation(image) : 1;
    if (orientation > 1 && orientation <= 8) return Refusal(state->header.format, "turned by its EXIF orientation");
    state->metadata = MetadataOf(state->stored, state->header, in);
    state->region = state->stored.region();
  } catch (const VError& e) {
    const std::string reason = Explain(e.what(), status.warnings);
    vips_error_clear();
    return Refusal(state->header.format, std::string(FormatName(state->header.format)) + " cannot be read: " + reason);
  }
  state->name = FormatName(state->header.format);
  state_ = std::move(state);
  return status;
}

ReadStatus RowFileReader::Read(uint32_t rows, FloatImage& band) {
  State& s = *state_;
  const uint32_t w = s.header.width;
  rows = std::min(rows, s.header.height - s.next);
  ReadStatus status;
  status.format = s.header.format;
  try {
    band.Allocate(w, rows, s.header.hasAlpha, false);
  } catch (const std::bad_alloc&) {
    return Refusal(s.header.format, "not enough memory for the rows");
  }
  band.metadata = s.metadata;
  if (rows == 0) return status;
  std::lock_guard<std::mutex> lock(g_vipsMutex);
  WarningCapture capture(status.warnings);
  vips_error_clear();
  bool failed = false;
  std::string failure;
  try {
    s.region->prepare(0, int(s.next), int(w), int(rows));
  } catch (const VError& e) {
    failed = true;
    failure = e.what();
  }
  failed = failed || std::any_of(status.warnings.begin(), status.warnings.end(), [](const std::string& w) {
             return w.rfind("error in tile", 0) == 0 || SaysTruncated(w);
           });
  if (failed) {
    const std::string reason = Explain(failure, status.warnings);
    vips_error_clear();
    ReadStatus damage = Damage(s.header.format,
                               s.name + (SaysTruncated(reason) ? " truncated" : " damaged") + " after row " +
                                   std::to_string(s.next) + " of " + std::to_string(s.header.height) + ": " + reason,
                               false, DamagePolicy::kRefuse);
    damage.warnings = std::move(status.warnings);
    return damage;
  }
  // Orientation 1, and a region as wide as the picture holds its rows one
  // after the other: Spread places them as a whole read would.
  const void* samples = VIPS_REGION_ADDR(s.region->get_region(), 0, int(s.next));
  const int bands = s.stored.bands();
  if (std::string problem = NonFiniteProblem(s.name, s.stored.format(), samples, w, rows, bands, s.next);
      !problem.empty())
    return Refusal(s.header.format, std::move(problem));
  switch (s.stored.format()) {
    case VIPS_FORMAT_UCHAR: Spread(static_cast<const uint8_t*>(samples), w, rows, bands, 1, 1.0f, false, band); break;
    case VIPS_FORMAT_USHORT:
      Spread(static_cast<const uint16_t*>(samples), w, rows, bands, 1, 257.0f, true, band);
      break;
    case VIPS_FORMAT_FLOAT: Spread(static_cast<const float*>(samples), w, rows, bands, 1, 255.0f, false, band); break;
    default: Spread(static_cast<const double*>(samples), w, rows, bands, 1, 255.0f, false, band); break;
  }
  s.next += rows;
  return status;
}

}  // namespace kestrune
