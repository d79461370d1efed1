#pragma once

// A thread of the command's own that sleeps between its steps until its
// owner stops it: the progress line and the timeout's watchdog, which
// `snapshot` and `doctor` share.

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "exit_codes.h"
#include "system.h"

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

// Ends a run that takes longer than `limit`: first as an interruption, so
// that the copies are released as after a signal; if the run is stuck in a
// wait of the library, which has no limit, by ending the process, with which
// the service ends its shadow copies. `outcome` says what that means for the
// run, as its last words.
class Watchdog {
 public:
  Watchdog(std::optional<std::chrono::duration<double>> limit, std::chrono::duration<double> grace,
           std::string outcome) {
    if (!limit) return;
    background_.start([this, limit, grace, outcome = std::move(outcome)] {
      if (!background_.sleep(*limit)) return;
      interrupt(kTimedOut, "the timeout");
      if (!background_.sleep(grace + std::chrono::seconds(5))) return;
      std::cerr << "frostcap: the timeout passed and the run did not end: ending the process; "
                << outcome << '\n';
      std::_Exit(kTimedOut);
    });
  }

 private:
  Background background_;
};

}  // namespace frostcap::cli
