// ReadImageFile and ReadImageHeader: open the file (or take it from memory),
// tell its format from the first bytes and hand it to the program's own
// reader or to libvips. Also the status texts the readers share.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/available_memory.h"
#include "image/format_readers.h"
#include "image/stdio_file.h"

namespace kestrune {

namespace {

ReadStatus Failure(ErrorCode code, FileFormat format, std::string message) {
  ReadStatus status;
  status.code = code;
  status.format = format;
  status.message = std::move(message);
  return status;
}

std::string SystemReason() { return std::strerror(errno); }

// Opens `path` for reading; on failure fills `status` and returns null.
StdioFile OpenForReading(const std::string& path, ReadStatus& status) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    status = Failure(ErrorCode::kCannotOpen, FileFormat::kUnknown, "it is a folder, not a file");
    return {};
  }
  errno = 0;
  StdioFile file = OpenStdioFile(path, "rb");
  if (!file)
    status = Failure(ErrorCode::kCannotOpen, FileFormat::kUnknown, "the file cannot be opened: " + SystemReason());
  return file;
}

// The length of a seekable stream, which is left at its start.
bool StreamSize(std::FILE* file, uint64_t& size) {
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  const off_t end = ftello(file);
  if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) return false;
  size = static_cast<uint64_t>(end);
  return true;
}

// Reads what is left of a stream (standard input, a pipe) into `bytes`,
// at most `limit` bytes and one more: more than `limit` is too much.
bool Slurp(std::FILE* file, std::vector<uint8_t>& bytes, uint64_t limit = UINT64_MAX) {
  uint8_t block[65536];
  std::size_t got;
  while (bytes.size() <= limit &&
         (got = std::fread(block, 1, std::min<uint64_t>(sizeof block, limit + 1 - bytes.size()), file)) > 0)
    bytes.insert(bytes.end(), block, block + got);
  return !std::ferror(file);
}

// Standard input is read whole before decoding, so its length is bounded;
// and its first bytes are looked at before the rest is read, so that endless
// input that is no image is refused at once.
constexpr std::size_t kSignatureBytes = 16;

// The first bytes go to the checks made before decoding: the signature, a
// PNG's image header, the JPEG markers up to the first scan.
constexpr std::size_t kHeadBytes = std::size_t{1} << 20;

// A whole file: a seekable stream with its descriptor, or bytes in memory
// (and a stream over them for the program's own readers).
struct Input {
  std::FILE* file = nullptr;
  int descriptor = -1;
  const uint8_t* data = nullptr;
  uint64_t size = 0;
};

ReadStatus Dispatch(const Input& in, ImageInfo& header, FloatImage* image, DamagePolicy policy) {
  std::vector<uint8_t> buffer;
  const uint8_t* head = in.data;
  std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(in.size, kHeadBytes));
  if (!in.data) {
    buffer.resize(count);
    errno = 0;
    count = std::fread(buffer.data(), 1, count, in.file);
    if (std::ferror(in.file) || fseeko(in.file, 0, SEEK_SET) != 0)
      return Failure(ErrorCode::kCannotOpen, FileFormat::kUnknown, "the file cannot be read: " + SystemReason());
    head = buffer.data();
  }
  if (count == 0) return Failure(ErrorCode::kUnreadable, FileFormat::kUnknown, "the file is empty");
  const FileFormat format = FormatOfSignature(head, count);
  header = ImageInfo{};
  header.format = format;
  if (format == FileFormat::kBmp) return ReadBmp(in.file, in.size, header, image, policy);
  if (format == FileFormat::kPfm) return ReadPfm(in.file, in.size, header, image, policy);
  VipsInput vips;
  vips.descriptor = in.descriptor;
  vips.data = in.data;
  vips.size = in.size;
  vips.head = head;
  vips.headSize = count;
  vips.signature = format;
  return ReadWithVips(vips, header, image, policy);
}

