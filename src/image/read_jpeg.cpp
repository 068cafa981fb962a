// ReadJpeg: greyscale and colour JPEG files through the libjpeg 6b interface.
// The library's messages are collected in the status. A fatal error jumps
// back here and fails the read; so does the first warning about damaged
// data (a premature end, a bad code, a lost restart marker) unless damaged
// files are kept, in which case decoding goes on and the library fills in
// what is missing. Files with four components (CMYK, YCCK) are refused:
// their colours cannot be rendered faithfully without the colour profile
// they were made for.
//
// Before decoding, the file's length is checked against the least data its
// first scan can take. Huffman coding spends at least one bit on each code:
// a sequential scan at least two per 8 x 8 block (a DC code and an end of
// block), a progressive DC scan at least one, a progressive AC scan at least
// 15 per run of up to 32767 empty blocks. Arithmetic coding has no useful
// bound (one byte can stand for some 10^5 blocks), so those files are only
// held to the image limits; a strict read still stops at the first sign of
// damage, and the image's pages are touched only as rows are decoded.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h: the message list depends on the library's configuration.
#include <jerror.h>

#include "image/format_readers.h"

namespace kestrune {

namespace {

constexpr FileFormat kJpeg = FileFormat::kJpeg;

struct JpegDecoder;

struct JpegErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg sees only this part
  std::jmp_buf jump;
  JpegDecoder* decoder;
};

// Where decoding stood at the first sign of damage.
struct DamagePoint {
  bool found = false;
  bool truncated = false;  // the file ended early
  bool inHeader = false;
  int scan = 0;
  JDIMENSION rows = 0;  // complete rows of that scan
  std::string text;     // the library's message
};

struct JpegDecoder {
  jpeg_decompress_struct cinfo{};
  JpegErrorManager err{};
  bool created = false;
  bool keepDamaged = false;
  bool headerRead = false;
  DamagePoint damage;
  std::string fatal;  // the text of a fatal error
  std::vector<int> warningCodes;
  std::vector<std::string> warnings;
  std::vector<JSAMPLE> lines;  // up to 16 decoded lines
  std::vector<JSAMPROW> lineRows;

