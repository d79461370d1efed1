#pragma once

// A thread of the command's own that sleeps between its steps until its
// owner stops it: the progress line and the timeout's watchdog.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace frostcap::cli {

class Background {
 public:
  Background() = default;
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background() { stop(); }

  template <typename Body>
  void start(Body body) {
    thread_ = std::thread(std::move(body));
  }

  // For the body: sleeps for `duration`; false when the owner stopped it
  // meanwhile, and the body is to end.
  bool sleep(std::chrono::duration<double> duration) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, duration, [this] { return stopped_; });
  }

  void stop() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  std::thread thread_;
};

}  // namespace frostcap::cli
