// libvips's start-up, the lock around it and the capture of its warnings.
#include "image/vips_runtime.h"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "image/vips_messages.h"

namespace kestrune::vipsio {

using vips::VImage;
using vips::VSource;

std::mutex g_vipsMutex;

namespace {

// The warnings libvips logs during the read under way, each text once.
std::mutex g_warningsMutex;
std::vector<std::string>* g_warnings = nullptr;

void CollectWarning(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
  std::lock_guard<std::mutex> lock(g_warningsMutex);
  if (g_warnings == nullptr || message == nullptr || g_warnings->size() >= 32) return;
  try {
    const std::string text = Reason(message);
    if (std::find(g_warnings->begin(), g_warnings->end(), text) == g_warnings->end()) g_warnings->push_back(text);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

WarningCapture::WarningCapture(std::vector<std::string>& into) {
  std::lock_guard<std::mutex> lock(g_warningsMutex);
  g_warnings = &into;
}

WarningCapture::~WarningCapture() {
  std::lock_guard<std::mutex> lock(g_warningsMutex);
  g_warnings = nullptr;
}

const std::string& StartVips() {
  static std::once_flag once;
  static std::string problem;
  std::call_once(once, [] {
    if (vips_init("kestrune") != 0) {
      problem = std::string("the image library cannot start: ") + vips_error_buffer();
      vips_error_clear();
      return;
    }
    vips_block_untrusted_set(TRUE);
    // libvips 8.14 marks its PNM loader untrusted; it is the one chosen to
    // read PBM, PGM and PPM files (PFM never reaches it).
    vips_operation_block_set("VipsForeignLoadPpm", FALSE);
    vips_cache_set_max(0);
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE), CollectWarning,
                      nullptr);
  });
  return problem;
}

VSource OpenSource(const VipsInput& in) {
  if (in.descriptor >= 0) {
    ::lseek(in.descriptor, 0, SEEK_SET);
    return VSource::new_from_descriptor(in.descriptor);
  }
  return VSource::new_from_memory(in.data, static_cast<std::size_t>(in.size));
}

VImage Load(const VipsInput& in, VipsFailOn failOn) {
  return VImage::new_from_source(OpenSource(in), "",
                                 VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", failOn));
}

}  // namespace kestrune::vipsio
