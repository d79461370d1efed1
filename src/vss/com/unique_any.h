#pragma once

// A value together with the function that frees it, freed exactly once: when
// the holder goes out of scope, is reset, or is filled anew through put().
// Free takes either the value itself (a string, a handle) or its address (a
// record whose contents the owner frees, such as snapshot properties).

#include <type_traits>
#include <utility>

namespace frostcap::vss::com {

template <typename T, auto Free>
class UniqueAny {
 public:
  UniqueAny() noexcept = default;
  explicit UniqueAny(T value) noexcept : value_(value), held_(true) {}
  UniqueAny(UniqueAny&& other) noexcept
      : value_(std::exchange(other.value_, T{})), held_(std::exchange(other.held_, false)) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = std::exchange(other.value_, T{});
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  const T& get() const noexcept { return value_; }

  // Frees what is held and hands out a zeroed slot for an out-parameter. What
  // the callee leaves there is owned from then on, whatever status it returns:
  // freeing a slot the callee left zeroed is harmless for every Free used here.
  T* put() noexcept {
    reset();
    held_ = true;
    return &value_;
  }

  void reset() noexcept {
    if (held_) free();
    value_ = T{};
    held_ = false;
  }

  // Gives up ownership without freeing.
  T release() noexcept {
    held_ = false;
    return std::exchange(value_, T{});
  }

 private:
  void free() noexcept {
    if constexpr (std::is_invocable_v<decltype(Free), T*>) {
      Free(&value_);
    } else {
      Free(value_);
    }
  }

  T value_{};
  bool held_ = false;
};

}  // namespace frostcap::vss::com
