// FractalTexture: sharpens thin lines and fine texture of a x2 enlargement by
// matching every 4 x 4 block of it against nearby 4 x 4 blocks of the small
// source and laying the detail of the best (possibly blended) match into it.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrune {

class FractalTexture {
 public:
  FractalTexture();
  virtual ~FractalTexture();

  // Starts a substitution: the estimate X (W x H), the source Y (w x h) and
  // the output planes O (W x H). The caller guarantees w, h > blockSize + 1.
  void Init(const float* xR, const float* xG, const float* xB, int W, int H, const float* yR, const float* yG,
            const float* yB, int w, int h, float* oR, float* oG, float* oB);
  // Sizes the work buffers for an estimate of W x H and a source of w x h
  // ahead of time, so that Init allocates nothing for those sizes.
  void Reserve(int W, int H, int w, int h);
  // Lends the object the caller's W x H planes as the three accumulators and
  // its W x H float plane as the W * H * 4 estimate bytes, for the next Init
  // and Run (the pipeline lends planes that are free during a substitution).
  // Null pointers: the object's own buffers.
  void LendBuffers(float* accR, float* accG, float* accB, float* estimateBytes);
  // Continues the work: rows is the number of output rows to finish,
  // rowLimit bounds the estimate rows that may be read (all ones: none).
  void Run(unsigned rowLimit, unsigned rows);
  void Finish();

  // The match chosen for the block at (y, x) of the estimate: best block
  // (by, bx), second block (cy, cx) with blend factor tb, blend weight u of
  // the second block, match error E and texture weight lambda of the estimate.
  // Valid for blocks whose estimate rows Run has quantised.
  struct BlockMatch {
    int by = 0, bx = 0, cy = 0, cx = 0;
    int64_t error = 0;
    float blend = 0.0f;
    float u = 0.0f;
    float lambda = 0.0f;
  };
  BlockMatch MatchBlock(int y, int x) const;

  float strength = 1.0f;

 private:
  void QuantiseRow(int row);
  // Finds the matches of block rows [y0, y1) and adds them to the
  // accumulators.
  void SubstituteBlockRows(int y0, int y1);
  // Adds row i of every block of block row y (matches in matches_ from block
  // row chunkStart on) to accumulator row y + i.
  void AccumulateRow(int y, int i, int chunkStart);
  void WriteOutputRow(int row);
  // Blocks start at every column from 0 to W - B.
  int BlocksPerRow() const { return W_ >= blockSize_ ? (W_ - blockSize_) / step_ + 1 : 0; }
  // The departure of the substituted image from the estimate at (row, col):
  // the accumulator divided by the window weights of the blocks covering the
  // sample where fewer than B * B do (their sum is 1 where all do).
  float Departure(const float* d, int row, int col) const;

  const float* x_[3] = {};
  const float* y_[3] = {};
  float* o_[3] = {};
  int W_ = 0, H_ = 0, w_ = 0, h_ = 0;
  int blockSize_ = 4;
  int overlap_ = 3;
  int step_ = 1;
  int searchRadius_ = 7;
  float window_[16] = {};
  // The accumulators sum each block's window-weighted departure from the
  // estimate: a flat picture leaves them exactly 0.
  std::vector<float> ownAccum_[3];
  float* accum_[3] = {};
  float* lentAccum_[3] = {};
  // Byte-quantised R, G, B, 0 per sample.
  std::vector<uint8_t> ownEstimateBytes_;
  uint8_t* estimateBytes_ = nullptr;
  uint8_t* lentEstimateBytes_ = nullptr;
  std::vector<uint8_t> sourceBytes_;
  std::vector<int32_t> sourceTerms_;        // per source block position, for the coarse search
  std::vector<double> textureRoot_;         // per source block position
  std::vector<int> searchRow_, searchCol_;  // search centre per block row, block column
  // Block rows matched together: each chunk's accumulation shares out its
  // kChunkRows + B - 1 accumulator rows, enough rows for many threads.
  static constexpr int kChunkRows = 64;
  std::vector<BlockMatch> matches_;  // of those block rows
  int nextBlockRow_ = 0;
  int nextOutputRow_ = 0;
  int nextQuantisedRow_ = 0;
};

}  // namespace kestrune
