// UpscaleFile: large pictures go from file to file by rows (the core's
// src/upscale/upscale_rows.h); everything else through the whole-picture
// functions.
#include <string>

#include "api/upscale_params.h"
#include "image/row_files.h"
#include "kestrune/upscale.h"
#include "upscale/upscale_rows.h"

namespace kestrune {

namespace {

Error Whole(const std::string& input, const std::string& output, const UpscaleOptions& options,
            const WriteOptions& write, Progress* progress) {
  Result<Image> source = ReadImage(input);
  if (!source.ok()) return source.error();
  Result<Image> result = Upscale(source.value(), options, progress);
  if (!result.ok()) return result.error();
  return WriteImage(result.value(), output, write);
}

}  // namespace

Error UpscaleFile(const std::string& input, const std::string& output, const UpscaleOptions& options,
                  const WriteOptions& write, Progress* progress) {
  WriteOptions how = write;
  if (how.format == FileFormat::kUnknown) how.format = FormatFromExtension(output);
  const UpscaleSettings settings = ToSettings(options);
  RowFileReader reader;
  if (!UpscaleTakesRows(input, output, settings, how.format, reader))
    return Whole(input, output, options, write, progress);
  return UpscaleByRows(reader, input, output, settings, how, progress);
}

}  // namespace kestrune
