// Grain starts (every parameter's formula) and the grain envelope; the pool and the play
// position through the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine_fixture.h"
#include "synth/grain.h"
#include "synth/grain_render.h"

namespace korvel::vimble {
namespace {

constexpr double PI = std::numbers::pi;

// The parameters' defaults, as a grain start reads them without controllers.
GrainInputs defaults(int32_t frames = 44100) {
  GrainInputs in;
  in.v = {0, double(frames), 1, 0, 20, 100, 0, 1, 0, 0.5, 0.5, 0.93, 0, 0, 14, 50, 1200, 0.5,
          0,  0, 0, 1200, 0.5, 0, 0};
  in.framerate = 44100;
  in.sel_end = frames;
  return in;
}

SoundView view(int32_t frames, double samplerate = 44100) {
  static std::vector<float> samples;
  samples.assign((frames + 10) * 2, 0.f);
  return {samples.data(), frames, 2, samplerate};
}

Grain started(const GrainInputs& in, const SoundView& sound = view(44100)) {
  Grain g;
  start_grain(g, in, sound, nullptr);
  return g;
}

TEST(GrainStart, LengthHasTheFiveMillisecondTermBelowOneHundred) {
  struct Case {
    double ms, m;
    int32_t samples;
  };
  for (const Case& c : std::vector<Case>{{99, 0, int32_t(104 * 44.1)},
                                         {100, 0, 4410},
                                         {0.1, 0, int32_t(5.1 * 44.1)},
                                         {200, -0.5, int32_t((200 - 150) * 44.1)},
                                         {20000, 0, 441000}}) {
    GrainInputs in = defaults();
    in.v[5] = c.ms;
    in.m[5] = c.m;
    EXPECT_EQ(started(in).length, c.samples) << c.ms << " ms, modulation " << c.m;
  }
}

TEST(GrainStart, ShortestGrainClampsAttackAndDecayToSixteen) {
  GrainInputs in = defaults();
  in.v[5] = 0.1;
  in.m[5] = -0.5;  // 0.1 - 0.075 ms: far below 32 samples
  Grain g = started(in);
  EXPECT_EQ(g.length, 32);
  EXPECT_EQ(g.attack_end, 16);
  EXPECT_EQ(g.decay_start, 16);
  // The envelope rises over 16 samples and falls over 16, ending at exactly 0.
  std::vector<double> e;
  for (; g.count < g.length; ++g.count) e.push_back(grain_envelope(g));
  EXPECT_NEAR(e[15], 1.0, 1e-12);
  for (int i = 0; i < 15; ++i) EXPECT_LT(e[i], e[i + 1]) << i;
  for (int i = 16; i < 31; ++i) EXPECT_GT(e[i], e[i + 1]) << i;
  EXPECT_EQ(e[31], 0.0);
}

// The recurrence stays within 1e-6 of 0.5 cos(phase) + 0.5 over the longest ramps.
TEST(GrainEnvelope, FollowsTheRaisedCosine) {
  for (double attack : {0.5, 0.01, 0.3}) {
    GrainInputs in = defaults();
    in.v[5] = 10000;
    in.v[9] = attack;
    in.v[10] = 0.2;
    Grain g = started(in);
    const double a = g.attack_end, d = g.decay_start, n = g.length;
    double worst = 0;
    for (; g.count < g.length; ++g.count) {
      const double c = g.count;
      double expected;
      if (c < a)
        expected = 0.5 * std::cos(PI - (c + 1) * PI / a) + 0.5;
      else if (c < d)
        expected = 1.0;
      else
        expected = 0.5 * std::cos((c - d + 1) * PI / (n - d)) + 0.5;
      worst = std::max(worst, std::fabs(grain_envelope(g) - expected));
    }
    EXPECT_LT(worst, 1e-6) << "attack " << attack;
  }
}

TEST(GrainStart, PitchRegions) {
  struct Case {
    double value, ratio;
  };
  for (const Case& c : std::vector<Case>{{1, 1}, {13, 2}, {-1, -1}, {0.01, 0.01}, {25, 4}}) {
    GrainInputs in = defaults();
    in.v[7] = c.value;
    const Grain g = started(in, view(44100, 48000));
    EXPECT_NEAR(g.inc, 48000.0 / 44100.0 * c.ratio, 1e-12) << "grain.freq " << c.value;
  }
  GrainInputs in = defaults();
  in.note_semitones = 12;  // a held note an octave above the base note
  EXPECT_NEAR(started(in).inc, 2.0, 1e-12);
}

TEST(GrainStart, GlissandoReachesItsFactorAtTheEnd) {
  GrainInputs in = defaults();
  in.v[8] = 12;
  const Grain g = started(in);
  EXPECT_NEAR(g.inc + g.inc_step * g.length, 2.0 * g.inc, 1e-12);
}

TEST(GrainStart, PanLawAndDensityCompensation) {
  GrainInputs in = defaults();
  Grain g = started(in);
  const double a = 0.93;
  EXPECT_NEAR(g.gain_left, a * std::cos(PI / 4), 1e-12);
  EXPECT_NEAR(g.gain_right, g.gain_left, 1e-12);

  in.v[12] = -1;  // full left
  g = started(in);
  EXPECT_NEAR(g.gain_left, a, 1e-12);
  EXPECT_NEAR(g.gain_right, 0, 1e-12);

  in.v[12] = 0;
  in.density = 4;
  in.compensation = 1;
  EXPECT_NEAR(started(in).gain_left, a * std::cos(PI / 4) / 2, 1e-12) << "halved at D = 4";
  in.density = 0.8;
  EXPECT_NEAR(started(in).gain_left, a * std::cos(PI / 4), 1e-12) << "unchanged at D <= 1";
}

TEST(GrainStart, NarrowSelectionStartsTheWindowAtZero) {
  GrainInputs in = defaults();
  in.v[0] = 1000;
  in.v[1] = 1020;  // 20 frames: narrower than 32
  in.stream_pos = 5000;
  in.m[3] = 0;
  const Grain g = started(in);
  EXPECT_GE(g.pos, 0.0);
  EXPECT_LE(g.pos, 1020.0);
  EXPECT_DOUBLE_EQ(g.pos, std::fmod(5000.0, 1020.0));
}

TEST(GrainStart, ClipAmountAndCompensation) {
  GrainInputs in = defaults();
  in.v[13] = 2;
  Grain g = started(in);
  EXPECT_EQ(g.distortion.clip, 3.0);
  EXPECT_NEAR(g.gain_left, 0.666 * 0.93 * std::cos(PI / 4), 1e-12);
  // The clip lowers the bit depth by ln(0.2 k): 14 + ln(0.6) = 13.49 bits switch the crusher on.
  EXPECT_NEAR(g.distortion.crush_left.levels, std::exp2(14 + std::log(0.6)), 1e-9);
  in.v[13] = 0.04;
  EXPECT_EQ(started(in).distortion.clip, 0.0);
}

// A grain reading across the end of the sound continues at its start without a jump.
TEST(GrainRender, WrapsAtTheSoundsEndWithoutAClick) {
  // 441 frames hold exactly one period of 100 Hz: the sound loops seamlessly.
  const int frames = 441;
  std::vector<float> samples((frames + 10) * 1);
  for (int i = 0; i < frames + 10; ++i) samples[i] = float(std::sin(2 * PI * (i % frames) / frames));
  const SoundView sound{samples.data(), frames, 1, 44100};
  GrainInputs in = defaults(frames);
  in.v[5] = 50;  // 2205 samples: five passes over the end
  in.v[9] = 0.01;
  in.v[10] = 0.01;
  Grain g;
  start_grain(g, in, sound, nullptr);
  std::vector<float> left(8), right(8);
  double previous = 0, largest_jump = 0;
  int rendered = 0;
  while (!g.finished()) {
    std::fill(left.begin(), left.end(), 0.f);
    render_grain_scalar(g, nullptr, left.data(), right.data());
    for (int i = 0; i < 8 && rendered < g.length; ++i, ++rendered) {
      if (rendered > 50 && rendered < g.length - 50)
        largest_jump = std::max(largest_jump, std::fabs(left[i] - previous));
      previous = left[i];
    }
  }
  EXPECT_LT(largest_jump, 0.02) << "a 100 Hz sine moves at most 0.0143 per sample";
}

using testing::make_engine;
using testing::make_sound;
using testing::render;

TEST(GrainPool, AFullPoolDropsNewStarts) {
  auto synth = make_engine(make_sound(44100));
  synth->params.changeValue(4, 2000, 0);   // 2000 grains per second
  synth->params.changeValue(5, 10000, 0);  // each lasts 10 s
  render(*synth, 30000, 512);               // time for 1360 starts
  EXPECT_EQ(synth->active_grains, Synth::POOL_SIZE);
  EXPECT_EQ(synth->free_head.next, nullptr);
  render(*synth, 4096, 512);
  EXPECT_EQ(synth->active_grains, Synth::POOL_SIZE);
  int linked = 0;
  for (const Grain* g = synth->active_head.next; g; g = g->next) ++linked;
  EXPECT_EQ(linked, Synth::POOL_SIZE);
}

TEST(PlayPosition, WrapsForwardsAndBackwards) {
  for (double rate : {1.0, -1.0}) {
    auto synth = make_engine(make_sound(44100));
    render(*synth, 64, 64);  // installs the sound
    synth->params.changeValue(0, 1000, 0);
    synth->params.changeValue(1, 2000, 0);
    synth->params.changeValue(2, rate, 0);
    synth->stream.pos = rate > 0 ? 1990.0 : 1010.0;
    render(*synth, 64, 64);  // the control update at the block's first step takes the values
    // After 8 steps of 8 frames: 64 frames past the start value, wrapped in [1000, 2000].
    const double expected = rate > 0 ? 1000 + (1990 + 64 - 2000) : 2000 - (1000 - (1010 - 64));
    EXPECT_DOUBLE_EQ(synth->play_position(), expected) << "rate " << rate;
  }
}

}  // namespace
}  // namespace korvel::vimble
