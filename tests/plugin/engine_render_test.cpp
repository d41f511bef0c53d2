// The engine through the plug-in's entry point: a sound load fades in, a stop fades out and
// ends rendering, and a program change plays the sound its patch names without an editor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/vst_host.h"
#include "synth/synth.h"
#include "support/test_wav.h"

namespace {

constexpr int RATE = 44100;
constexpr int BLOCK = 256;
constexpr int FADE = 64;

const std::string& tone_path() {
  static const std::string path = [] {
    const auto file = std::filesystem::temp_directory_path() /
                      ("vimble-engine-tone-" + std::to_string(::getpid()) + ".wav");
    write_test_wav(file, RATE, 2, RATE, [](int, uint32_t i) {
      return static_cast<int16_t>(
          std::lround(15000 * std::sin(2 * std::numbers::pi * 441.0 * i / RATE)));
    });
    return file.string();
  }();
  return path;
}

// A patch member: dense grains with every effect, so that a block carries plenty of sound.
std::string patch(int slot, bool with_sound) {
  std::ostringstream s;
  s << "\"patch." << slot << "\": {\"sound.play_rate\": 1, \"grain.rate\": 300,"
    << " \"grain.length\": 40, \"grain.freq\": 1, \"grain.amp\": 0.8, \"grain.pan\": 0,"
    << " \"dist.clip\": 1, \"dist.bitcrush\": 10, \"filter.low\": 0.3, \"filter.mid\": 0.2,"
    << " \"filter.high\": 0.1, \"delay.time\": 20, \"delay.feedback\": 0.4, \"timestamp\": 1";
  if (with_sound) s << ", \"soundfile\": \"" << tone_path() << "\"";
  s << "}";
  return s.str();
}

bool audible(const std::vector<float>& x) {
  for (float v : x)
    if (v != 0.f) return true;
  return false;
}

std::unique_ptr<vsthost::Plugin> load_plugin(const std::string& state) {
  std::string error;
  auto plugin = vsthost::Plugin::load(VIMBLE_PLUGIN_PATH, &error);
  EXPECT_TRUE(plugin) << error;
  if (!plugin) return nullptr;
  plugin->set_sample_rate(RATE);
  plugin->set_block_size(BLOCK);
  plugin->set_chunk(state);
  plugin->resume();
  return plugin;
}

// Renders blocks until one carries sound (the load has finished); that block, or empty.
vsthost::StereoBuffer first_audible_block(vsthost::Plugin& plugin) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    vsthost::StereoBuffer block = plugin.render(BLOCK, BLOCK);
    if (audible(block.left)) return block;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return {};
}

TEST(EngineRender, TheFirstBlockAfterALoadFadesInAndAStopFadesOut) {
  const std::string state = "{" + patch(1, true) + "}";
  auto plugin = load_plugin(state);
  ASSERT_TRUE(plugin);
  const vsthost::StereoBuffer first = first_audible_block(*plugin);
  ASSERT_FALSE(first.left.empty()) << "the sound never played";

  // The same state rendered by an engine of its own: the plug-in's first audible block is that
  // engine's first block, faded in over 64 frames.
  korvel::vimble::Synth engine;
  engine.set_framerate(RATE);
  engine.params.resize_patches(130);
  engine.params.loads(state);
  ASSERT_TRUE(engine.wait_for_loads(20000));
  engine.start();
  std::vector<float> left(BLOCK), right(BLOCK);
  float* outputs[2] = {left.data(), right.data()};
  engine.generate(nullptr, outputs, BLOCK);
  ASSERT_TRUE(audible(left));

  const double step = std::numbers::pi / FADE;
  for (int i = 0; i < BLOCK; ++i) {
    const double gain = i < FADE ? 0.5 * std::cos(step - std::numbers::pi - i * step) + 0.5 : 1.0;
    EXPECT_NEAR(first.left[i], left[i] * gain, 1e-6) << "frame " << i;
    EXPECT_NEAR(first.right[i], right[i] * gain, 1e-6) << "frame " << i;
  }
  EXPECT_LT(std::fabs(first.left[0]), 1e-3);

  // A stop fades the next block out and ends rendering after it.
  plugin->render(BLOCK * 8, BLOCK);
  plugin->suspend();
  const vsthost::StereoBuffer last = plugin->render(BLOCK, BLOCK);
  float peak = 0;
  for (float v : last.left) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 0.f) << "the fade-out block still sounds";
  EXPECT_LT(std::fabs(last.left[BLOCK - 1]), 0.01 * peak) << "and ends near silence";
  const vsthost::StereoBuffer after = plugin->render(BLOCK * 4, BLOCK);
  EXPECT_FALSE(audible(after.left));
  EXPECT_FALSE(audible(after.right));
}

TEST(EngineRender, AProgramChangePlaysTheSoundItsPatchNames) {
  const std::string state = "{" + patch(1, false) + ", " + patch(7, true) + "}";
  auto plugin = load_plugin(state);
  ASSERT_TRUE(plugin);
  EXPECT_FALSE(audible(plugin->render(BLOCK * 16, BLOCK).left)) << "no sound before the change";
  plugin->send_midi({{0, 0xC0, 7, 0}});
  const vsthost::StereoBuffer first = first_audible_block(*plugin);
  ASSERT_FALSE(first.left.empty()) << "the patch's sound never played";
  const vsthost::StereoBuffer more = plugin->render(RATE / 2, BLOCK);
  EXPECT_TRUE(audible(more.left));
  EXPECT_TRUE(audible(more.right));
}

}  // namespace
