// A fixed-capacity queue of small trivially-copyable messages between threads, lock-free.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace korvel::vimble {

// Bounded multi-producer / multi-consumer queue (sequence number per cell). push and pop never
// allocate, lock or wait: push fails when the queue is full, pop when it is empty.
template <class T, size_t Capacity>
class MessageQueue {
  static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");
  static_assert(std::is_trivially_copyable_v<T>, "messages are copied byte for byte");

 public:
  MessageQueue() noexcept {
    for (size_t i = 0; i < Capacity; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
  }
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Any thread; false when full.
  bool push(const T& message) noexcept {
    size_t position = tail_.load(std::memory_order_relaxed);
    for (;;) {
      Cell& cell = cells_[position & (Capacity - 1)];
      const size_t sequence = cell.sequence.load(std::memory_order_acquire);
      const intptr_t difference = static_cast<intptr_t>(sequence) - static_cast<intptr_t>(position);
      if (difference == 0) {
        if (tail_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
          cell.value = message;
          cell.sequence.store(position + 1, std::memory_order_release);
          return true;
        }
      } else if (difference < 0) {
        return false;
      } else {
        position = tail_.load(std::memory_order_relaxed);
      }
    }
  }

  // Any thread; false when empty.
  bool pop(T& out) noexcept {
    size_t position = head_.load(std::memory_order_relaxed);
    for (;;) {
      Cell& cell = cells_[position & (Capacity - 1)];
      const size_t sequence = cell.sequence.load(std::memory_order_acquire);
      const intptr_t difference =
          static_cast<intptr_t>(sequence) - static_cast<intptr_t>(position + 1);
      if (difference == 0) {
        if (head_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
          out = cell.value;
          cell.sequence.store(position + Capacity, std::memory_order_release);
          return true;
        }
      } else if (difference < 0) {
        return false;
      } else {
        position = head_.load(std::memory_order_relaxed);
      }
    }
  }

  // A snapshot; exact only while nobody pushes or pops.
  size_t size() const noexcept {
    const size_t tail = tail_.load(std::memory_order_acquire);
    const size_t head = head_.load(std::memory_order_acquire);
    return tail >= head ? tail - head : 0;
  }

 private:
  struct Cell {
    std::atomic<size_t> sequence{0};
    T value{};
  };
  std::array<Cell, Capacity> cells_;
  alignas(64) std::atomic<size_t> tail_{0};
  alignas(64) std::atomic<size_t> head_{0};
};

}  // namespace korvel::vimble
