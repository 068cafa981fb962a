// What the whole writer and the row writer share: the savers' settings.
// Internal to the image layer.
#pragma once

#include <vips/vips8>

#include "kestrune/io.h"

namespace kestrune::vipsio {

// The settings of the savers. PNG rows are filtered adaptively (libpng
// picks each row's filter), which libvips leaves off by default.
vips::VOption* SaverOptions(const WriteOptions& options, SampleDepth depth);

}  // namespace kestrune::vipsio
