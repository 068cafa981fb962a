// The file layer of a build without libvips (KESTRUNE_WITH_VIPS=OFF, as for
// the arm64 test build, where Debian's libvips cannot be installed beside the
// native one): BMP and PFM, which are the program's own, and nothing else.
#include "image/format_readers.h"
#include "image/image_writers.h"
#include "image/row_files.h"

namespace kestrune {

ReadStatus ReadWithVips(const VipsInput& input, ImageInfo&, FloatImage*, DamagePolicy) {
  return Refusal(input.signature, "this build of Kestrune reads BMP and PFM files only");
}

Error WriteWithVips(std::FILE*, const FloatImage&, const WriteOptions&, SampleDepth) {
  return WriteFailure("this build of Kestrune writes BMP and PFM files only");
}

// Without libvips nothing is read or written by rows: callers read whole.
struct RowFileReader::State {
  ImageInfo header;
  ImageMetadata metadata;
};
RowFileReader::RowFileReader() = default;
RowFileReader::~RowFileReader() = default;
const ImageInfo& RowFileReader::header() const { return state_->header; }
const ImageMetadata& RowFileReader::metadata() const { return state_->metadata; }
ReadStatus RowFileReader::Open(const std::string&) { return Refusal(FileFormat::kUnknown, "not read by rows"); }
ReadStatus RowFileReader::Read(uint32_t, FloatImage&) { return Refusal(FileFormat::kUnknown, "not read by rows"); }

struct RowFileWriter::State {};
RowFileWriter::RowFileWriter() = default;
RowFileWriter::~RowFileWriter() = default;
bool RowFileWriter::Takes(FileFormat) { return false; }
bool RowFileWriter::Open(const std::string&, uint32_t, uint32_t, bool, const ImageMetadata&, const WriteOptions&,
                         std::string& reason) {
  reason = "not written by rows";
  return false;
}
bool RowFileWriter::Write(const FloatImage&, std::string& reason) { return Open({}, 0, 0, false, {}, {}, reason); }
bool RowFileWriter::Commit(std::string& reason) { return Open({}, 0, 0, false, {}, {}, reason); }

}  // namespace kestrune
