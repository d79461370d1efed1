#pragma once

// An owning interface pointer that never throws: it holds one reference and
// gives it back with Release when it is destroyed, reset or filled anew.
// Queries go through query(), so that a queried interface is owned from the
// moment it arrives.

#include "platform/windows/windows_support.h"
// windows_support.h first: it fixes the Windows version for what follows.
#include <unknwn.h>

#include <utility>

namespace frostcap::vss::com {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over the one reference the caller holds.
  explicit ComPtr(Interface* object) noexcept : object_(object) {}
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  Interface* get() const noexcept { return object_; }
  Interface* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Releases what is held and hands out the empty slot for an out-parameter.
  Interface** put() noexcept {
    reset();
    return &object_;
  }

  void reset() noexcept {
    if (Interface* object = std::exchange(object_, nullptr)) object->Release();
  }

  // QueryInterface for Other; `out` owns whatever the object hands back.
  template <typename Other>
  HRESULT query(ComPtr<Other>& out) const noexcept {
    return object_->QueryInterface(__uuidof(Other), reinterpret_cast<void**>(out.put()));
  }

 private:
  Interface* object_ = nullptr;
};

}  // namespace frostcap::vss::com
