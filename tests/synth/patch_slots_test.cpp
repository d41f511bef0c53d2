// Patch slots: snapshots replaced as a whole, kept alive for readers that started before.
#include "synth/patch_slots.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace korvel::vimble {
namespace {

Patch patch_with(double value, const std::wstring& soundfile = L"") {
  Patch patch;
  patch.params[4].value = value;
  patch.params[Patch::TIMESTAMP].value = 1;
  patch.soundfile = soundfile;
  return patch;
}

TEST(PatchSlots, ResizeKeepsContentsAndAddsEmptySlots) {
  PatchSlots slots;
  EXPECT_EQ(slots.size(), 0u);
  slots.resize(3);
  slots.replace(1, patch_with(7));
  slots.replace(3, patch_with(9));  // beyond the slots: ignored
  slots.resize(130);
  EXPECT_EQ(slots.size(), 130u);
  EXPECT_EQ(slots[1].params[4].value, 7);
  EXPECT_TRUE(slots[129].empty());
  slots.resize(1);
  EXPECT_EQ(slots.size(), 1u);
  EXPECT_TRUE(slots[0].empty());
}

TEST(PatchSlots, AReaderKeepsTheSnapshotItStartedWith) {
  PatchSlots slots;
  slots.resize(4);
  slots.replace(2, patch_with(10, L"first.wav"));
  {
    const auto reading = slots.read();
    const Patch& old = slots[2];
    EXPECT_EQ(slots.index_of(old), 2);
    slots.replace(2, patch_with(20, L"second.wav"));
    slots.replace(2, patch_with(30, L"third.wav"));
    // Still readable (the address sanitizer would see a freed one), and no longer a slot.
    EXPECT_EQ(old.params[4].value, 10);
    EXPECT_EQ(old.soundfile, L"first.wav");
    EXPECT_EQ(slots.index_of(old), -1);
    EXPECT_EQ(slots[2].params[4].value, 30);
  }
  slots.replace(2, patch_with(40));
  EXPECT_EQ(slots[2].params[4].value, 40);
  EXPECT_EQ(slots.index_of(slots[2]), 2);
  // An edit is a changed copy: the rest of the patch stays.
  const Patch* before = &slots[2];
  slots.edit(2, [](Patch& p) { p.soundfile = L"edited.wav"; });
  EXPECT_NE(&slots[2], before);
  EXPECT_EQ(slots[2].soundfile, L"edited.wav");
  EXPECT_EQ(slots[2].params[4].value, 40);
  slots.edit(4, [](Patch& p) { p.soundfile = L"nowhere"; });  // beyond the slots: ignored
}

TEST(PatchSlots, ReadersOnAnotherThreadSeeWholePatches) {
  PatchSlots slots;
  slots.resize(2);
  slots.replace(0, patch_with(0, L"0"));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done.load()) {
      const auto reading = slots.read();
      const Patch& patch = slots[0];
      // Every snapshot carries its value in its name too.
      if (std::to_wstring(static_cast<int>(patch.params[4].value)) != patch.soundfile) torn.fetch_add(1);
    }
  });
  for (int i = 1; i < 20000; ++i) slots.replace(0, patch_with(i, std::to_wstring(i)));
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace korvel::vimble
