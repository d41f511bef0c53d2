// Notes, pitch bend, envelopes, velocity and an LFO, measured on the plug-in's rendered output.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "host/vst_host.h"
#include "support/test_wav.h"

namespace {

constexpr int RATE = 44100;
constexpr int BLOCK = 256;
// 441 Hz: exactly 100 frames per period, so the two-second sound loops without a seam.
constexpr double SINE_HZ = 441;

// A two-second stereo 16-bit sine written once per test program and removed at its end.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
};

const std::string& sine_path() {
  static const TemporaryFile file{[] {
    const auto file = std::filesystem::temp_directory_path() /
                      ("vimble-midi-sine-" + std::to_string(::getpid()) + ".wav");
    write_test_wav(file, 2 * RATE, 2, RATE, [](int, uint32_t i) {
      return static_cast<int16_t>(
          std::lround(16000 * std::sin(2 * std::numbers::pi * SINE_HZ * i / RATE)));
    });
    return file.string();
  }()};
  return file.path;
}

// The working patch: plain grains over the sine (play rate 1 and unchanged pitch, so that
// overlapping grains read the same frames in phase), no effects, plus extra members.
std::string state_text(const std::string& extra_members) {
  std::ostringstream s;
  s << "{\"patch.1\": {\"sound.start\": 0, \"sound.end\": 0, \"sound.play_rate\": 1,"
    << " \"grain.rate\": 20, \"grain.length\": 100, \"grain.freq\": 1, \"grain.gliss\": 0,"
    << " \"grain.attack\": 0.5, \"grain.decay\": 0.5, \"grain.amp\": 0.5, \"grain.pan\": 0,"
    << " \"dist.clip\": 0, \"dist.bitcrush\": 14, \"dist.tone\": 50, \"filter.freq\": 1200,"
    << " \"filter.width\": 0.5, \"filter.low\": 0, \"filter.mid\": 0, \"filter.high\": 0,"
    << " \"filter2.freq\": 1200, \"filter2.width\": 0.5, \"delay.time\": 0,"
    << " \"delay.feedback\": 0, \"timestamp\": 1, " << extra_members
    << " \"soundfile\": \"" << sine_path() << "\"}}";
  return s.str();
}

double rms(const std::vector<float>& x, size_t from, size_t to) {
  to = std::min(to, x.size());
  if (to <= from) return 0;
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += double(x[i]) * x[i];
  return std::sqrt(sum / double(to - from));
}

// The strongest frequency between 100 and 3000 Hz (1 Hz steps, Hann window).
double peak_frequency(const std::vector<float>& x) {
  const size_t n = x.size();
  std::vector<double> windowed(n);
  for (size_t i = 0; i < n; ++i)
    windowed[i] = x[i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n)));
  double best = 0, best_power = -1;
  for (double f = 100; f <= 3000; f += 1) {
    const double coeff = 2 * std::cos(2 * std::numbers::pi * f / RATE);
    double s1 = 0, s2 = 0;
    for (double v : windowed) {
      const double s0 = v + coeff * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    if (power > best_power) {
      best_power = power;
      best = f;
    }
  }
  return best;
}

vsthost::MidiMessage note_on(int note, int velocity) {
  return {0, 0x90, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)};
}
vsthost::MidiMessage note_off(int note) { return {0, 0x80, static_cast<uint8_t>(note), 0}; }
vsthost::MidiMessage pitch_bend(int value) {
  return {0, 0xE0, static_cast<uint8_t>(value & 0x7F), static_cast<uint8_t>(value >> 7)};
}

// Starts the plug-in with the working patch; ends the test when no sound can be played.
#define START_OR_SKIP(...)                           \
  do {                                               \
    ASSERT_NO_FATAL_FAILURE(start(__VA_ARGS__));     \
    if (IsSkipped()) return;                         \
  } while (0)

