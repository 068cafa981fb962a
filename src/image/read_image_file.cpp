// ReadImageFile and ReadImageHeader: open the file, tell its format from the
// first bytes and hand it to that format's reader. Also the status texts the
// readers share.
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "image/format_readers.h"
#include "image/stdio_file.h"

namespace kestrune {

namespace {

ReadStatus Failure(int code, FileFormat format, std::string message) {
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
    status = Failure(kReadCannotOpen, FileFormat::kUnknown, "it is a folder, not a file");
    return {};
  }
  errno = 0;
  StdioFile file = OpenStdioFile(path, "rb");
  if (!file) status = Failure(kReadCannotOpen, FileFormat::kUnknown, "the file cannot be opened: " + SystemReason());
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

ReadStatus Dispatch(std::FILE* file, ImageHeader& header, FloatImage* image, DamagePolicy policy) {
  uint8_t head[8];
  errno = 0;
  const std::size_t count = std::fread(head, 1, sizeof head, file);
  if (std::ferror(file))
    return Failure(kReadCannotOpen, FileFormat::kUnknown, "the file cannot be read: " + SystemReason());
  if (count == 0) return Failure(kReadNoReader, FileFormat::kUnknown, "the file is empty");
  const FileFormat format = FormatOfSignature(head, count);
  if (format == FileFormat::kUnknown) {
    std::string bytes;
    char hex[4];
    for (std::size_t i = 0; i < count; ++i) {
      std::snprintf(hex, sizeof hex, " %02X", head[i]);
      bytes += hex;
    }
    return Failure(kReadNoReader, format, "not a BMP, PNG, JPEG or PFM file (it starts with" + bytes + ")");
  }
  uint64_t size = 0;
  if (!StreamSize(file, size))
    return Failure(kReadCannotOpen, format, "the file's length cannot be told: it is not a regular file");

  header = ImageHeader{};
  header.format = format;
  switch (format) {
    case FileFormat::kBmp: return ReadBmp(file, size, header, image, policy);
    case FileFormat::kPng: return ReadPng(file, size, header, image, policy);
    case FileFormat::kJpeg: return ReadJpeg(file, size, header, image, policy);
    default: return ReadPfm(file, size, header, image, policy);
  }
}

}  // namespace

const char* FormatName(FileFormat format) {
  switch (format) {
    case FileFormat::kBmp: return "BMP";
    case FileFormat::kPng: return "PNG";
    case FileFormat::kJpeg: return "JPEG";
    case FileFormat::kPfm: return "PFM";
    default: return "unknown";
  }
}

FileFormat FormatOfSignature(const uint8_t* bytes, std::size_t count) {
  static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto starts = [&](const uint8_t* signature, std::size_t length) {
    return count >= std::min<std::size_t>(length, 2) && std::memcmp(bytes, signature, std::min(count, length)) == 0;
  };
  if (starts(reinterpret_cast<const uint8_t*>("BM"), 2)) return FileFormat::kBmp;
  if (starts(kPng, sizeof kPng)) return FileFormat::kPng;
  static const uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
  if (starts(kJpeg, sizeof kJpeg)) return FileFormat::kJpeg;
  // PFM: "PF" (colour) or "Pf" (grey), then the white space ending the token.
  const auto space = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  if (count >= 2 && bytes[0] == 'P' && (bytes[1] == 'F' || bytes[1] == 'f') && (count == 2 || space(bytes[2])))
    return FileFormat::kPfm;
  return FileFormat::kUnknown;
}

ReadStatus ReadImageFile(std::FILE* file, FloatImage& image, DamagePolicy policy) {
  ImageHeader header;
  ReadStatus status = Dispatch(file, header, &image, policy);
  if (!status.ok()) image.Release();
  return status;
}

ReadStatus ReadImageHeader(std::FILE* file, ImageHeader& header) {
  return Dispatch(file, header, nullptr, DamagePolicy::kKeepReadable);
}

ReadStatus ReadImageFile(const std::string& path, FloatImage& image, DamagePolicy policy) {
  ReadStatus status;
  StdioFile file = OpenForReading(path, status);
  if (!file) {
    image.Release();
    return status;
  }
  return ReadImageFile(file.get(), image, policy);
}

ReadStatus ReadImageHeader(const std::string& path, ImageHeader& header) {
  ReadStatus status;
  StdioFile file = OpenForReading(path, status);
  return file ? ReadImageHeader(file.get(), header) : status;
}

ReadStatus Refusal(FileFormat format, std::string message) { return Failure(kReadFailed, format, std::move(message)); }

ReadStatus Damage(FileFormat format, std::string message, bool readable, DamagePolicy policy) {
  const bool kept = readable && policy == DamagePolicy::kKeepReadable;
  ReadStatus status = Failure(kept ? kReadOk : kReadFailed, format, std::move(message));
  status.damaged = true;
  return status;
}

std::string SizeLimitProblem(FileFormat format, uint64_t width, uint64_t height) {
  if (ImageSizeAllowed(width, height)) return {};
  return std::string(FormatName(format)) + " of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is outside the limits of 1 to " + std::to_string(kMaxImageSide) + " pixels a side and " +
         std::to_string(kMaxImagePixels) + " in all";
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