ReadStatus DispatchMemory(const uint8_t* data, std::size_t size, ImageInfo& header, FloatImage* image,
                          DamagePolicy policy) {
  if (size == 0) return Failure(ErrorCode::kUnreadable, FileFormat::kUnknown, "the file is empty");
  StdioFile file(fmemopen(const_cast<uint8_t*>(data), size, "rb"));
  if (!file) return Failure(ErrorCode::kCannotOpen, FileFormat::kUnknown, "the file cannot be read: " + SystemReason());
  return Dispatch({file.get(), -1, data, size}, header, image, policy);
}

// Reads `path` ("-": standard input). A stream that cannot seek is read
// into memory first.
ReadStatus DispatchPath(const std::string& path, ImageInfo& header, FloatImage* image, DamagePolicy policy) {
  std::vector<uint8_t> bytes;
  if (path == "-") {
    errno = 0;
    if (!Slurp(stdin, bytes, kSignatureBytes - 1) ||
        (bytes.size() == kSignatureBytes && FormatOfSignature(bytes.data(), bytes.size()) != FileFormat::kUnknown &&
         !Slurp(stdin, bytes, kMaxStandardInput)))
      return Failure(ErrorCode::kCannotOpen, FileFormat::kUnknown, "standard input cannot be read: " + SystemReason());
    if (!bytes.empty() && FormatOfSignature(bytes.data(), bytes.size()) == FileFormat::kUnknown) return NotAnImage(0);
    if (bytes.size() > kMaxStandardInput)
      return Failure(ErrorCode::kUnreadable, FormatOfSignature(bytes.data(), bytes.size()),
                     "standard input holds more than " + std::to_string(kMaxStandardInput) +
                         " bytes (1 GiB), the most this program reads from it");
    return DispatchMemory(bytes.data(), bytes.size(), header, image, policy);
  }
  ReadStatus status;
  StdioFile file = OpenForReading(path, status);
  if (!file) return status;
  uint64_t size = 0;
  if (StreamSize(file.get(), size))
    return Dispatch({file.get(), ::fileno(file.get()), nullptr, size}, header, image, policy);
  if (!Slurp(file.get(), bytes))
    return Failure(ErrorCode::kCannotOpen, FileFormat::kUnknown, "the file cannot be read: " + SystemReason());
  return DispatchMemory(bytes.data(), bytes.size(), header, image, policy);
}

}  // namespace

const char* FormatName(FileFormat format) {
  switch (format) {
    case FileFormat::kBmp: return "BMP";
    case FileFormat::kPng: return "PNG";
    case FileFormat::kJpeg: return "JPEG";
    case FileFormat::kPfm: return "PFM";
    case FileFormat::kTiff: return "TIFF";
    case FileFormat::kWebp: return "WebP";
    case FileFormat::kHeif: return "HEIF";
    case FileFormat::kGif: return "GIF";
    case FileFormat::kPnm: return "PNM";
    default: return "unknown";
  }
}

