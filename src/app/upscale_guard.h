// The checks the upscaling command makes before it starts a run: sources the
// library cannot enlarge, and settings it cannot honour.
#pragma once

#include <QString>

#include <cstdint>

#include <kestrune/upscale.h>

// Empty when a source of width x height can be enlarged; otherwise the
// message to show (checked before the settings dialog).
QString UpscaleSourceRefusal(uint32_t width, uint32_t height);

// Empty when a run with these options may start; otherwise the message.
QString UpscaleSettingsRefusal(uint32_t width, uint32_t height, const kestrune::UpscaleOptions& options);
