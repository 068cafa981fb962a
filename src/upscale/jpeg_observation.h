// The observation model of a JPEG source: the file stores quantised DCT
// coefficients, so every picture whose coefficients fall in the same
// quantisation intervals reads as faithfully as the decoded one. The
// simulated low-resolution picture is compared with the file in its own
// terms, and only the part of each coefficient outside its interval counts
// as error.
#pragma once

#include <cstddef>
#include <vector>

#include "image/jpeg_coefficients.h"

namespace kestrune {

// The share of a quantisation step either side of the stored value that
// counts as agreeing with the file. The whole interval (1/2) is what the
// file allows; but photographs' coefficients gather towards zero within it,
// and holding to the middle half served better on photographs saved at
// qualities 80 and 92 (bench/jpeg_eval.py: 1/2 +0.66 and +0.97 dB over
// Lanczos-4, 1/4 +0.77 and +1.13, 1/10 +0.47 and +0.98).
inline constexpr float kIntervalShare = 0.25f;

// The enhancement takes the error outside the intervals linearly, times this
// gain, where other sources go through the robust residual's fourth root.
// The root is made for pixel differences, where large ones are outliers;
// here most coefficients lie inside their intervals and the rest only just
// outside, and the root would push those nearly as hard as a whole step
// (bench/jpeg_eval.py, leads over Lanczos-4 at qualities 80 / 92: the root
// +1.00 / +1.39 dB; linear with gain 0.42 +1.07 / +1.48, 0.56 +1.08 / +1.50,
// 0.74 +1.08 / +1.51, 1 +1.06 / +1.29; the square root +1.07 / +1.47).
inline constexpr float kJpegResidualGain = 0.56f;

// The share of the de-ringing regulariser's amount the enhancement of a
// JPEG source uses: the intervals already leave the estimate room, and
// the full amount flattens what they allow (with the linear error above,
// leads at qualities 80 / 92: full amount +1.08 / +1.50 dB, half +1.08 /
// +1.53, a quarter +1.04 / +1.50 with share 0.3, double +1.03 / +1.38).
inline constexpr float kJpegRegularizationShare = 0.5f;

// The share of a step the start (JpegObservation::Start) holds the smoothed
// decoding to: the whole interval would take half a step off every stored
// coefficient the smoothing weakened. On bench/jpeg_eval.py's photographs
// (leads over Lanczos-4 at qualities 70 / 80 / 92): the decoding itself as
// the start +0.77 / +0.95 / +1.37 dB, share 1/10 +0.85 / +1.00 / +1.39, 1/4
// -0.05 and 1/2 -0.1 (two photographs).
inline constexpr float kStartShare = 0.1f;

class JpegObservation {
 public:
  // The model of the w x h part of the picture whose top-left pixel is
  // picture pixel (x0, y0) (a tile; 0, 0 for the whole picture). Blocks
  // crossing the part's edge read its nearest edge pixel beyond it, as the
  // encoder did at the picture's edge. Coefficients count as agreeing within
  // `share` of a step of the stored value.
  JpegObservation(const JpegCoefficients& jpeg, int w, int h, int x0, int y0, float share = kIntervalShare);

  // error[c] (w x h, may be `simulated` itself): the simulated RGB picture
  // (0..255) in the file's YCbCr (JFIF, full range), its chroma averaged
  // over each sample's box as the encoder subsamples, each block's DCT
  // (level shift 128) beyond its interval [(q - s) Q, (q + s) Q] (zero
  // inside, s the share), back through the inverse DCT, the decoder's triangle
  // upsampling of chroma and the inverse colour transform, times `gain`.
  void Error(const float* const simulated[3], float* const error[3], float gain = 1.0f);

  // The start for the enlargement of a JPEG source: the decoded part `rgb`
  // (w x h, 0..255) smoothed by [1 2 1] / 4 across and down (edges
  // repeated), less the part of it outside kStartShare of a step about each
  // stored coefficient, into `out`: block edges the file does not need are
  // softened, what it says stays.
  void Start(const float* const rgb[3], float* const out[3]);

  // The bytes the model holds (its buffers), and a bound for any w x h part
  // of any file: each component's error at every pixel (12 per pixel) and
  // its samples, a plane at most w x h rounded out to whole blocks, so 16
  // more across and down (12 for three planes at full resolution, less with
  // chroma at half).
  std::size_t Bytes() const;
  static double BytesBound(double w, double h) { return 12 * w * h + 12 * (w + 16) * (h + 16); }

  // The side, in picture pixels, of the file's widest block of samples (its
  // MCU): the error at a pixel reads the simulated picture over the MCU that
  // holds it and, with subsampled chroma, one sample of the next.
  static int BlockSide(const JpegCoefficients& jpeg);

  // The coefficient-domain projection of one block: `block` (8 x 8 samples,
  // level-shifted) becomes the part of its DCT outside the intervals of
  // `coefficients` with steps `quant` (`share` of a step either side), back
  // in samples. False (the block all zero) when every coefficient lies
  // inside its interval.
  static bool ProjectBlock(float* block, int stride, const int16_t* coefficients, const uint16_t* quant,
                           float share = 0.5f);

 private:
  struct Plane {
    const JpegComponent* component;
    int ox, oy;                  // part pixel of the top-left of global sample (0, 0)
    int gx0, gy0;                // first global sample held (a block corner)
    int gxLo, gxHi, gyLo, gyHi;  // the samples reading pixels of the part
    int columns, rows;           // held: whole blocks
    std::vector<float> samples;
  };
  void Sample(Plane& p, const float* const rgb[3], int component);
  void Project(Plane& p);
  void Upsample(const Plane& p, float* out);
  void ComponentErrors(const float* const simulated[3]);  // into full_

  int w_, h_;
  float share_;
  std::vector<Plane> planes_;
  std::vector<float> full_[3];  // each component's error at the part's pixels
};

}  // namespace kestrune
