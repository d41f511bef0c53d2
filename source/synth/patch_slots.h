// Patch slots: immutable patch snapshots that one thread replaces while others read them.
//
//   PatchSlots slots;
//   slots.resize(130);                      // before any reader runs
//   slots.replace(1, patch);                // UI thread: slot 1 now holds a copy of patch
//   slots.edit(2, [](Patch& p) { p.soundfile = L"rain.wav"; });  // UI thread: a changed copy
//   {
//     auto reading = slots.read();          // any thread, real-time safe
//     const Patch& p = slots[1];            // stays valid while `reading` lives
//   }
//
// Hand-over: each slot is an atomic pointer to an immutable Patch. The writing thread (the UI
// thread: store operations, the plug-in state, patch files) makes a new snapshot, swaps it in and
// keeps the old one on a retire list. Readers on other threads (the audio thread applying a patch
// for a MIDI program change) announce themselves with read(), which only counts them; a retired
// snapshot is freed by the writer once it has seen no reader after the swap. So readers never
// wait, allocate or free, and never see a patch half-written.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "synth/patch.h"

namespace korvel::vimble {

class PatchSlots {
 public:
  // While alive, every snapshot read through operator[] stays valid. noexcept, no allocation.
  class Reading {
   public:
    explicit Reading(const PatchSlots& slots) noexcept : slots_(&slots) {
      slots_->readers_.fetch_add(1, std::memory_order_seq_cst);
    }
    ~Reading() { slots_->readers_.fetch_sub(1, std::memory_order_seq_cst); }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

   private:
    const PatchSlots* slots_;
  };

  PatchSlots() = default;
  ~PatchSlots();
  PatchSlots(const PatchSlots&) = delete;
  PatchSlots& operator=(const PatchSlots&) = delete;

  // Writer thread, while no reader runs (start-up): n slots, new ones empty, extra ones dropped.
  void resize(size_t n);
  size_t size() const noexcept { return size_; }

  // Any thread: the snapshot in slot i (i < size()). Threads other than the writer must hold a
  // Reading while they use it.
  const Patch& operator[](size_t i) const noexcept {
    // Sequentially consistent, like the reader count and the writer's exchange.
    return *slots_[i].load(std::memory_order_seq_cst);
  }
  [[nodiscard]] Reading read() const noexcept { return Reading(*this); }
  // Any thread, inside a Reading: the slot whose current snapshot is patch, or -1.
  int index_of(const Patch& patch) const noexcept;

  // Writer thread: slot i (i < size()) holds patch from now on; readers that started before
  // keep the old snapshot until they end.
  void replace(size_t i, Patch patch);
  // Writer thread: slot i (i < size()) becomes a copy of its patch as change(Patch&) leaves it.
  template <class F>
  void edit(size_t i, F&& change) {
    if (i >= size_) return;
    Patch patch = (*this)[i];
    change(patch);
    replace(i, std::move(patch));
  }

 private:
  // Frees the retired snapshots when no reader can still hold one.
  void collect() noexcept;

  std::unique_ptr<std::atomic<const Patch*>[]> slots_;
  size_t size_ = 0;
  mutable std::atomic<int> readers_{0};
  std::vector<const Patch*> retired_;  // writer thread only
};

}  // namespace korvel::vimble
