// A value shared between threads: an atomic read and written with relaxed ordering.
#pragma once

#include <atomic>

namespace korvel::vimble {

// Reads like the plain value it wraps; copying copies the value (so records holding it stay
// copyable). Each load or store is one indivisible access: a reader sees either the old or the
// new value of one field, never a torn one. Plain reads and writes are relaxed; publish/acquire
// order a field after the fields written before it.
template <class T>
class Relaxed {
 public:
  static_assert(std::atomic<T>::is_always_lock_free, "audio thread values must be lock-free");

  constexpr Relaxed(T v = T{}) noexcept : value_(v) {}
  Relaxed(const Relaxed& other) noexcept : value_(other.load()) {}
  Relaxed& operator=(const Relaxed& other) noexcept {
    store(other.load());
    return *this;
  }
  Relaxed& operator=(T v) noexcept {
    store(v);
    return *this;
  }
  operator T() const noexcept { return load(); }

  T load() const noexcept { return value_.load(std::memory_order_relaxed); }
  void store(T v) noexcept { value_.store(v, std::memory_order_relaxed); }
  // Release store and acquire load, for a field whose write announces others written before it.
  void publish(T v) noexcept { value_.store(v, std::memory_order_release); }
  T acquire() const noexcept { return value_.load(std::memory_order_acquire); }
  // Replaces the value with desired only when it still equals expected.
  bool compare_exchange(T expected, T desired) noexcept {
    return value_.compare_exchange_strong(expected, desired, std::memory_order_relaxed);
  }

 private:
  std::atomic<T> value_;
};

}  // namespace korvel::vimble
