#pragma once

#include "status/status.h"
#include "vss/seam.h"

namespace frostcap::vss {

// A component description obtained from the service, held until it is handed
// back: explicitly, when the caller wants the status of the hand-back, or by
// the destructor on every other path.
class ComponentInfoLease {
 public:
  explicit ComponentInfoLease(WriterMetadataComponent& component) : component_(component) {}
  ComponentInfoLease(const ComponentInfoLease&) = delete;
  ComponentInfoLease& operator=(const ComponentInfoLease&) = delete;
  // Runs while an exception may be on its way out: a hand-back that throws
  // too is dropped rather than ending the process, and the first exception
  // is the one reported.
  ~ComponentInfoLease() {
    if (!held_) return;
    try {
      component_.freeComponentInfo(info_);
    } catch (...) {
    }
  }

  Status obtain() {
    const Status status = component_.getComponentInfo(info_);
    held_ = !failed(status);
    return status;
  }

  Status handBack() {
    held_ = false;
    return component_.freeComponentInfo(info_);
  }

  const ComponentInfo& info() const { return info_; }

 private:
  WriterMetadataComponent& component_;
  ComponentInfo info_;
  bool held_ = false;
};

}  // namespace frostcap::vss
