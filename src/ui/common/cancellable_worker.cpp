#include "ui/common/cancellable_worker.h"

#include <QMetaObject>

namespace tw::ui {

CancellableWorker::CancellableWorker(QObject* parent) : QObject(parent) {}

CancellableWorker::~CancellableWorker() { stop(); }

bool CancellableWorker::start(Job job) {
  if (busy()) return false;
  collect();
  const std::uint64_t generation = ++generation_;
  returned_.store(false);
  thread_ = std::jthread([this, job = std::move(job), generation](std::stop_token token) {
    job(token);
    returned_.store(true);
    // Back on our thread through the event loop; Qt drops the call if this
    // object is destroyed first (the destructor joins this thread before
    // that can happen, so `this` is alive here).
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
          if (generation != generation_ || !thread_.joinable()) return;  // collected by stop() or start()
          collect();
          emit finished();
        },
        Qt::QueuedConnection);
  });
  return true;
}

void CancellableWorker::cancel() {
  if (thread_.joinable()) thread_.request_stop();
}

void CancellableWorker::stop() {
  cancel();
  collect();
}

void CancellableWorker::collect() {
  if (thread_.joinable()) thread_.join();
  thread_ = std::jthread();
}

}  // namespace tw::ui
