// The observation model of a JPEG source: the file stores quantised DCT
// coefficients, so every picture whose coefficients fall in the same
// quantisation intervals reads as faithfully as the decoded one. The
// simulated low-resolution picture is compared with the file in its own
// terms, and only the part of each coefficient outside its interval counts
// as error.
#pragma once

#include <vector>

#include "image/jpeg_coefficients.h"

namespace kestrune {

class JpegObservation {
 public:
  // The model of the w x h part of the picture whose top-left pixel is
  // picture pixel (x0, y0) (a tile; 0, 0 for the whole picture). Blocks
  // crossing the part's edge read its nearest edge pixel beyond it, as the
  // encoder did at the picture's edge.
  JpegObservation(const JpegCoefficients& jpeg, int w, int h, int x0, int y0);

  // error[c] (w x h, may be `simulated` itself): the simulated RGB picture
  // (0..255) in the file's YCbCr (JFIF, full range), its chroma averaged
  // over each sample's box as the encoder subsamples, each block's DCT
  // (level shift 128) beyond its interval [(q - 1/2) Q, (q + 1/2) Q] (zero
  // inside), back through the inverse DCT, the decoder's triangle
  // upsampling of chroma and the inverse colour transform.
  void Error(const float* const simulated[3], float* const error[3]);

  // How far, in picture pixels, the error at a pixel reads the simulated
  // picture: the widest block of samples plus the upsampling's neighbour.
  static int Reach(const JpegCoefficients& jpeg);

  // The coefficient-domain projection of one block: `block` (8 x 8 samples,
  // level-shifted) becomes the part of its DCT outside the intervals of
  // `coefficients` with steps `quant`, back in samples. False (the block
  // left as it was) when every coefficient lies inside its interval.
  static bool ProjectBlock(float* block, int stride, const int16_t* coefficients, const uint16_t* quant);

 private:
  struct Plane {
    const JpegComponent* component;
    int ox, oy;        // part pixel of the top-left of global sample (0, 0)
    int gx0, gy0;      // first global sample held (a block corner)
    int gxLo, gxHi, gyLo, gyHi;  // the samples reading pixels of the part
    int columns, rows;  // held: whole blocks
    std::vector<float> samples;
  };
  void Sample(Plane& p, const float* const rgb[3], int component);
  void Project(Plane& p);
  void Upsample(const Plane& p, float* out);

  int w_, h_;
  std::vector<Plane> planes_;
  std::vector<float> full_[3];  // each component's error at the part's pixels
};

}  // namespace kestrune
