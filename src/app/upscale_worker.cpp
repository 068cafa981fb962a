// The enlargement's thread: reports shown by the window's thread, one at a
// time, and the result handed over when the run ends.
#include "app/upscale_worker.h"

#include <utility>

namespace {

// The worker's side of the reports: each waits until the window has shown
// it; the Cancel button's flag stops the run.
class UpscaleReports : public kestrune::Progress {
 public:
  UpscaleReports(QObject* receiver, std::atomic<bool>& cancel,
                 const std::function<void(const kestrune::ProgressReport&)>& show)
      : receiver_(receiver), cancel_(cancel), show_(show) {}
  void Report(const kestrune::ProgressReport& report) override {
    QMetaObject::invokeMethod(
        receiver_, [this, &report] { show_(report); }, Qt::BlockingQueuedConnection);
  }
  bool CancelRequested() override { return cancel_.load(); }

 private:
  QObject* receiver_;
  std::atomic<bool>& cancel_;
  const std::function<void(const kestrune::ProgressReport&)>& show_;
};

}  // namespace

void UpscaleWorker::Start(QObject* receiver, const kestrune::Image& image, const kestrune::UpscaleOptions& options,
                          std::atomic<bool>& cancel, std::function<void(const kestrune::ProgressReport&)> report,
                          std::function<void()> finished) {
  Join();
  result_.reset();
  thread_ = std::thread(
      [this, receiver, &image, options, &cancel, report = std::move(report), finished = std::move(finished)] {
        UpscaleReports reports(receiver, cancel, report);
        result_.emplace(kestrune::Upscale(image, options, &reports));
        QMetaObject::invokeMethod(receiver, finished, Qt::QueuedConnection);
      });
}

void UpscaleWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

kestrune::Result<kestrune::Image> UpscaleWorker::TakeResult() {
  Join();
  kestrune::Result<kestrune::Image> result = std::move(*result_);
  result_.reset();
  return result;
}