  ~JpegDecoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

constexpr JDIMENSION kLinesPerCall = 16;

JpegDecoder& DecoderOf(j_common_ptr cinfo) { return *reinterpret_cast<JpegErrorManager*>(cinfo->err)->decoder; }

std::string FormatMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  return text;
}

bool IsDamage(int code) {
  return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
         code == JWRN_ARITH_BAD_CODE || code == JWRN_MUST_RESYNC || code == JWRN_BOGUS_PROGRESSION;
}

// Warnings (level -1) are collected, each kind once; trace messages dropped.
// The first warning about damaged data stops decoding unless its rows are
// kept.
void EmitMessage(j_common_ptr common, int level) {
  if (level >= 0) return;
  JpegDecoder& d = DecoderOf(common);
  const int code = common->err->msg_code;
  common->err->num_warnings++;
  const bool firstDamage = IsDamage(code) && !d.damage.found;
  try {
    if (std::find(d.warningCodes.begin(), d.warningCodes.end(), code) == d.warningCodes.end()) {
      d.warningCodes.push_back(code);
      d.warnings.push_back(FormatMessage(common));
    }
  } catch (const std::bad_alloc&) {
  }
  if (!firstDamage) return;
  try {
    const auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    d.damage.found = true;
    d.damage.truncated = code == JWRN_JPEG_EOF;
    d.damage.inHeader = !d.headerRead;
    d.damage.scan = cinfo->input_scan_number;
    d.damage.rows = d.headerRead ? std::min<JDIMENSION>(cinfo->image_height,
                                                        cinfo->input_iMCU_row * cinfo->max_v_samp_factor * DCTSIZE)
                                 : 0;
    d.damage.text = FormatMessage(common);
  } catch (const std::bad_alloc&) {
  }
  // Damage before the first complete row leaves nothing to keep: stop there.
  const bool readable = !d.damage.inHeader && (d.damage.scan > 1 || d.damage.rows > 0);
  if (!d.keepDamaged || !readable) std::longjmp(reinterpret_cast<JpegErrorManager*>(common->err)->jump, 1);
}

[[noreturn]] void ErrorExit(j_common_ptr common) {
  JpegDecoder& d = DecoderOf(common);
  try {
    d.fatal = FormatMessage(common);
  } catch (const std::bad_alloc&) {
  }
  std::longjmp(reinterpret_cast<JpegErrorManager*>(common->err)->jump, 1);
}

std::string DamageMessage(const JpegDecoder& d) {
  const DamagePoint& p = d.damage;
  const bool scans = d.cinfo.progressive_mode || p.scan > 1;
  std::string where;
  if (p.inHeader)
    where = "in its header";
  else if (p.rows >= d.cinfo.image_height)
    where = scans ? "after scan " + std::to_string(p.scan) : "after its last row";
  else
    where = (scans ? "in scan " + std::to_string(p.scan) + " " : "") + "after row " + std::to_string(p.rows) +
            " of " + std::to_string(d.cinfo.image_height);
  return p.truncated ? "JPEG truncated " + where : "JPEG damaged " + where + ": " + p.text;
}

// The fewest bytes of entropy-coded data the first scan can take; 0 when
// there is no sound bound.
uint64_t LeastScanBytes(const jpeg_decompress_struct& cinfo, uint64_t& blocks) {
  blocks = 0;
  for (int i = 0; i < cinfo.comps_in_scan; ++i)
    blocks += uint64_t{cinfo.cur_comp_info[i]->width_in_blocks} * cinfo.cur_comp_info[i]->height_in_blocks;
  uint64_t bits;
  if (cinfo.arith_code)
    bits = 0;
  else if (!cinfo.progressive_mode)
    bits = 2 * blocks;
  else if (cinfo.Ss == 0)
    bits = blocks;
  else
    bits = (blocks + 32766) / 32767 * 15;
  return (bits + 7) / 8;
}

// Only C calls into libjpeg and the decoder's own members live between
// setjmp and a possible longjmp in the two functions below.
bool ReadHeader(JpegDecoder& d, std::FILE* file) {
  if (setjmp(d.err.jump)) return false;
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  jpeg_stdio_src(&d.cinfo, file);
  jpeg_read_header(&d.cinfo, TRUE);  // with an image required, anything else is a fatal error
  d.headerRead = true;
  jpeg_calc_output_dimensions(&d.cinfo);
  return true;
}

// Decodes into `image`; false after a fatal error or (strict) damage. May
// throw std::bad_alloc from the image or line allocation.
bool Decode(JpegDecoder& d, FloatImage& image) {
  if (setjmp(d.err.jump)) return false;
  jpeg_start_decompress(&d.cinfo);

  const int components = d.cinfo.output_components;
  const JDIMENSION width = d.cinfo.output_width, height = d.cinfo.output_height;
  image.Allocate(width, height, false, false);
  const std::size_t lineBytes = std::size_t{width} * components;
  d.lines.resize(lineBytes * kLinesPerCall);
  d.lineRows.resize(kLinesPerCall);
  for (JDIMENSION i = 0; i < kLinesPerCall; ++i) d.lineRows[i] = d.lines.data() + lineBytes * i;

  while (d.cinfo.output_scanline < height) {
    const JDIMENSION first = d.cinfo.output_scanline;
    const JDIMENSION count = jpeg_read_scanlines(&d.cinfo, d.lineRows.data(), kLinesPerCall);
    for (JDIMENSION i = 0; i < count; ++i) {
      const JSAMPLE* in = d.lineRows[i];
      float* r = image.rows(FloatImage::kRed)[first + i];
      float* g = image.rows(FloatImage::kGreen)[first + i];
      float* b = image.rows(FloatImage::kBlue)[first + i];
      for (JDIMENSION x = 0; x < width; ++x) {
        if (components == 1) {
          r[x] = g[x] = b[x] = in[x];
        } else {
          r[x] = in[3 * std::size_t{x}];
          g[x] = in[3 * std::size_t{x} + 1];
          b[x] = in[3 * std::size_t{x} + 2];
        }
      }
    }
    if (count == 0) {  // a suspending source cannot occur with a file; never loop forever
      d.fatal = "no scanlines were delivered";
      return false;
    }
  }
  jpeg_finish_decompress(&d.cinfo);
  return true;
}

// The status after a jump out of the library.
ReadStatus Stopped(const JpegDecoder& d, DamagePolicy policy) {
  ReadStatus status =
      d.damage.found ? Damage(kJpeg, DamageMessage(d), false, policy) : Refusal(kJpeg, "JPEG library: " + d.fatal);
  status.warnings = d.warnings;
  return status;
}

}  // namespace

ReadStatus ReadJpeg(std::FILE* file, uint64_t fileSize, ImageHeader& header, FloatImage* image,
                    DamagePolicy policy) {
  JpegDecoder d;
  d.keepDamaged = policy == DamagePolicy::kKeepReadable && image != nullptr;
  d.cinfo.err = jpeg_std_error(&d.err.pub);
  d.err.pub.error_exit = ErrorExit;
  d.err.pub.emit_message = EmitMessage;
  d.err.decoder = &d;
  if (!ReadHeader(d, file)) return Stopped(d, policy);

  const jpeg_decompress_struct& c = d.cinfo;
  header.width = c.image_width;
  header.height = c.image_height;
  header.bitsPerPixel = static_cast<uint32_t>(c.data_precision * c.num_components);
  if (c.num_components == 4 || c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK)
    return Refusal(kJpeg, "JPEG with four components (CMYK) is not supported");
  if (c.output_components != 1 && c.output_components != 3)
    return Refusal(kJpeg, "JPEG with " + std::to_string(c.output_components) + " components is not supported");
  if (std::string problem = SizeLimitProblem(kJpeg, c.output_width, c.output_height); !problem.empty())
    return Refusal(kJpeg, std::move(problem));
  uint64_t blocks = 0;
  if (const uint64_t least = LeastScanBytes(c, blocks); least > fileSize)
    return Damage(kJpeg,
                  "JPEG of " + std::to_string(c.image_width) + " x " + std::to_string(c.image_height) +
                      " pixels needs at least " + std::to_string(least) + " bytes for the " + std::to_string(blocks) +
                      " blocks of its first scan, more than the file's " + std::to_string(fileSize),
                  false, policy);

  ReadStatus status;
  status.format = kJpeg;
  if (image) {
    try {
      if (!Decode(d, *image)) return Stopped(d, policy);
    } catch (const std::bad_alloc&) {
      return Refusal(kJpeg, "not enough memory for the image");
    }
    if (d.damage.found) status = Damage(kJpeg, DamageMessage(d), true, policy);
  }
  status.warnings = d.warnings;
  return status;
}

}  // namespace kestrune
