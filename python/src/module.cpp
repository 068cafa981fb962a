// kestrune._kestrune: the library's public API for Python. Images are numpy
// arrays of shape (H, W), (H, W, 3) or (H, W, 4) and dtype uint8, uint16 or
// float32 (1.0 white), converted to and from the library's 0..255 planes
// exactly as its file readers and writers convert samples, so that a result
// written by kestrune.write has the tool's bytes. The keyword defaults are
// read from default-constructed option structs when the module loads.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <kestrune/kestrune.h>

namespace py = pybind11;
using namespace pybind11::literals;
namespace k = kestrune;

namespace {

// ---- Errors ---------------------------------------------------------------

// The system's reason a path cannot be read or written, as far as it can be
// told afterwards: a missing or closed path or folder, a folder where a file
// should be; EIO for everything else (content the library refuses, a full
// disk).
int ErrnoFor(const std::string& path, bool reading) {
  struct stat st;
  if (reading) {
    if (::stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? EISDIR : ::access(path.c_str(), R_OK) != 0 ? errno : EIO;
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  const std::string dir = folder.empty() ? "." : folder.string();
  if (::stat(dir.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return ::access(dir.c_str(), W_OK) != 0 ? errno : EIO;
}

// OSError(errno, the library's message, path): Python picks the subclass
// (FileNotFoundError, PermissionError, ...) and shows the path.
[[noreturn]] void RaiseFileError(const std::string& message, const std::string& path, bool reading) {
  PyErr_SetObject(PyExc_OSError, py::make_tuple(ErrnoFor(path, reading), message, path).ptr());
  throw py::error_already_set();
}

// The exception for a library error; `input` and `output` are the paths of
// the call, named by the OSErrors of reading and writing.
[[noreturn]] void Raise(const k::Error& error, const std::string& input = {}, const std::string& output = {}) {
  switch (error.code) {
    case k::ErrorCode::kCannotOpen:
    case k::ErrorCode::kUnreadable: RaiseFileError(error.message, input, true);
    case k::ErrorCode::kCannotWrite: RaiseFileError(error.message, output, false);
    case k::ErrorCode::kOutOfMemory: PyErr_SetString(PyExc_MemoryError, error.message.c_str()); break;
    case k::ErrorCode::kCancelled: PyErr_SetNone(PyExc_KeyboardInterrupt); break;
    default: throw py::value_error(error.message);
  }
  throw py::error_already_set();
}

void Check(const k::Error& error, const std::string& input = {}, const std::string& output = {}) {
  if (error) Raise(error, input, output);
}

// ---- Progress and Ctrl+C --------------------------------------------------

// Hands the library's reports to a Python callable and answers its polls
// with Python's pending signals: a Ctrl+C (or an exception from the
// callable) stops the run at its next check and is raised when the call
// returns. Called on the thread that released the GIL, which it takes back.
class PyProgress final : public k::Progress {
 public:
  explicit PyProgress(py::object callback) : callback_(std::move(callback)) {}

  void Report(const k::ProgressReport& report) override {
    if (callback_.is_none() || error_) return;
    py::gil_scoped_acquire gil;
    k::ProgressReport copy = report;
    copy.estimate = {};  // valid only during the call: not handed out
    try {
      callback_(copy);
    } catch (py::error_already_set& e) {
      error_.emplace(std::move(e));
    }
  }

  bool CancelRequested() override {
    if (error_) return true;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) error_.emplace();
    return error_.has_value();
  }

  // After the call, with the GIL: raises what stopped it, if anything did.
  void RaiseStop() {
    if (error_) {
      error_->restore();
      throw py::error_already_set();
    }
  }

 private:
  py::object callback_;
  std::optional<py::error_already_set> error_;
};

// ---- Arrays ---------------------------------------------------------------

enum class Kind { kU8, kU16, kF32 };

struct Layout {
  uint32_t height = 0, width = 0;
  int channels = 0;  // 1 for (H, W), else 3 or 4
  Kind kind = Kind::kU8;
};

// The samples of each dtype as the file readers and writers convert them:
// 16 bits v / 257, floats x 255; back to integers rounded half to even and
// clamped, to floats unclamped.
float ToSample(uint8_t v) { return float(v); }
float ToSample(uint16_t v) { return float(v) / 257.0f; }
float ToSample(float v) { return v * 255.0f; }
template <class T>
T FromSample(float s);
template <>
uint8_t FromSample(float s) {
  return k::SampleToByte(s);
}
template <>
uint16_t FromSample(float s) {
  const float scaled = s * 257.0f;
  return static_cast<uint16_t>(std::nearbyint(scaled > 0.0f ? (scaled < 65535.0f ? scaled : 65535.0f) : 0.0f));
}
template <>
float FromSample(float s) {
  return s / 255.0f;
}

Layout LayoutOf(const py::array& a, const char* what) {
  Layout l;
  if (py::isinstance<py::array_t<uint8_t>>(a))
    l.kind = Kind::kU8;
  else if (py::isinstance<py::array_t<uint16_t>>(a))
    l.kind = Kind::kU16;
  else if (py::isinstance<py::array_t<float>>(a))
    l.kind = Kind::kF32;
  else
    throw py::value_error(std::string(what) + ": dtype " + py::str(a.dtype()).cast<std::string>() +
                          " is not one of uint8, uint16, float32 (native byte order)");
  const bool grey = a.ndim() == 2, colour = a.ndim() == 3 && (a.shape(2) == 3 || a.shape(2) == 4);
  if (!grey && !colour)
    throw py::value_error(std::string(what) + ": shape " +
                          py::str(py::tuple(py::cast(a.request().shape))).cast<std::string>() +
                          " is not (H, W), (H, W, 3) or (H, W, 4)");
  const std::string size = std::to_string(a.shape(1)) + " x " + std::to_string(a.shape(0)) + " pixels";
  if (a.shape(0) == 0 || a.shape(1) == 0) throw py::value_error(std::string(what) + ": empty (" + size + ")");
  if (!k::ImageSizeAllowed(a.shape(1), a.shape(0)))
    throw py::value_error(std::string(what) + ": " + size + " is beyond the library's limits");
  l.height = uint32_t(a.shape(0)), l.width = uint32_t(a.shape(1));
  l.channels = grey ? 1 : int(a.shape(2));
  return l;
}

// Strided access, so any view reads as np.ascontiguousarray would give it.
template <class T>
void Fill(const py::array& a, const Layout& l, k::Image& image) {
  if (l.channels == 1) {
    const auto v = a.unchecked<T, 2>();
    for (uint32_t y = 0; y < l.height; ++y)
      for (uint32_t x = 0; x < l.width; ++x) image.Row(k::kRed, y)[x] = ToSample(v(y, x));
    for (int c : {k::kGreen, k::kBlue}) std::copy_n(image.Plane(k::kRed), image.PixelCount(), image.Plane(c));
    image.Metadata().greyscale = true;
    return;
  }
  const auto v = a.unchecked<T, 3>();
  for (int c = 0; c < l.channels; ++c)
    for (uint32_t y = 0; y < l.height; ++y) {
      float* row = image.Row(c, y);
      for (uint32_t x = 0; x < l.width; ++x) row[x] = ToSample(v(y, x, c));
    }
}

k::Image ToImage(const py::array& a, Layout& l, const char* what = "image") {
  l = LayoutOf(a, what);
  k::Image image(l.width, l.height, l.channels == 4);
  switch (l.kind) {
    case Kind::kU8: Fill<uint8_t>(a, l, image); break;
    case Kind::kU16: Fill<uint16_t>(a, l, image); break;
    case Kind::kF32: Fill<float>(a, l, image); break;
  }
  image.Metadata().depth = l.kind == Kind::kU8    ? k::SampleDepth::k8
                           : l.kind == Kind::kU16 ? k::SampleDepth::k16
                                                  : k::SampleDepth::k32Float;
  return image;
}

template <class T>
py::array Make(const k::Image& image, int channels) {
  const uint32_t h = image.Height(), w = image.Width();
  if (channels == 1) {
    py::array_t<T> out({h, w});
    auto o = out.template mutable_unchecked<2>();
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) o(y, x) = FromSample<T>(image.Row(k::kRed, y)[x]);
    return out;
  }
  py::array_t<T> out({h, w, uint32_t(channels)});
  auto o = out.template mutable_unchecked<3>();
  const bool alpha = image.HasAlpha();
  for (int c = 0; c < channels; ++c)
    for (uint32_t y = 0; y < h; ++y) {
      // An alpha plane asked for but absent is opaque.
      const float* row = c == k::kAlpha && !alpha ? nullptr : image.Row(c, y);
      for (uint32_t x = 0; x < w; ++x) o(y, x, c) = FromSample<T>(row != nullptr ? row[x] : 255.0f);
    }
  return out;
}

// The array for `image` in the dtype and channel count `l` names.
py::array ToArray(const k::Image& image, const Layout& l) {
  switch (l.kind) {
    case Kind::kU8: return Make<uint8_t>(image, l.channels);
    case Kind::kU16: return Make<uint16_t>(image, l.channels);
    default: return Make<float>(image, l.channels);
  }
}

// ---- Names ----------------------------------------------------------------

template <class E>
struct Named {
  const char* name;
  E value;
};
const Named<k::InitialMethod> kMethods[] = {{"bilinear", k::InitialMethod::kBilinear},
                                            {"bicubic", k::InitialMethod::kBicubic},
                                            {"edge", k::InitialMethod::kEdgeDirectional},
                                            {"nedi", k::InitialMethod::kNedi},
                                            {"learned", k::InitialMethod::kLearned}};
const Named<k::SourceModel> kSourceModels[] = {
    {"camera", k::SourceModel::kCamera}, {"reduced", k::SourceModel::kReduced}, {"auto", k::SourceModel::kAuto}};
const Named<k::Filter> kFilters[] = {{"box", k::Filter::kBox},
                                     {"bilinear", k::Filter::kBilinear},
                                     {"bspline", k::Filter::kCubicBSpline},
                                     {"catmull-rom", k::Filter::kCatmullRom},
                                     {"lanczos2", k::Filter::kLanczos2},
                                     {"lanczos3", k::Filter::kLanczos3},
                                     {"sinc", k::Filter::kSinc}};
const Named<k::FileFormat> kFormats[] = {{"bmp", k::FileFormat::kBmp},   {"png", k::FileFormat::kPng},
                                         {"jpeg", k::FileFormat::kJpeg}, {"jpg", k::FileFormat::kJpeg},
                                         {"pfm", k::FileFormat::kPfm},   {"tiff", k::FileFormat::kTiff},
                                         {"tif", k::FileFormat::kTiff},  {"webp", k::FileFormat::kWebp},
                                         {"heif", k::FileFormat::kHeif}, {"gif", k::FileFormat::kGif},
                                         {"pnm", k::FileFormat::kPnm}};

template <class E, std::size_t N>
E Lookup(const Named<E> (&table)[N], const std::string& name, const char* what) {
  std::string names;
  for (const auto& entry : table) {
    if (name == entry.name) return entry.value;
    names += std::string(names.empty() ? "" : ", ") + entry.name;
  }
  throw py::value_error("unknown " + std::string(what) + " '" + name + "' (one of " + names + ")");
}

template <class E, std::size_t N>
std::string NameOf(const Named<E> (&table)[N], E value) {
  for (const auto& entry : table)
    if (entry.value == value) return entry.name;
  return "";
}

// Integer settings beyond uint32 become a value the library refuses with
// its own message.
uint32_t Unsigned(long long v) { return v < 0 || v > UINT32_MAX ? UINT32_MAX : uint32_t(v); }

uint32_t Side(long long v, const char* name) {
  if (v < 0 || v > k::kMaxImageSide)
    throw py::value_error(std::string(name) + " must be from 0 to " + std::to_string(k::kMaxImageSide));
  return uint32_t(v);
}

k::WriteOptions ToWriteOptions(const std::optional<std::string>& format, const py::object& depth, int quality,
                               bool lossless) {
  k::WriteOptions w;
  if (format) w.format = Lookup(kFormats, *format, "format");
  if (!depth.is_none()) {
    const std::string d = py::str(depth);
    w.depth = d == "8"                  ? k::SampleDepth::k8
              : d == "16"               ? k::SampleDepth::k16
              : d == "32" || d == "32f" ? k::SampleDepth::k32Float
                                        : throw py::value_error("depth must be 8, 16 or 32");
  }
  w.quality = quality;
  w.lossless = lossless;
  return w;
}

// What a read returned besides the pixels; write puts it back.
struct Info {
  std::string format;
  uint32_t width = 0, height = 0;
  int depth = 0;  // 8, 16, 32 (float) or 0 when the reader does not say
  bool greyscale = false, hasAlpha = false;
  py::bytes icc, exif, xmp, iptc;
  std::vector<std::string> warnings;
};

py::bytes Bytes(const std::vector<uint8_t>& v) { return py::bytes(reinterpret_cast<const char*>(v.data()), v.size()); }
std::vector<uint8_t> Vector(const py::bytes& b) {
  const std::string s = b;
  return {s.begin(), s.end()};
}

k::UpscaleOptions MakeUpscaleOptions(const std::string& method, long long iterations, long long fractal, int edge,
                                     float strength, float sideLobe, float regularization, float variable,
                                     long long width, long long height) {
  k::UpscaleOptions o;
  o.initialMethod = Lookup(kMethods, method, "method");
  o.iterations = Unsigned(iterations);
  o.fractalSubstitutions = Unsigned(fractal);
  o.edgeDirIterations = edge;
  o.strength = strength, o.sideLobe = sideLobe, o.regularization = regularization;
  o.variableRegularization = variable;
  o.width = Side(width, "width"), o.height = Side(height, "height");
  return o;
}

// A float default as the shortest decimal that reads back as the same float
// (0.03, not 0.029999999329447746), so that signatures show the library's
// numbers as written.
py::float_ Decimal(float v) {
  char text[32];
  for (int digits = 1;; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, double(v));
    if (std::strtof(text, nullptr) == v || digits >= 9) return py::float_(std::strtod(text, nullptr));
  }
}

// ---- The functions --------------------------------------------------------

py::array Upscale(const py::array& array, const std::string& method, const std::optional<py::array>& initial,
                  long long iterations, long long fractal, int edge, float strength, float sideLobe,
                  float regularization, float variable, long long width, long long height,
                  const std::string& sourceModel, const py::object& progress) {
  k::UpscaleOptions options = MakeUpscaleOptions(method, iterations, fractal, edge, strength, sideLobe, regularization,
                                                 variable, width, height);
  options.sourceModel = Lookup(kSourceModels, sourceModel, "source_model");
  Layout layout, initialLayout;
  const k::Image source = ToImage(array, layout);
  k::Image initialImage;
  if (initial) {
    initialImage = ToImage(*initial, initialLayout, "initial");
    options.initialMethod = k::InitialMethod::kFromImage;
    options.initialImage = &initialImage;
  }
  PyProgress hook(progress);
  k::Result<k::Image> result = k::Error{};
  {
    py::gil_scoped_release nogil;
    result = k::Upscale(source, options, &hook);
  }
  hook.RaiseStop();
  Check(result.error());
  return ToArray(result.value(), layout);
}

py::array Downscale(const py::array& array, long long width, long long height, const std::string& filter,
                    float smoothness, int trials, float deviation, const py::object& progress) {
  k::DownscaleOptions options;
  options.width = Side(width, "width"), options.height = Side(height, "height");
  options.filter = Lookup(kFilters, filter, "filter");
  options.smoothness = smoothness, options.trials = trials, options.scaleDeviation = deviation;
  Layout layout;
  const k::Image source = ToImage(array, layout);
  PyProgress hook(progress);
  k::Result<k::Image> result = k::Error{};
  {
    py::gil_scoped_release nogil;
    result = k::Downscale(source, options, &hook);
  }
  hook.RaiseStop();
  Check(result.error());
  return ToArray(result.value(), layout);
}

py::array Resize(const py::array& array, long long width, long long height, const std::string& filter, float offsetX,
                 float offsetY, float deviationX, float deviationY, float smoothness) {
  k::ResizeOptions options;
  options.width = Side(width, "width"), options.height = Side(height, "height");
  options.filter = Lookup(kFilters, filter, "filter");
  options.offsetX = offsetX, options.offsetY = offsetY;
  options.deviationX = deviationX, options.deviationY = deviationY;
  options.smoothness = smoothness;
  Layout layout;
  const k::Image source = ToImage(array, layout);
  k::Result<k::Image> result = k::Error{};
  {
    py::gil_scoped_release nogil;
    result = k::Resize(source, options);
  }
  Check(result.error());
  return ToArray(result.value(), layout);
}

py::tuple Read(const std::filesystem::path& file, bool keepDamaged) {
  const std::string path = file.string();
  k::ReadOptions options;
  options.keepDamaged = keepDamaged;
  k::FileFormat format = k::FileFormat::kUnknown;
  k::Result<k::Image> result = k::Error{};
  {
    py::gil_scoped_release nogil;
    result = k::ReadImage(path, options, &format);
  }
  if (!result.has_value() || (result.error() && !keepDamaged)) Check(result.error(), path);
  const k::Image& image = result.value();
  const k::ImageMetadata& m = image.Metadata();
  Info info;
  info.format = NameOf(kFormats, format);
  info.width = image.Width(), info.height = image.Height();
  info.depth = int(m.depth);
  info.greyscale = m.greyscale, info.hasAlpha = image.HasAlpha();
  info.icc = Bytes(m.icc), info.exif = Bytes(m.exif), info.xmp = Bytes(m.xmp), info.iptc = Bytes(m.iptc);
  info.warnings = result.warnings();
  if (result.error()) info.warnings.push_back(result.error().message);
  // The file's own depth, a float array where the reader does not say.
  Layout layout;
  layout.kind = m.depth == k::SampleDepth::k8 ? Kind::kU8 : m.depth == k::SampleDepth::k16 ? Kind::kU16 : Kind::kF32;
  layout.channels = image.HasAlpha() ? 4 : m.greyscale ? 1 : 3;
  return py::make_tuple(ToArray(image, layout), info);
}

void Write(const py::array& array, const std::filesystem::path& file, const std::optional<Info>& info,
           const std::optional<std::string>& format, const py::object& depth, int quality, bool lossless) {
  const std::string path = file.string();
  const k::WriteOptions options = ToWriteOptions(format, depth, quality, lossless);
  Layout layout;
  k::Image image = ToImage(array, layout);
  if (info && !image.IsEmpty()) {
    k::ImageMetadata& m = image.Metadata();
    m.icc = Vector(info->icc), m.exif = Vector(info->exif), m.xmp = Vector(info->xmp), m.iptc = Vector(info->iptc);
    // Grey with alpha stays grey while the colour planes are still equal.
    if (info->greyscale && layout.channels == 4) {
      const std::size_t n = image.PixelCount();
      m.greyscale = std::equal(image.Plane(k::kRed), image.Plane(k::kRed) + n, image.Plane(k::kGreen)) &&
                    std::equal(image.Plane(k::kRed), image.Plane(k::kRed) + n, image.Plane(k::kBlue));
    }
  }
  k::Error error;
  {
    py::gil_scoped_release nogil;
    error = k::WriteImage(image, path, options);
  }
  Check(error, path, path);
}

void UpscaleFile(const std::filesystem::path& input, const std::filesystem::path& output, const std::string& method,
                 long long iterations, long long fractal, int edge, float strength, float sideLobe,
                 float regularization, float variable, long long width, long long height, bool jpegModel,
                 const std::string& sourceModel, const std::optional<std::string>& format, const py::object& depth,
                 int quality, bool lossless, const py::object& progress) {
  k::UpscaleOptions options = MakeUpscaleOptions(method, iterations, fractal, edge, strength, sideLobe, regularization,
                                                 variable, width, height);
  options.jpegModel = jpegModel;
  options.sourceModel = Lookup(kSourceModels, sourceModel, "source_model");
  const k::WriteOptions write = ToWriteOptions(format, depth, quality, lossless);
  const std::string in = input.string(), out = output.string();
  PyProgress hook(progress);
  k::Error error;
  {
    py::gil_scoped_release nogil;
    error = k::UpscaleFile(in, out, options, write, &hook);
  }
  hook.RaiseStop();
  Check(error, in, out);
}

py::array TestChart(long long width, long long height, uint32_t seed) {
  Layout layout;
  layout.channels = 3;
  return ToArray(k::MakeTestChart(Side(width, "width"), Side(height, "height"), seed), layout);
}

constexpr const char* kImageDoc =
    "Images are numpy arrays of shape (H, W), (H, W, 3) or (H, W, 4) (RGB and RGBA) and dtype uint8, uint16 or "
    "float32 (0..1, 1.0 white); the result has the dtype and channel count of the input, alpha kept. Arrays that are "
    "not C-contiguous are read as np.ascontiguousarray would give them; other dtypes (float64, int, big-endian) and "
    "channel counts raise ValueError.";
constexpr const char* kRunDoc =
    " Runs without the GIL. progress, when given, is called with a ProgressReport at each stage and iteration; an "
    "exception it raises, or Ctrl+C (KeyboardInterrupt), stops the run at its next check and is raised. Bad settings "
    "raise ValueError with the library's message, lack of memory MemoryError.";

}  // namespace

PYBIND11_MODULE(_kestrune, m) {
  m.doc() = "Kestrune: exact x2 enlargement and crisp reduction of raster images (the compiled part of kestrune).";
  const k::UpscaleOptions up;
  const k::DownscaleOptions down;
  const k::ResizeOptions rs;
  const k::WriteOptions wr;
  const k::ReadOptions rd;

  py::enum_<k::Stage>(m, "Stage", "The stage a ProgressReport describes.")
      .value("ALLOCATING", k::Stage::kAllocating)
      .value("INITIAL_ENLARGEMENT", k::Stage::kInitialEnlargement)
      .value("PREPARING", k::Stage::kPreparing)
      .value("ENHANCEMENT", k::Stage::kEnhancement)
      .value("HINT_SEARCH", k::Stage::kHintSearch)
      .value("FINAL_SCALING", k::Stage::kFinalScaling);

  py::class_<k::ProgressReport>(
      m, "ProgressReport",
      "What a long operation is doing: its stage, the step of total (iteration or trial), "
      "the percent of the whole done, and for pictures enlarged in tiles the tile in hand (the "
      "library's estimate image is not passed on).")
      .def_readonly("stage", &k::ProgressReport::stage)
      .def_readonly("step", &k::ProgressReport::step)
      .def_readonly("total", &k::ProgressReport::total)
      .def_readonly("substitution", &k::ProgressReport::substitution)
      .def_readonly("percent", &k::ProgressReport::percent)
      .def_readonly("best_score", &k::ProgressReport::bestScore)
      .def_readonly("rows_done", &k::ProgressReport::rowsDone)
      .def_readonly("tile", &k::ProgressReport::tile)
      .def_readonly("tiles", &k::ProgressReport::tiles)
      .def("__repr__", [](const k::ProgressReport& r) {
        return "<ProgressReport " + py::str(py::cast(r.stage)).cast<std::string>() + " " + std::to_string(r.step) +
               "/" + std::to_string(r.total) + " " + std::to_string(r.percent) + "%>";
      });

  py::class_<Info>(m, "Info",
                   "What read() found besides the pixels: format, size, depth (8, 16, 32 for float, 0 unknown), "
                   "greyscale, has_alpha, the ICC profile, EXIF, XMP and IPTC blocks as bytes, and the reader's "
                   "warnings. write(..., info=info) puts the profile and blocks back.")
      .def(py::init<>())
      .def_readwrite("format", &Info::format)
      .def_readwrite("width", &Info::width)
      .def_readwrite("height", &Info::height)
      .def_readwrite("depth", &Info::depth)
      .def_readwrite("greyscale", &Info::greyscale)
      .def_readwrite("has_alpha", &Info::hasAlpha)
      .def_readwrite("icc", &Info::icc)
      .def_readwrite("exif", &Info::exif)
      .def_readwrite("xmp", &Info::xmp)
      .def_readwrite("iptc", &Info::iptc)
      .def_readwrite("warnings", &Info::warnings)
      .def("__repr__", [](const Info& i) {
        return "<Info " + i.format + " " + std::to_string(i.width) + " x " + std::to_string(i.height) + ", depth " +
               std::to_string(i.depth) + (i.greyscale ? ", grey" : "") + (i.hasAlpha ? ", alpha" : "") + ">";
      });

  m.def("upscale", &Upscale, "image"_a, py::kw_only(), "method"_a = NameOf(kMethods, up.initialMethod),
        "initial"_a = py::none(), "iterations"_a = up.iterations, "fractal_substitutions"_a = up.fractalSubstitutions,
        "edge_dir_iterations"_a = up.edgeDirIterations, "strength"_a = Decimal(up.strength),
        "side_lobe"_a = Decimal(up.sideLobe), "regularization"_a = Decimal(up.regularization),
        "variable_regularization"_a = Decimal(up.variableRegularization), "width"_a = up.width, "height"_a = up.height,
        "source_model"_a = NameOf(kSourceModels, up.sourceModel), "progress"_a = py::none(),
        (std::string("Kestrune interpolation: the image enlarged by two, refined by the iterative sharpness "
                     "enhancement, then resampled to width x height when given (0: twice the source's). method is "
                     "the initial x2 enlargement: bilinear, bicubic, edge or nedi; initial, an image of exactly twice "
                     "the size, replaces it. edge_dir_iterations -1 enlarges the residual bilinearly. source_model: "
                     "camera (optics-like blur on the sample-aligned grid), reduced (an antialiased bicubic halving on "
                     "the centred grid) or auto (the one the picture fits). ") +
         kImageDoc + kRunDoc)
            .c_str());
  m.def("downscale", &Downscale, "image"_a, "width"_a, "height"_a, py::kw_only(),
        "filter"_a = NameOf(kFilters, down.filter), "smoothness"_a = Decimal(down.smoothness), "trials"_a = down.trials,
        "scale_deviation"_a = Decimal(down.scaleDeviation), "progress"_a = py::none(),
        (std::string("Downscale with hinting: the image reduced to width x height with the filter (box, bilinear, "
                     "bspline, catmull-rom, lanczos2, lanczos3, sinc) after a search for the sub-pixel shift and "
                     "change of scale that make it crispest. ") +
         kImageDoc + kRunDoc)
            .c_str());
  m.def("resize", &Resize, "image"_a, "width"_a, "height"_a, py::kw_only(), "filter"_a = NameOf(kFilters, rs.filter),
        "offset_x"_a = Decimal(rs.offsetX), "offset_y"_a = Decimal(rs.offsetY),
        "deviation_x"_a = Decimal(rs.deviationX), "deviation_y"_a = Decimal(rs.deviationY),
        "smoothness"_a = Decimal(rs.smoothness),
        (std::string("Linear resizing to width x height with a filter (as for downscale), the output grid shifted "
                     "by offset_x, offset_y output pixels and the mapped extent changed by deviation_x, deviation_y "
                     "source pixels; smoothness stretches the kernel. ") +
         kImageDoc + " Runs without the GIL; bad settings raise ValueError.")
            .c_str());
  m.def("read", &Read, "path"_a, py::kw_only(), "keep_damaged"_a = rd.keepDamaged,
        "Reads an image file (its format told from its first bytes) into (array, Info): a uint8, uint16 or float32 "
        "array after the file's depth (float32 where the reader does not say), (H, W) for grey, (H, W, 4) with "
        "alpha, else (H, W, 3); EXIF orientation applied. A file that cannot be opened or read raises OSError "
        "(FileNotFoundError when missing) with the path as filename and the library's reason; keep_damaged returns "
        "what a damaged file held, the reason among info.warnings.");
  m.def("write", &Write, "image"_a, "path"_a, py::kw_only(), "info"_a = py::none(), "format"_a = py::none(),
        "depth"_a = py::none(), "quality"_a = wr.quality, "lossless"_a = wr.lossless,
        (std::string("Writes the image all or nothing (a temporary file renamed into place), with the profile and "
                     "metadata of info (from read) where the format holds them. format (bmp, png, jpeg, pfm, tiff, "
                     "webp) defaults to the extension's; depth (8, 16, 32) to the array's dtype, or the nearest the "
                     "format holds; quality for JPEG and lossy WebP. ") +
         kImageDoc + " Bad settings raise ValueError, an unwritable path OSError with the path as filename.")
            .c_str());
  m.def(
      "upscale_file", &UpscaleFile, "src"_a, "dst"_a, py::kw_only(), "method"_a = NameOf(kMethods, up.initialMethod),
      "iterations"_a = up.iterations, "fractal_substitutions"_a = up.fractalSubstitutions,
      "edge_dir_iterations"_a = up.edgeDirIterations, "strength"_a = Decimal(up.strength),
      "side_lobe"_a = Decimal(up.sideLobe), "regularization"_a = Decimal(up.regularization),
      "variable_regularization"_a = Decimal(up.variableRegularization), "width"_a = up.width, "height"_a = up.height,
      "jpeg_model"_a = up.jpegModel, "source_model"_a = NameOf(kSourceModels, up.sourceModel), "format"_a = py::none(),
      "depth"_a = py::none(), "quality"_a = wr.quality, "lossless"_a = wr.lossless, "progress"_a = py::none(),
      (std::string("Kestrune interpolation from file to file with the source's metadata and depth, as kestrune-cli "
                   "upscale does: large pictures without alpha go a row of tiles at a time, never held whole. "
                   "Settings as for upscale; jpeg_model holds the enlargement of a JPEG source to the file's quantised "
                   "coefficients (False: to its decoded pixels). Output settings as for write; dst is written all or "
                   "nothing (a "
                   "stopped run writes nothing). OSError names the file that could not be read or written.") +
       kRunDoc)
          .c_str());
  m.def("test_chart", &TestChart, "width"_a, "height"_a, "seed"_a = 1,
        "A deterministic photograph-like (H, W, 3) uint8 test image, the same on every machine for the same "
        "arguments (kestrune-cli chart's).");
  m.def("threads", &k::ThreadCount, "The number of threads the heavy loops run on.");
  m.def(
      "set_threads", [](int n) { k::SetThreadCount(n); }, "threads"_a,
      "Sets the thread count for the process (0: back to KESTRUNE_THREADS, else every core); results are the same for "
      "any count. Not while an operation runs.");
  m.def(
      "version", [] { return std::string(KESTRUNE_VERSION_STRING); },
      "The library's version, as \"major.minor.patch\".");
}
