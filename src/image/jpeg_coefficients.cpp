// ReadJpegCoefficients: libjpeg's coefficient interface with an error
// manager that returns the library's message instead of ending the process,
// and OrientJpegCoefficients.
#include "image/jpeg_coefficients.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

#include <jpeglib.h>

namespace kestrune {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  char warning[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt data) are counted and the first one kept; trace
// messages are dropped.
void OnMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level >= 0) return;
  if (err->pub.num_warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->warning);
}

// The whole decoding, with plain locals only: the error manager jumps out of
// it.
JpegCoefficientsRead Decode(jpeg_decompress_struct& cinfo, ErrorManager& err, JpegCoefficients& out) {
  if (setjmp(err.jump)) return JpegCoefficientsRead::kDamaged;
  jpeg_read_header(&cinfo, TRUE);
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE && cinfo.num_components == 1;
  const bool ycc = cinfo.jpeg_color_space == JCS_YCbCr && cinfo.num_components == 3;
  if (!grey && !ycc) return JpegCoefficientsRead::kOtherKind;
  for (int c = 0; c < cinfo.num_components; ++c) {
    const jpeg_component_info& comp = cinfo.comp_info[c];
    const int h = comp.h_samp_factor, v = comp.v_samp_factor;
    if (cinfo.max_h_samp_factor % h != 0 || cinfo.max_v_samp_factor % v != 0 || cinfo.max_h_samp_factor / h > 2 ||
        cinfo.max_v_samp_factor / v > 2)
      return JpegCoefficientsRead::kOtherKind;
  }
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
  out.width = cinfo.image_width;
  out.height = cinfo.image_height;
  out.components.resize(std::size_t(cinfo.num_components));
  for (int c = 0; c < cinfo.num_components; ++c) {
    const jpeg_component_info& comp = cinfo.comp_info[c];
    JpegComponent& jc = out.components[std::size_t(c)];
    jc.sx = cinfo.max_h_samp_factor / comp.h_samp_factor;
    jc.sy = cinfo.max_v_samp_factor / comp.v_samp_factor;
    jc.blocksX = int(comp.width_in_blocks);
    jc.blocksY = int(comp.height_in_blocks);
    if (comp.quant_table == nullptr) {
      std::snprintf(err.message, sizeof err.message, "Quantization table 0x%02x was not defined", comp.quant_tbl_no);
      return JpegCoefficientsRead::kDamaged;
    }
    for (int k = 0; k < 64; ++k) jc.quant[k] = comp.quant_table->quantval[k];
    jc.coefficients.resize(std::size_t(jc.blocksX) * std::size_t(jc.blocksY) * 64);
    for (int by = 0; by < jc.blocksY; ++by) {
      JBLOCKARRAY row =
          (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), arrays[c], JDIMENSION(by), 1, FALSE);
      std::memcpy(jc.coefficients.data() + std::size_t(by) * std::size_t(jc.blocksX) * 64, row[0],
                  std::size_t(jc.blocksX) * sizeof(JBLOCK));
    }
  }
  jpeg_finish_decompress(&cinfo);
  return JpegCoefficientsRead::kRead;
}

template <class Source>
JpegCoefficientsRead Read(Source source, int orientation, JpegCoefficients& out, std::string& reason) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.message[0] = err.warning[0] = '\0';
  out = JpegCoefficients{};
  JpegCoefficientsRead result = JpegCoefficientsRead::kDamaged;
  if (!setjmp(err.jump)) {
    jpeg_create_decompress(&cinfo);
    source(cinfo);
    result = Decode(cinfo, err, out);
  }
  if (result == JpegCoefficientsRead::kRead && err.pub.num_warnings > 0) {
    result = JpegCoefficientsRead::kDamaged;
    std::memcpy(err.message, err.warning, sizeof err.message);
  }
  jpeg_destroy_decompress(&cinfo);
  if (result != JpegCoefficientsRead::kRead) {
    out = JpegCoefficients{};
    reason = result == JpegCoefficientsRead::kDamaged ? err.message : "";
    return result;
  }
  OrientJpegCoefficients(out, orientation);
  return result;
}

}  // namespace

JpegCoefficientsRead ReadJpegCoefficients(const uint8_t* data, std::size_t size, int orientation, JpegCoefficients& out,
                                          std::string& reason) {
  return Read([&](jpeg_decompress_struct& cinfo) { jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size)); },
              orientation, out, reason);
}

JpegCoefficientsRead ReadJpegCoefficients(std::FILE* file, int orientation, JpegCoefficients& out,
                                          std::string& reason) {
  return Read([&](jpeg_decompress_struct& cinfo) { jpeg_stdio_src(&cinfo, file); }, orientation, out, reason);
}

JpegCoefficientsRead ReadJpegCoefficients(const std::string& path, JpegCoefficients& out, std::string& reason) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return JpegCoefficientsRead::kDamaged;
  }
  const JpegCoefficientsRead read = ReadJpegCoefficients(file, 1, out, reason);
  std::fclose(file);
  return read;
}

void OrientJpegCoefficients(JpegCoefficients& jpeg, int o) {
  if (o < 2 || o > 8) return;
  // Orientations as the pixels are turned: a transposition first (5 to 8),
  // then mirror and flip in the turned frame.
  const bool transpose = o >= 5;
  const bool flipX = o == 2 || o == 3 || o == 6 || o == 7;
  const bool flipY = o == 3 || o == 4 || o == 7 || o == 8;
  if (transpose) std::swap(jpeg.width, jpeg.height);
  for (JpegComponent& c : jpeg.components) {
    JpegComponent t = c;
    if (transpose) {
      std::swap(t.sx, t.sy);
      std::swap(t.blocksX, t.blocksY);
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) t.quant[v * 8 + u] = c.quant[u * 8 + v];
    }
    for (int by = 0; by < c.blocksY; ++by)
      for (int bx = 0; bx < c.blocksX; ++bx) {
        int tx = transpose ? by : bx, ty = transpose ? bx : by;
        if (flipX) tx = t.blocksX - 1 - tx;
        if (flipY) ty = t.blocksY - 1 - ty;
        const int16_t* in = c.Block(bx, by);
        int16_t* to = t.coefficients.data() + (std::size_t(ty) * std::size_t(t.blocksX) + std::size_t(tx)) * 64;
        for (int v = 0; v < 8; ++v)
          for (int u = 0; u < 8; ++u) {
            const int16_t value = transpose ? in[u * 8 + v] : in[v * 8 + u];
            const bool negate = (flipX && (u & 1)) != (flipY && (v & 1));
            to[v * 8 + u] = negate ? int16_t(-value) : value;
          }
      }
    t.originX = flipX ? int(jpeg.width) - t.blocksX * 8 * t.sx : 0;
    t.originY = flipY ? int(jpeg.height) - t.blocksY * 8 * t.sy : 0;
    c = std::move(t);
  }
}

}  // namespace kestrune
