/// @file
/// Progress and cancellation of the long operations (Upscale, Downscale): the
/// operation reports what it is doing as structured values, and the caller
/// words and draws them as it likes; the caller asks it to stop through the
/// same object.
#pragma once

#include <cstdint>

#include "kestrune/image.h"

namespace kestrune {

/// What a long operation is doing when it reports.
enum class Stage {
  kAllocating,          ///< Upscale: setting up the run
  kInitialEnlargement,  ///< Upscale: the initial x2 enlargement (NEDI reports its rows)
  kPreparing,           ///< Upscale: the analysis before the enhancement
  kEnhancement,         ///< Upscale: iteration `step` of `total`
  kHintSearch,          ///< Downscale: the search, trial `step` of `total`
  kFinalScaling,        ///< Upscale or Downscale: the final linear resampling
};

/// One report of a long operation to its Progress.
struct ProgressReport {
  Stage stage = Stage::kAllocating;  ///< what the operation is doing
  ///@{
  /// kEnhancement: the iteration (0-based) and the number of iterations.
  /// kHintSearch: the trial reduction about to start (0-based) and their
  /// number. 0 and 0 for the other stages.
  uint32_t step = 0;
  uint32_t total = 0;
  ///@}
  /// kEnhancement: this iteration's fractal substitution is starting (it is
  /// reported twice: before the iteration, then before its substitution).
  bool substitution = false;
  /// The share of the whole operation done, 0 to 100.
  float percent = 0.0f;
  /// kHintSearch: the best sharpness score so far; negative before the first
  /// group of trials has been scored.
  float bestScore = -1.0f;
  ///@{
  /// Upscale: the x2 estimate as it stands (empty for Downscale), colour
  /// only (for a source with transparency, the colour under its transparent
  /// pixels is the visible colour around them). Its rows 0 .. rowsDone-1 are
  /// computed; the rest are not yet written during the initial enlargement,
  /// and rowsDone equals the height from then on. Valid only during the call
  /// that hands it out.
  ImageView estimate;
  uint32_t rowsDone = 0;
  ///@}
  ///@{
  /// Upscale of a picture large enough to be enlarged in tiles: the tile in
  /// hand (0-based) and their number; the other fields then describe that
  /// tile's run, except percent (of the whole) and the estimate, which is the
  /// whole result with rows 0 .. rowsDone-1 finished, and in the next
  /// bandRows rows the columns 0 .. bandColumnsDone-1 (the tiles done in the
  /// row of tiles in hand). All 0 for a picture enlarged whole.
  uint32_t tile = 0;
  uint32_t tiles = 0;
  uint32_t bandRows = 0;
  uint32_t bandColumnsDone = 0;
  ///@}
};

/// The caller's side of a long operation: receives its reports and answers
/// whether to stop. Implemented by the caller.
class Progress {
 public:
  virtual ~Progress() = default;
  /// Called on the thread that runs the operation, which waits until it
  /// returns; it may read `report.estimate` meanwhile.
  virtual void Report(const ProgressReport& report) = 0;
  /// Polled at the points where the operation can stop (Upscale: before each
  /// iteration; Downscale: before each group of trials). The default never
  /// asks to stop.
  virtual bool CancelRequested() { return false; }
};

}  // namespace kestrune
