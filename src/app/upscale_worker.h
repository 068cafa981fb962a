// The thread of an enlargement in the window: Upscale runs on it while the
// window's thread shows each report and, at the end, takes the result.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include <QObject>

#include <kestrune/image.h>
#include <kestrune/progress.h>
#include <kestrune/upscale.h>

class UpscaleWorker {
 public:
  UpscaleWorker() = default;
  UpscaleWorker(const UpscaleWorker&) = delete;
  UpscaleWorker& operator=(const UpscaleWorker&) = delete;
  ~UpscaleWorker() { Join(); }

  // Starts Upscale(image, options) on the thread. Each report is handed to
  // `report` on `receiver`'s thread, the worker waiting until it returns (the
  // estimate is only valid meanwhile); `cancel` stops the run; `finished` is
  // queued on `receiver`'s thread once the result can be taken. `image` and
  // what `options` points to stay untouched until then.
  void Start(QObject* receiver, const kestrune::Image& image, const kestrune::UpscaleOptions& options,
             std::atomic<bool>& cancel, std::function<void(const kestrune::ProgressReport&)> report,
             std::function<void()> finished);

  // Waits for the thread, if any, to end.
  void Join();

  // After `finished`: joins the thread and hands over the run's result.
  kestrune::Result<kestrune::Image> TakeResult();

 private:
  std::thread thread_;
  // Set by the worker before it queues `finished`.
  std::optional<kestrune::Result<kestrune::Image>> result_;
};
