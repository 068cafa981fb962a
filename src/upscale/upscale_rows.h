// Large pictures enlarged from file to file a row of tiles at a time: the
// source band a row of tiles reads (its rows and the margins above and below)
// is kept from one row to the next, the rows above it dropped, and each
// finished band of the result goes straight to the spooling writer.
#pragma once

#include <string>

#include "image/row_files.h"
#include "kestrune/io.h"
#include "kestrune/progress.h"
#include "kestrune/result.h"
#include "upscale/upscale_image.h"

namespace kestrune {

// Whether the enlargement of `input` into `output` (written as `format`)
// goes by rows: a source of more than kTilingPixels without alpha, read
// from a file RowFileReader opens, enlarged x2 without an initial image into
// a format RowFileWriter takes. Opens `reader` on `input` to tell.
bool UpscaleTakesRows(const std::string& input, const std::string& output, const UpscaleSettings& settings,
                      FileFormat format, RowFileReader& reader);

// Enlarges the picture `reader` has open (the file `input`) into `output`,
// written as `how` with the source's metadata. A cancelled run writes
// nothing.
Error UpscaleByRows(RowFileReader& reader, const std::string& input, const std::string& output,
                    const UpscaleSettings& settings, const WriteOptions& how, Progress* progress);

}  // namespace kestrune