FileFormat FormatOfSignature(const uint8_t* bytes, std::size_t count) {
  auto starts = [&](const char* signature, std::size_t length) {
    return count >= std::min<std::size_t>(length, 2) && std::memcmp(bytes, signature, std::min(count, length)) == 0;
  };
  const auto space = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  if (starts("BM", 2)) return FileFormat::kBmp;
  if (starts("\x89PNG\r\n\x1a\n", 8)) return FileFormat::kPng;
  if (starts("\xff\xd8\xff", 3)) return FileFormat::kJpeg;
  // PFM: "PF" (colour) or "Pf" (grey), then the white space ending the token.
  if (count >= 2 && bytes[0] == 'P' && (bytes[1] == 'F' || bytes[1] == 'f') && (count == 2 || space(bytes[2])))
    return FileFormat::kPfm;
  if (count >= 3 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '6' && space(bytes[2])) return FileFormat::kPnm;
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return FileFormat::kTiff;
  if (starts("GIF8", 4)) return FileFormat::kGif;
  if (count >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0)
    return FileFormat::kWebp;
  // HEIF and AVIF: an ISO box "ftyp" whose brand names one of them.
  if (count >= 12 && std::memcmp(bytes + 4, "ftyp", 4) == 0) {
    static const char* const kBrands[] = {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1", "avif", "avis"};
    for (const char* brand : kBrands)
      if (std::memcmp(bytes + 8, brand, 4) == 0) return FileFormat::kHeif;
  }
  return FileFormat::kUnknown;
}

ReadStatus ReadImageFile(const std::string& path, FloatImage& image, DamagePolicy policy) {
  ImageInfo header;
  ReadStatus status = DispatchPath(path, header, &image, policy);
  if (!status.ok()) image.Release();
  return status;
}

ReadStatus ReadImageHeader(const std::string& path, ImageInfo& header) {
  return DispatchPath(path, header, nullptr, DamagePolicy::kKeepReadable);
}

ReadStatus ReadImageMemory(const uint8_t* data, std::size_t size, FloatImage& image, DamagePolicy policy) {
  ImageInfo header;
  ReadStatus status = DispatchMemory(data, size, header, &image, policy);
  if (!status.ok()) image.Release();
  return status;
}

ReadStatus ReadImageHeaderMemory(const uint8_t* data, std::size_t size, ImageInfo& header) {
  return DispatchMemory(data, size, header, nullptr, DamagePolicy::kKeepReadable);
}

ReadStatus NotAnImage(uint64_t size) {
  // Never the bytes themselves: the file may be anything a link points at.
  return Failure(ErrorCode::kUnreadable, FileFormat::kUnknown,
                 "not an image: its first bytes match no format this program reads" +
                     (size != 0 ? " (a file of " + std::to_string(size) + " bytes)" : std::string()));
}

ReadStatus Refusal(FileFormat format, std::string message) {
  return Failure(ErrorCode::kUnreadable, format, std::move(message));
}

ReadStatus Damage(FileFormat format, std::string message, bool readable, DamagePolicy policy) {
  const bool kept = readable && policy == DamagePolicy::kKeepReadable;
  ReadStatus status = Failure(kept ? ErrorCode::kNone : ErrorCode::kUnreadable, format, std::move(message));
  status.damaged = true;
  return status;
}

std::string SizeLimitProblem(FileFormat format, uint64_t width, uint64_t height) {
  if (ImageSizeAllowed(width, height)) return {};
  return std::string(FormatName(format)) + " of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is outside the limits of 1 to " + std::to_string(kMaxImageSide) + " pixels a side and " +
         std::to_string(kMaxImagePixels) + " in all";
}

std::string NonFiniteMessage(const std::string& name, uint64_t row, uint64_t column, const char* channel,
                             double value) {
  const char* what = std::isnan(value) ? "NaN" : value > 0 ? "+infinity" : "-infinity";
  return name + " sample at row " + std::to_string(row) + ", column " + std::to_string(column) + " (" + channel +
         ") is " + what + ": samples must be finite";
}

ReadStatus MemoryCheck(FileFormat format, uint64_t width, uint64_t height, uint64_t bytes) {
  const uint64_t available = AvailableMemoryBytes();
  if (bytes <= available) return Failure(ErrorCode::kNone, format, {});
  char text[160];
  std::snprintf(text, sizeof text,
                " of %llu x %llu pixels needs about %.1f GB of memory to decode; %.1f GB are available",
                (unsigned long long)width, (unsigned long long)height, double(bytes) / 1e9, double(available) / 1e9);
  return Failure(ErrorCode::kOutOfMemory, format, FormatName(format) + std::string(text));
}

std::string TruncatedRowsMessage(FileFormat format, uint64_t rows, uint64_t height, bool bottomUp, uint64_t needed,
                                 uint64_t offset, uint64_t held) {
  const uint64_t missing = height - rows;
  std::string which = missing == height
                          ? "all rows are missing"
                          : std::string("the ") + (bottomUp ? "top " : "bottom ") + std::to_string(missing) +
                                (missing == 1 ? " row is" : " rows are") + " missing";
  return std::string(FormatName(format)) + " truncated after row " + std::to_string(rows) + " of " +
         std::to_string(height) + " (" + which + "): its pixel data needs " + std::to_string(needed) +
         " bytes from offset " + std::to_string(offset) + ", the file holds " + std::to_string(held) + " of them";
}

}  // namespace kestrune
