// Reading and writing image files for the commands of kestrune-cli, with the
// tool's messages on standard error.
#pragma once

#include <ostream>
#include <sstream>
#include <string>

#include <kestrune/image.h>
#include <kestrune/io.h>
#include <CLI/CLI.hpp>

// What `--help` says of the files the tool reads and writes.
inline constexpr const char* kInputHelp =
    "Input image: BMP, PNG, JPEG, TIFF, WebP, HEIF/AVIF, GIF, PNM or PFM, told by its first bytes; - reads standard "
    "input (at most 1 GiB)";
inline constexpr const char* kOutputHelp =
    "Output image: .bmp, .png, .jpg, .tif, .webp or .pfm; - writes standard output (with --format)";

// Where the commands' messages go: standard error, or the text of the
// DiagCapture alive on this thread (a batch collects each file's messages to
// print them whole and put them in its report).
std::ostream& Diag();

// `text` as messages print it: control characters (C0, DEL, C1) and bytes
// that are not UTF-8 written as \xHH, so that a file name cannot move the
// cursor, clear the terminal or fake a line.
std::string Printable(const std::string& text);
// A path in a message: Printable and in single quotes.
std::string Quoted(const std::string& path);

class DiagCapture {
 public:
  DiagCapture();
  ~DiagCapture();
  DiagCapture(const DiagCapture&) = delete;
  DiagCapture& operator=(const DiagCapture&) = delete;
  std::string Text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::ostream* previous_;
};

// The options of every command that writes an image: --format, --depth,
// --quality and --lossless.
struct OutputOptions {
  std::string format;  // empty: by the extension of the output
  std::string depth;   // empty: the source's depth where the format holds it
  int quality = kestrune::WriteOptions{}.quality;
  bool lossless = false;
  std::string within;  // a batch's output folder: nothing below it is followed

  void Add(CLI::App& sub);
  kestrune::WriteOptions ToWriteOptions() const;
};

// Reads `path` (told by its first bytes; "-" is standard input) into
// `image`; a damaged file is refused. Returns kExitOk (after printing the
// decoding library's warnings, if any), else kExitUnreadable (or
// kExitOutOfMemory) after printing a message naming the file and the reason.
int LoadInputImage(const std::string& path, kestrune::Image& image);

// Checks before long work that `path` can be written (a format the tool
// writes, a folder that exists and can be written). Returns kExitOk, else
// kExitUnwritable after printing why, or kExitUsage for a --depth or
// --quality the format cannot take, or standard output without --format.
int CheckOutputImage(const std::string& path, const OutputOptions& output);

// Writes `image` to `path` ("-": standard output), all or nothing. Returns
// kExitOk, else kExitUnwritable after printing a message naming the path.
int SaveOutputImage(const std::string& path, const kestrune::Image& image, const OutputOptions& output);
