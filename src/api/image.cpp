// The public Image over FloatImage, and the test chart.
#include "kestrune/image.h"

#include "api/image_access.h"
#include "image/test_chart.h"

namespace kestrune {

Image::Image() = default;

Image::Image(uint32_t width, uint32_t height, bool withAlpha) {
  if (width == 0 || height == 0) return;
  auto planes = std::make_unique<FloatImage>();
  planes->Allocate(width, height, withAlpha, true);
  impl_ = std::move(planes);
}

Image::Image(const Image& other) {
  if (other.impl_) impl_ = std::make_unique<FloatImage>(*other.impl_);
}

Image::Image(Image&& other) noexcept = default;

Image& Image::operator=(const Image& other) {
  if (this != &other) {
    // Copy first, so that a failed copy leaves this image as it was.
    std::unique_ptr<FloatImage> copy;
    if (other.impl_) copy = std::make_unique<FloatImage>(*other.impl_);
    impl_ = std::move(copy);
  }
  return *this;
}

Image& Image::operator=(Image&& other) noexcept = default;
Image::~Image() = default;

uint32_t Image::Width() const { return impl_ ? impl_->width : 0; }
uint32_t Image::Height() const { return impl_ ? impl_->height : 0; }
bool Image::IsEmpty() const { return !impl_ || impl_->IsEmpty(); }
bool Image::HasAlpha() const { return impl_ && impl_->HasAlpha(); }
float* Image::Plane(int channel) {
  if (!impl_) return nullptr;
  impl_->jpeg.reset();  // the samples may change: they no longer need be the file's decoding
  return channel >= 0 && channel < 4 ? impl_->samples(channel) : nullptr;
}
const float* Image::Plane(int channel) const {
  return impl_ && channel >= 0 && channel < 4 ? impl_->samples(channel) : nullptr;
}
bool Image::HasJpegCoefficients() const { return impl_ && impl_->jpeg != nullptr; }
uint32_t Image::SourceBitDepth() const { return impl_ ? impl_->sourceBitDepth : 0; }

const ImageMetadata& Image::Metadata() const {
  static const ImageMetadata none;
  return impl_ ? impl_->metadata : none;
}

ImageMetadata& Image::Metadata() {
  thread_local ImageMetadata scratch;  // what an empty image hands out: changes go nowhere
  if (impl_) return impl_->metadata;
  scratch = ImageMetadata{};
  return scratch;
}

ImageView Image::View() const {
  ImageView view;
  view.width = Width();
  view.height = Height();
  for (int c = 0; c < 4; ++c) view.planes[c] = Plane(c);
  return view;
}

Image MakeTestChart(uint32_t width, uint32_t height, uint32_t seed) {
  return ImageAccess::Adopt(RenderTestChart(width, height, seed));
}

}  // namespace kestrune
