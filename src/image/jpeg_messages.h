// Where the JPEG library's messages go. The program installs a handler: the
// desktop program shows a message box titled kJpegMessageTitle, the
// command-line tool prints to standard error. Without one they are dropped.
#pragma once

#include <functional>
#include <string>

namespace kestrune {

inline constexpr char kJpegMessageTitle[] = "JPEG Library Error";

using JpegMessageHandler = std::function<void(const std::string& message)>;

// Replaces the handler (an empty one drops messages). The handler must not
// throw; it may be called from any thread that reads a JPEG file.
void SetJpegMessageHandler(JpegMessageHandler handler);

// Passes one message to the installed handler.
void EmitJpegMessage(const std::string& message);

}  // namespace kestrune
