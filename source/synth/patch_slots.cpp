// Patch slots: snapshot swap and deferred freeing.
#include "synth/patch_slots.h"

#include <utility>

namespace korvel::vimble {

PatchSlots::~PatchSlots() {
  for (size_t i = 0; i < size_; ++i) delete slots_[i].load();
  for (const Patch* patch : retired_) delete patch;
}

void PatchSlots::resize(size_t n) {
  auto slots = std::make_unique<std::atomic<const Patch*>[]>(n);
  for (size_t i = 0; i < n; ++i)
    slots[i].store(i < size_ ? slots_[i].load() : new Patch(), std::memory_order_relaxed);
  for (size_t i = n; i < size_; ++i) delete slots_[i].load();
  slots_ = std::move(slots);
  size_ = n;
}

void PatchSlots::replace(size_t i, Patch patch) {
  if (i >= size_) return;
  const Patch* fresh = new Patch(std::move(patch));
  retired_.reserve(retired_.size() + 1);  // so that keeping the old one cannot fail
  // Sequentially consistent with the reader count (Reading): a reader that this exchange does
  // not see yet is one that will load the fresh snapshot.
  retired_.push_back(slots_[i].exchange(fresh, std::memory_order_seq_cst));
  collect();
}

int PatchSlots::index_of(const Patch& patch) const noexcept {
  for (size_t i = 0; i < size_; ++i)
    if (slots_[i].load(std::memory_order_seq_cst) == &patch) return static_cast<int>(i);
  return -1;
}

void PatchSlots::collect() noexcept {
  if (retired_.empty() || readers_.load(std::memory_order_seq_cst) != 0) return;
  for (const Patch* patch : retired_) delete patch;
  retired_.clear();
}

}  // namespace korvel::vimble
