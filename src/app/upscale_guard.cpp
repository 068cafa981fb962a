// Refusing upscaling runs that cannot succeed: the pipeline's own check of
// sources and settings, and the program's image size limits.
#include "app/upscale_guard.h"

#include "image/float_image.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

QString UpscaleSourceRefusal(uint32_t width, uint32_t height) {
  if (width < kMinUpscaleSide || height < kMinUpscaleSide)
    return QStringLiteral("The image is too small for Kestrune interpolation (at least %1 x %1 pixels).")
        .arg(kMinUpscaleSide);
  if (!ImageSizeAllowed(uint64_t{2} * width, uint64_t{2} * height))
    return QStringLiteral("The image is too large for Kestrune interpolation.");
  return QString();
}

QString UpscaleSettingsRefusal(uint32_t width, uint32_t height, uint32_t newWidth, uint32_t newHeight,
                               const SRParams& params) {
  const QString source = UpscaleSourceRefusal(width, height);
  if (!source.isEmpty()) return source;
  const std::string check = CheckUpscaleSettings(width, height, params);
  if (!check.empty()) return QString::fromStdString(check);
  if (!ImageSizeAllowed(newWidth, newHeight)) return QStringLiteral("The requested size is too large.");
  return QString();
}
