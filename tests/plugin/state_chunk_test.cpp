// The state chunk through the plug-in's binary interface: getChunk/setChunk round trips, chunks
// that are no state, and a restored project that sounds without its editor.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "host/vst_host.h"
#include "synth/serialization.h"
#include "synth/state_fixture.h"
#include "synth/synth.h"

namespace {

using namespace korvel::vimble;
using state_fixture::TempDir;
using state_fixture::WorkingDirectory;

// Every test runs in an empty working directory of its own: the plug-in reads ./vimble.json
// when it starts, and nothing here may see or leave such a file in the build folder.
class StateChunk : public ::testing::Test {
 protected:
  std::unique_ptr<vsthost::Plugin> load_plugin() {
    std::string error;
    auto plugin = vsthost::Plugin::load(VIMBLE_PLUGIN_PATH, &error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
  }

  TempDir dir;
  WorkingDirectory cd{dir.path()};
};

// A state text made by a store of our own: slot 1 (the working patch) and two more slots.
std::string sample_state(const std::wstring& soundfile) {
  Synth synth;
  SynthParams& params = synth.params;
  params.resize_patches(130);
  Patch patch;
  params.store(patch, PatchParam::Mode_Target, ParamInfo::PG_All);
  patch.soundfile = soundfile;
  patch.params[1].value = 44100;  // "sound.end": a selection the text keeps as it is
  params.patches.replace(1, patch);
  params.changeValue(4, 55.5, 0);
  params.changeValue(83, 3, 0);  // an LFO on "grain.rate"
  params.changeValue(84, -0.5, 0);
  Patch other;
  params.store(other, PatchParam::Mode_Target, ParamInfo::PG_All);
  params.patches.replace(7, other);
  params.patches.replace(12, other);
  params.set_option(61, 1);
  params.set_option(56, 0.25);
  return params.dumps();
}

TEST_F(StateChunk, ChunkRoundTripOnAFreshInstance) {
  auto first = load_plugin();
  ASSERT_TRUE(first);
  const std::string state = sample_state(L"/no/such/sound.wav");
  EXPECT_EQ(first->set_chunk(state), static_cast<intptr_t>(state.size()));
  const std::string chunk = first->get_chunk();
  EXPECT_EQ(chunk, state);
  EXPECT_EQ(first->get_chunk(), chunk);  // an unchanged state gives the same text

  auto second = load_plugin();
  ASSERT_TRUE(second);
  second->set_chunk(chunk);
  EXPECT_EQ(second->get_chunk(), chunk);
  EXPECT_NE(chunk.find("\"patch.12\": {"), std::string::npos);
  EXPECT_NE(chunk.find("\"apply.patch_globals\": 1,"), std::string::npos);
}

TEST_F(StateChunk, ChunksThatAreNoStateChangeNothing) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  plugin->set_chunk(sample_state(L"/no/such/sound.wav"));
  const std::string before = plugin->get_chunk();
  std::string random_bytes;
  uint32_t seed = 12345;
  for (int i = 0; i < 4096; ++i) {
    seed = seed * 1103515245 + 12345;
    random_bytes += static_cast<char>(seed >> 24);
  }
  for (const std::string& chunk : {std::string(), random_bytes, std::string("VST chunk \x01\x02\x03", 13),
                                   std::string("{\"patch.1\": {\"timestamp\": 5, \"grain.rate\": [")}) {
    EXPECT_EQ(plugin->set_chunk(chunk), static_cast<intptr_t>(chunk.size()));
    EXPECT_EQ(plugin->get_chunk(), before) << chunk.size();
  }
}

double peak(const vsthost::StereoBuffer& buffer) {
  double p = 0;
  for (const float v : buffer.left) p = std::max(p, double(std::fabs(v)));
  for (const float v : buffer.right) p = std::max(p, double(std::fabs(v)));
  return p;
}

// Renders blocks until the output is louder than level or about ten seconds have passed.
double render_until_sound(vsthost::Plugin& plugin, double level) {
  double loudest = 0;
  for (int i = 0; i < 1000 && loudest <= level; ++i) {
    loudest = std::max(loudest, peak(plugin.render(512, 512)));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return loudest;
}

TEST_F(StateChunk, ARestoredProjectSoundsWithoutItsEditor) {
  const std::string sound = dir.file("tone.wav");
  state_fixture::write_sine_wav(sound, 44100);
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  plugin->set_sample_rate(44100);
  plugin->set_block_size(512);
  plugin->resume();
  // Without a state the instrument has no sound to play.
  EXPECT_EQ(peak(plugin->render(4096, 512)), 0);

  plugin->set_chunk(sample_state(serialization::to_wide(sound)));
  EXPECT_GT(render_until_sound(*plugin, 0.01), 0.01);
}

TEST_F(StateChunk, TheDefaultPatchFileSoundsAtStartUp) {
  const std::string sound = dir.file("tone.wav");
  state_fixture::write_sine_wav(sound, 44100);
  const std::string state = sample_state(serialization::to_wide(sound));
  state_fixture::write_file(dir.file("vimble.json"), state);
  // The instance reads ./vimble.json from the working directory when it is made.
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  EXPECT_EQ(plugin->get_chunk(), state);
  plugin->set_sample_rate(44100);
  plugin->set_block_size(512);
  plugin->resume();
  EXPECT_GT(render_until_sound(*plugin, 0.01), 0.01);
}

}  // namespace