class MidiRenderTest : public ::testing::Test {
 protected:
  // Loads the plug-in with the working patch and renders until the sound plays.
  void start(const std::string& extra_members = "") {
    std::string error;
    plugin = vsthost::Plugin::load(VIMBLE_PLUGIN_PATH, &error);
    ASSERT_TRUE(plugin) << error;
    plugin->set_sample_rate(RATE);
    plugin->set_block_size(BLOCK);
    plugin->set_chunk(state_text(extra_members));
    plugin->resume();
    plugin->start_process();
    // Without a sound there is nothing to measure; after one failed wait the others skip.
    static bool sound_plays = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sound_plays && std::chrono::steady_clock::now() < deadline) {
      const vsthost::StereoBuffer out = plugin->render(BLOCK, BLOCK);
      if (rms(out.left, 0, out.left.size()) > 1e-4) {
        render(RATE / 5);  // a few grains into the stream
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    sound_plays = false;
    GTEST_SKIP() << "the plug-in does not play a sound from its state chunk";
  }

  vsthost::StereoBuffer render(int frames) { return plugin->render(frames, BLOCK); }
  vsthost::StereoBuffer play(const std::vector<vsthost::MidiMessage>& events, int frames) {
    plugin->send_midi(events);
    return render(frames);
  }
  // The peak frequency of 0.5 s, once the grains started before the events have ended.
  double frequency_after(const std::vector<vsthost::MidiMessage>& events) {
    play(events, RATE * 3 / 10);
    return peak_frequency(render(RATE / 2).left);
  }

  std::unique_ptr<vsthost::Plugin> plugin;
};

TEST_F(MidiRenderTest, NotesTransposeTheGrains) {
  START_OR_SKIP();
  EXPECT_NEAR(peak_frequency(render(RATE / 2).left), SINE_HZ, 2);  // no note yet
  EXPECT_NEAR(frequency_after({note_on(60, 100)}), SINE_HZ, 2);
  EXPECT_NEAR(frequency_after({note_on(72, 100)}), 2 * SINE_HZ, 3);
  EXPECT_NEAR(frequency_after({note_off(72)}), SINE_HZ, 2);  // back to the held 60
  EXPECT_NEAR(frequency_after({note_on(48, 100)}), SINE_HZ / 2, 2);
}

TEST_F(MidiRenderTest, PitchBendMovesThePitchThroughAMidiController) {
  // Slot 0 of "grain.freq" on the pitch-bend corner; amount 1/3 of 36 semitones: an octave.
  START_OR_SKIP("\"grain.freq.controller.0\": {\"type\": \"midi\", \"amount\": 0.333333333,"
                " \"x\": 0, \"y\": 1},");
  EXPECT_NEAR(frequency_after({note_on(60, 100)}), SINE_HZ, 2);
  EXPECT_NEAR(frequency_after({pitch_bend(16383)}), 2 * SINE_HZ, 3);
  EXPECT_NEAR(frequency_after({pitch_bend(0)}), SINE_HZ / 2, 2);
  EXPECT_NEAR(frequency_after({pitch_bend(8192)}), SINE_HZ, 2);
  // Another controller (volume) moves nothing.
  EXPECT_NEAR(frequency_after({{0, 0xB0, 7, 127}}), SINE_HZ, 2);
}

TEST_F(MidiRenderTest, TheFirstEnvelopeSilencesTheOutputAfterRelease) {
  START_OR_SKIP();
  const double sustained = rms(play({note_on(60, 127)}, RATE / 2).left, RATE / 4, RATE / 2);
  EXPECT_GT(sustained, 0.01);
  // Release: 2700 ms of envelope time on the double-speed clock, 1.35 s of output.
  const vsthost::StereoBuffer release = play({note_off(60)}, RATE * 3 / 2);
  const double halfway = rms(release.left, RATE / 2, RATE * 6 / 10);
  EXPECT_LT(halfway, sustained * 0.8);
  EXPECT_GT(halfway, sustained * 0.05);
  const vsthost::StereoBuffer after = render(RATE / 2);
  EXPECT_LT(rms(after.left, 0, after.left.size()), 1e-5);
  EXPECT_LT(rms(after.right, 0, after.right.size()), 1e-5);
  // The grains still run: a new note sounds again.
  EXPECT_GT(rms(play({note_on(64, 127)}, RATE / 4).left, RATE / 8, RATE / 4), 0.01);
}

TEST_F(MidiRenderTest, VelocityScalesTheAttackPeak) {
  START_OR_SKIP();
  // Levels relative to the sustained level: over the period before the attack's peak (6.25 ms
  // on the double-speed clock) and the period after it.
  struct Levels {
    double rising, peak;
  };
  auto levels = [&](int velocity) {
    const vsthost::StereoBuffer out = play({note_on(60, velocity)}, RATE / 2);
    const size_t peak = RATE * 625 / 100000;
    const double sustained = rms(out.left, RATE / 4, RATE / 2);
    play({note_off(60)}, 2 * RATE);  // back to silence
    return Levels{rms(out.left, peak - 100, peak) / sustained,
                  rms(out.left, peak, peak + 100) / sustained};
  };
  const Levels loud = levels(127);
  const Levels soft = levels(32);
  // The grains are gated by the square of the envelope, which rises to the velocity's share of
  // point 1's level and then moves to the sustain level 0.8 whatever the velocity.
  EXPECT_NEAR(loud.peak, std::pow(127 / 128.0 / 0.8, 2), 0.1);
  EXPECT_LT(soft.peak, 0.15);
  EXPECT_NEAR(loud.rising / soft.rising, std::pow(127 / 32.0, 2), 0.05 * std::pow(127 / 32.0, 2));
}

TEST_F(MidiRenderTest, AnLfoOnPanMovesTheBalance) {
  auto balance_range = [&](const std::string& extra) {
    start(extra);
    if (IsSkipped()) return std::make_pair(0.0, 0.0);
    const vsthost::StereoBuffer out = render(2 * RATE);
    double low = 1, high = -1;
    for (size_t at = 0; at + RATE / 20 <= out.left.size(); at += RATE / 20) {
      const double l = rms(out.left, at, at + RATE / 20);
      const double r = rms(out.right, at, at + RATE / 20);
      const double balance = (r - l) / (r + l);
      low = std::min(low, balance);
      high = std::max(high, balance);
    }
    return std::make_pair(low, high);
  };
  const auto [still_low, still_high] = balance_range("");
  if (IsSkipped()) return;
  EXPECT_LT(still_high - still_low, 0.02);
  const auto [low, high] = balance_range(
      "\"grain.pan.controller.0\": {\"type\": \"lfo\", \"amount\": 1, \"skew\": 0,"
      " \"clip\": 0, \"freq\": 1},");
  EXPECT_LT(low, -0.5);
  EXPECT_GT(high, 0.5);
}

TEST_F(MidiRenderTest, TenThousandNoteOnsThenAllNoteOffsLeaveNoNoteHeld) {
  START_OR_SKIP();
  std::vector<vsthost::MidiMessage> events;
  for (int i = 0; i < 10000; ++i) {
    events.push_back({0, static_cast<uint8_t>(0x90 | (i / 128) % 16), static_cast<uint8_t>(i % 128), 100});
    if (events.size() == 200) {
      play(events, BLOCK);
      events.clear();
    }
  }
  EXPECT_GT(rms(render(RATE / 4).left, 0, RATE / 4), 0.005);
  for (int channel = 0; channel < 16; ++channel) {
    for (int n = 0; n < 128; ++n) events.push_back({0, static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(n), 0});
    play(events, BLOCK);
    events.clear();
  }
  render(RATE * 3 / 2);
  const vsthost::StereoBuffer after = render(RATE / 4);
  EXPECT_LT(rms(after.left, 0, after.left.size()), 1e-5);
}

// An offline render: the seed and the state first, the sound loaded before the first block.
std::vector<float> seeded_render(float seed) {
  std::string error;
  auto plugin = vsthost::Plugin::load(VIMBLE_PLUGIN_PATH, &error);
  if (!plugin) {
    ADD_FAILURE() << error;
    return {};
  }
  constexpr int32_t VENDOR_INDEX = vst2::fourcc("Vmbl");
  plugin->set_sample_rate(RATE);
  plugin->set_block_size(BLOCK);
  plugin->vendor_specific(VENDOR_INDEX, 2, nullptr, seed);
  plugin->set_chunk(state_text(
      "\"grain.pan.controller.0\": {\"type\": \"random\", \"amount\": 1, \"walk\": 0,"
      " \"spread\": 0.5}, \"grain.length.controller.0\": {\"type\": \"random\","
      " \"amount\": 0.5, \"walk\": 0.5, \"spread\": 0.5},"));
  plugin->resume();
  plugin->start_process();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (plugin->vendor_specific(VENDOR_INDEX, 1) != 10) {  // Ready
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the sine did not load";
      return {};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  plugin->send_midi({note_on(64, 100)});
  vsthost::StereoBuffer out = plugin->render(RATE, BLOCK);
  out.left.insert(out.left.end(), out.right.begin(), out.right.end());
  return out.left;
}

TEST(SeededMidiRenderTest, AHostSetSeedMakesRandomModulationRepeatable) {
  const std::vector<float> first = seeded_render(7);
  ASSERT_EQ(first.size(), 2u * RATE);
  EXPECT_GT(rms(first, 0, first.size()), 0.01);
  EXPECT_TRUE(first == seeded_render(7));
  EXPECT_FALSE(first == seeded_render(8));
}

}  // namespace
