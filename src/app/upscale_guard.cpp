// Refusing upscaling runs that cannot succeed.
#include "app/upscale_guard.h"

#include "image/float_image.h"

QString UpscaleSourceRefusal(uint32_t width, uint32_t height) {
  if (width < 3 || height < 3)
    return QStringLiteral("The image is too small for Kestrune interpolation (at least 3 x 3 pixels).");
  if (!ImageSizeAllowed(uint64_t{2} * width, uint64_t{2} * height))
    return QStringLiteral("The image is too large for Kestrune interpolation.");
  return QString();
}

QString UpscaleSettingsRefusal(uint32_t width, uint32_t height, uint32_t newWidth, uint32_t newHeight,
                               const SRParams& params) {
  const QString source = UpscaleSourceRefusal(width, height);
  if (!source.isEmpty()) return source;
  if (params.edgeDirIterations < -1) return QStringLiteral("Edge-dir interp. iterations must be -1 or more.");
  if (!ImageSizeAllowed(newWidth, newHeight)) return QStringLiteral("The requested size is too large.");
  return QString();
}
