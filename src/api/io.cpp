// Reading and writing image files through the image layer's readers and
// writers; the formats by extension and the checks of the write options are
// the image layer's too (src/image/output_format.h).
#include "kestrune/io.h"

#include <new>

#include "api/image_access.h"
#include "image/atomic_output.h"
#include "image/image_readers.h"
#include "image/output_format.h"

namespace kestrune {

Result<Image> ReadImage(const std::string& path, const ReadOptions& options, FileFormat* format) {
  try {
    FloatImage planes;
    const ReadStatus status =
        ReadImageFile(path, planes, options.keepDamaged ? DamagePolicy::kKeepReadable : DamagePolicy::kRefuse);
    if (format != nullptr) *format = status.format;
    Result<Image> result = status.ok() && !planes.IsEmpty()
                               ? (status.damaged ? Result<Image>(ImageAccess::Adopt(std::move(planes)),
                                                                 Error{ErrorCode::kUnreadable, status.message})
                                                 : Result<Image>(ImageAccess::Adopt(std::move(planes))))
                               : Result<Image>(status.error());
    result.warnings() = status.warnings;
    return result;
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the image"};
  }
}

Result<ImageInfo> ReadImageInfo(const std::string& path) {
  ImageInfo info;
  const ReadStatus status = ReadImageHeader(path, info);
  // A BMP or PFM file cut short is damaged, which a header shows already.
  if (!status.ok() || status.damaged) return status.error();
  return info;
}

Error CheckOutputPath(const std::string& path, const WriteOptions& options) {
  if (Error problem = WriteOptionsProblem(path, options)) return problem;
  if (path == "-") return {};
  if (std::string problem = OutputPathProblem(path); !problem.empty())
    return Error{ErrorCode::kCannotWrite, std::move(problem)};
  return {};
}

Error WriteImage(const Image& image, const std::string& path, const WriteOptions& options) {
  return WriteImageChecked(path, ImageAccess::Planes(image), options);
}

void RemovePartialOutputs() { RemoveOpenTemporaryFiles(); }

}  // namespace kestrune
