// The checks the upscaling command makes before it starts a run: sources the
// pipeline cannot enlarge, settings it cannot honour, and sizes beyond the
// program's image limits.
#pragma once

#include <QString>

#include <cstdint>

#include "upscale/upscale_job.h"

using namespace kestrune;

// Empty when a source of width x height can be enlarged; otherwise the
// message to show (checked before the settings dialog).
QString UpscaleSourceRefusal(uint32_t width, uint32_t height);

// Empty when a run with these settings may start; otherwise the message.
QString UpscaleSettingsRefusal(uint32_t width, uint32_t height, uint32_t newWidth, uint32_t newHeight,
                               const SRParams& params);
