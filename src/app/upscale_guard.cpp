// Refusing upscaling runs that cannot succeed, before the settings dialog
// (the source) and after it (the library's own check of the settings).
#include "app/upscale_guard.h"

QString UpscaleSourceRefusal(uint32_t width, uint32_t height) {
  if (width < kestrune::kMinUpscaleSide || height < kestrune::kMinUpscaleSide)
    return QStringLiteral("The image is too small for Kestrune interpolation (at least %1 x %1 pixels).")
        .arg(kestrune::kMinUpscaleSide);
  if (!kestrune::ImageSizeAllowed(uint64_t{2} * width, uint64_t{2} * height))
    return QStringLiteral("The image is too large for Kestrune interpolation.");
  return QString();
}

QString UpscaleSettingsRefusal(uint32_t width, uint32_t height, const kestrune::UpscaleOptions& options) {
  const QString source = UpscaleSourceRefusal(width, height);
  if (!source.isEmpty()) return source;
  return QString::fromStdString(kestrune::CheckUpscale(width, height, options).message);
}
