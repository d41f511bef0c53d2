// Stress under ThreadSanitizer: the host's UI thread takes states back (setChunk) while the audio
// thread applies patches for MIDI program changes and renders.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/vst_host.h"
#include "synth/state_fixture.h"
#include "synth/synth.h"

namespace {

using namespace korvel::vimble;
using namespace std::chrono_literals;

constexpr auto DURATION = 1500ms;
constexpr int SLOTS_USED = 24;

// A state text whose slots 0..SLOTS_USED-1 hold patches that differ with variant, some of them
// naming a sound file (which need not exist: a failed load is part of the work too).
std::string state_text(int variant, const std::wstring& sound) {
  Synth synth;
  SynthParams& params = synth.params;
  params.resize_patches(130);
  for (int slot = 0; slot < SLOTS_USED; ++slot) {
    params.changeValue(4, 10 + slot + variant, 0);              // "grain.rate"
    params.changeValue(5, 50 + 3 * slot + 7 * variant, 0);      // "grain.length"
    params.changeValue(83, (slot + variant) % 9, 0);            // a controller type on grain.rate
    params.changeValue(84, variant % 2 ? 0.5 : -0.5, 0);
    Patch patch;
    params.store(patch, PatchParam::Mode_Target, ParamInfo::PG_All);
    if ((slot + variant) % 3 == 0) patch.soundfile = sound + std::to_wstring(slot % 2);
    params.patches.replace(static_cast<size_t>(slot), patch);
  }
  params.set_option(56, 0.01 * variant);
  // As the store keeps it once read: a selection too short for its sound reads as "all of it".
  Synth reader;
  reader.params.resize_patches(130);
  reader.params.loads(params.dumps());
  return reader.params.dumps();
}

TEST(StateStress, StatesTakenBackWhileTheAudioThreadAppliesPatches) {
  state_fixture::TempDir dir;
  const std::wstring sound = std::filesystem::path(dir.file("sound")).wstring();
  state_fixture::write_sine_wav(dir.file("sound0"), 4000);
  const std::vector<std::string> texts = {state_text(0, sound), state_text(1, sound),
                                          state_text(2, sound)};
  Synth synth;
  SynthParams& params = synth.params;
  params.resize_patches(130);
  synth.set_framerate(44100);
  synth.start();

  std::atomic<bool> done{false};
  std::atomic<long> applied{0};
  std::thread audio([&] {
    std::vector<float> left(256), right(256);
    float* outputs[2] = {left.data(), right.data()};
    int program = 0;
    while (!done.load()) {
      params.applyPatch(static_cast<size_t>(program++ % (SLOTS_USED + 2)), -1, ParamInfo::PG_ApplyMask);
      synth.generate(nullptr, outputs, 256);
      applied.fetch_add(1);
    }
  });
  long loaded = 0;
  const auto end = std::chrono::steady_clock::now() + DURATION;
  while (std::chrono::steady_clock::now() < end) {
    const std::string& text = texts[static_cast<size_t>(loaded++ % 3)];
    params.loads(text);
    if (params.dumps() != text) {
      ADD_FAILURE() << "the state read back differs from the text taken";
      break;
    }
  }
  done = true;
  audio.join();
  EXPECT_GT(loaded, 3);
  EXPECT_GT(applied.load(), 3);
  synth.wait_for_loads(10000);
}

TEST(StateStress, SetChunkAgainstProgramChangesThroughThePlugin) {
  state_fixture::TempDir dir;
  state_fixture::WorkingDirectory cd(dir.path());  // no ./vimble.json is read or left behind
  const std::wstring sound = std::filesystem::path(dir.file("sound")).wstring();
  state_fixture::write_sine_wav(dir.file("sound1"), 4000);
  const std::vector<std::string> texts = {state_text(3, sound), state_text(4, sound)};

  std::string error;
  auto plugin = vsthost::Plugin::load(VIMBLE_PLUGIN_PATH, &error);
  ASSERT_TRUE(plugin) << error;
  plugin->set_sample_rate(44100);
  plugin->set_block_size(128);
  plugin->resume();

  std::atomic<bool> done{false};
  std::thread audio([&] {
    std::vector<float> left(128), right(128);
    uint8_t program = 0;
    while (!done.load()) {
      plugin->send_midi({{0, 0xC0, static_cast<uint8_t>(program++ % (SLOTS_USED + 2)), 0}});
      plugin->process(left.data(), right.data(), 128);
    }
  });
  long chunks = 0;
  const auto end = std::chrono::steady_clock::now() + DURATION;
  while (std::chrono::steady_clock::now() < end) {
    const std::string& text = texts[static_cast<size_t>(chunks++ % 2)];
    EXPECT_EQ(plugin->set_chunk(text), static_cast<intptr_t>(text.size()));
    EXPECT_EQ(plugin->get_chunk(), text);
  }
  done = true;
  audio.join();
  EXPECT_GT(chunks, 2);
}

}  // namespace
