/// @file
/// "Kestrune interpolation": an exact x2 enlargement refined by an iterative
/// sharpness enhancement (back-projection through a downsampling model, a
/// de-ringing regulariser with edge-adaptive weights, fractal substitution of
/// thin lines), then linear resampling to any other requested size.
#pragma once

#include <cstdint>
#include <string>

#include "kestrune/export.h"
#include "kestrune/image.h"
#include "kestrune/io.h"
#include "kestrune/progress.h"
#include "kestrune/result.h"

namespace kestrune {

/// The initial x2 enlargement, in the order of the "Initial resizing" list.
enum class InitialMethod : int {
  kBilinear = 0,
  kBicubic = 1,
  kEdgeDirectional = 2,
  kNedi = 3,
  kFromImage = 4,  ///< "Load from file": UpscaleOptions::initialImage
  /// "Learned": a small convolutional network's correction of the bicubic
  /// start, with weights trained for the source model's kind of source, and
  /// others for a JPEG source held to its file (UpscaleOptions::jpegModel);
  /// CheckUpscale refuses it in a build without OpenCV's dnn module.
  /// Being close already, it is enhanced without fractal substitutions and
  /// with half the strength as its first step, under either source model.
  kLearned = 5,
};

/// How the source was made from the picture the enhancement rebuilds (its
/// observation model), in the order of the dialog's "Source" list.
enum class SourceModel : int {
  /// Camera optics: a blur on the sample-aligned grid (source pixel x lies on
  /// result pixel 2x), the kernel set by UpscaleOptions::sideLobe.
  kCamera = 0,
  /// A picture halved by software: the antialiased bicubic (Catmull-Rom)
  /// reduction on the centred grid, where each source pixel covers two by two
  /// result pixels; the result is not shifted against the source. The
  /// enhancement runs without fractal substitutions under it.
  kReduced = 1,
  /// The one of the two the picture fits best, judged from its first 1024
  /// rows (the same for the whole picture, its tiles and by rows): by a
  /// small network's scores of their most edge-rich crops in builds with
  /// OpenCV's dnn module, else by the steepness of their sharpest edges.
  kAuto = 2,
};

/// The settings of a run; the defaults are those of the settings dialog and of
/// kestrune-cli upscale.
struct UpscaleOptions {
  InitialMethod initialMethod = InitialMethod::kNedi;  ///< the initial x2 enlargement
  /// kFromImage: an image of exactly twice the source's width and height,
  /// which also guides the direction analysis. Not owned; must outlive the run.
  const Image* initialImage = nullptr;
  uint32_t iterations = 16;           ///< enhancement iterations, 0 .. 1000
  uint32_t fractalSubstitutions = 2;  ///< 0 .. 100; each adds 4 iterations; none under kReduced or kLearned
  /// Direction-analysis passes of the residual's edge-directed enlargement;
  /// -1 enlarges the residual bilinearly instead.
  int32_t edgeDirIterations = 2;
  float strength = 3.0f;                ///< the initial step size
  float sideLobe = 0.0f;                ///< of the downsampling model's kernel, 0 .. 0.2 usual; not 0.5
  float regularization = 0.03f;         ///< amount of the de-ringing regulariser
  float variableRegularization = 1.0f;  ///< 0: uniform; otherwise edge-adaptive weights
  /// For a source read from a JPEG file (ReadImage, UpscaleFile): hold the
  /// enlargement to what the file stores, its quantised DCT coefficients,
  /// rather than to the decoded pixels with their block edges and ringing.
  /// Any enlargement whose reduction falls within the middle half of each of
  /// the file's quantisation intervals counts as agreeing with it, and chroma
  /// is compared at the file's own resolution. No effect on other sources (PNG, TIFF, BMP, PFM,
  /// pasted or made images, or an image whose planes were changed through
  /// Image::Plane or Image::Row after reading); false gives the result the
  /// decoded pixels alone give.
  bool jpegModel = true;
  /// The observation model of the enhancement; a JPEG source (jpegModel) is
  /// compared through it with the file's quantisation intervals on top.
  SourceModel sourceModel = SourceModel::kCamera;
  ///@{
  /// Size of the result; 0 means twice the source's. Any other size is
  /// reached by Catmull-Rom resampling of the x2 result.
  uint32_t width = 0;
  uint32_t height = 0;
  ///@}
};

///@{
/// Sources must be at least kMinUpscaleSide x kMinUpscaleSide pixels, and at
/// least kMinFractalSide x kMinFractalSide when fractal substitutions are
/// asked for and run (not with kLearned nor under kReduced).
inline constexpr uint32_t kMinUpscaleSide = 3;
inline constexpr uint32_t kMinFractalSide = 6;
///@}

/// No error when a width x height source can be enlarged with `options`;
/// otherwise kInvalidArgument with the message to show the user. Upscale
/// makes the same check.
KESTRUNE_API Error CheckUpscale(uint32_t width, uint32_t height, const UpscaleOptions& options);

/// About how many bytes a run on a width x height source takes at its peak
/// (some 340 per source pixel with the default settings, plus the result;
/// some 30 more per source pixel when the source has an alpha plane). With
/// `jpegModel` on, the JPEG model's buffers count as for a JPEG source (some
/// 36 more per pixel, wider tiles): Upscale itself counts them only for one.
KESTRUNE_API uint64_t UpscaleMemoryNeeded(uint32_t width, uint32_t height, const UpscaleOptions& options,
                                          bool withAlpha = false);

/// Enlarges `source` (with UpscaleOptions::jpegModel held to the coefficients
/// of the JPEG file it was read from, if any), reporting each stage and iteration to `progress` (may
/// be null) on the calling thread. With an alpha plane that is not opaque
/// throughout, the colour under pixels of alpha 0 is first replaced by the
/// visible colour around them, so that it never shows at the edges, and
/// alpha is enlarged bilinearly (exact at the source's samples, within
/// 0..255, no ringing); result pixels of alpha 0 get colour 0. An initial
/// image with transparent pixels of its own is filled in the same way. A
/// size other than x2 is then reached as Resize reaches it from the x2
/// result. An opaque alpha plane (every sample 255 or more) leaves the colour
/// exactly as without one and gives an alpha of 255 throughout.
/// Pictures of more than 2048 x 2048 source pixels are enlarged in tiles of
/// 1024 x 1024 with a margin wide enough that the result is exactly the one
/// the whole picture would give with the same per-sample arithmetic (the
/// smoothing steps then sum each window directly instead of keeping running
/// sums, which round differently): memory then grows with the picture only by
/// its source and result, and the reports name the tile in hand.
/// Cancellation is looked at before each iteration; a cancelled run returns
/// the estimate reached so far, resized like a finished one, together with
/// kCancelled; a cancelled run in tiles returns kCancelled alone. Results are the same bit for bit on every machine and
/// for any thread count. Errors: kInvalidArgument (the message of CheckUpscale, or a mismatched initial image),
/// kOutOfMemory (before any work when UpscaleMemoryNeeded exceeds what the process can still use, the message giving
/// both figures; or when an allocation fails).
KESTRUNE_API Result<Image> Upscale(const Image& source, const UpscaleOptions& options, Progress* progress = nullptr);

/// Enlarges the picture in the file `input` into the file `output`, written
/// as WriteImage writes it with the source's metadata and depth (`write`).
/// A source of more than 2048 x 2048 pixels without alpha, enlarged x2 without
/// an initial image from a PNG, JPEG, TIFF or WebP file stored upright into a
/// PNG, JPEG, TIFF or WebP file, is read and enlarged a row of tiles at a
/// time, and the result is spooled to a temporary file beside the output
/// (its size at the written depth) and encoded from it once complete: memory
/// stays near that of one tile and two bands of rows whatever the size. Any
/// other case is read, enlarged and written whole, as ReadImage, Upscale and
/// WriteImage do. By rows the result may exceed kMaxImagePixels (its sides
/// stay within kMaxImageSide), as long as its format can hold it. The result is the same either way. A cancelled run
/// writes nothing and returns kCancelled. Errors: those of ReadImage (for the input), Upscale and WriteImage (for the
/// output: kCannotWrite).
KESTRUNE_API Error UpscaleFile(const std::string& input, const std::string& output, const UpscaleOptions& options,
                               const WriteOptions& write = {}, Progress* progress = nullptr);

}  // namespace kestrune
