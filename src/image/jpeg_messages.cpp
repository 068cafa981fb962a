// The program-wide handler for the JPEG library's messages.
#include "image/jpeg_messages.h"

#include <mutex>

namespace kestrune {

namespace {

std::mutex& HandlerMutex() {
  static std::mutex mutex;
  return mutex;
}

JpegMessageHandler& Handler() {
  static JpegMessageHandler handler;
  return handler;
}

}  // namespace

void SetJpegMessageHandler(JpegMessageHandler handler) {
  std::lock_guard lock(HandlerMutex());
  Handler() = std::move(handler);
}

void EmitJpegMessage(const std::string& message) {
  JpegMessageHandler handler;
  {
    std::lock_guard lock(HandlerMutex());
    handler = Handler();
  }
  if (!handler) return;
  try {
    handler(message);
  } catch (...) {
    // A message that cannot be shown must not unwind through the decoder.
  }
}

}  // namespace kestrune
