// The per-grain effects: power follower, distortion, bit crusher, state-variable filters.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "synth/amplitude.h"
#include "synth/bitcrush.h"
#include "synth/distortion.h"
#include "synth/dual_svf.h"
#include "synth/sv_filter.h"

namespace korvel::vimble {
namespace {

TEST(Amplitude, FollowsThePowerOfItsInputAndSnapsSmallLevelsToZero) {
  Amplitude follower(44100, 10);
  for (int i = 0; i < 44100; ++i) follower.generate(0.5);
  EXPECT_NEAR(follower.level, 0.25, 1e-6);
  follower.level = 5e-5;
  EXPECT_TRUE(follower.check_zero(1e-4));
  EXPECT_EQ(follower.level, 0.0);
  EXPECT_FALSE(follower.check_zero(1e-4)) << "a level of 0 is left alone";
}

TEST(Distortion, ClipsSoftlyOrFolds) {
  struct Case {
    double k, x, expected;
  };
  const double fold = std::sin(-3.0 * 0.2 * std::numbers::pi / 2.0);
  for (const Case& c : std::vector<Case>{{3, 0.1, 0.3 + 0 * 1e-17},
                                         {3, 0.5, 1.0},
                                         {3, -0.5, -1.0},
                                         {3, 0.3166666666666667, 0.96875},
                                         {-3, 0.2, fold}}) {
    EXPECT_NEAR(Distortion::shape(c.k, c.x), c.expected, 1e-12) << c.k << " " << c.x;
  }
}

TEST(Distortion, ToneBelowHalfIsAOnePoleLowPassOnBothChannels) {
  Distortion d;
  d.init_lowpass(0.0);  // darkest: weight 0.5
  EXPECT_EQ(d.tone, 0.5);
  double l = 1.0, r = 1.0;
  d.generate(l, r);
  EXPECT_EQ(l, 0.5);
  EXPECT_EQ(r, 0.5);
  l = r = 1.0;
  d.generate(l, r);
  EXPECT_EQ(l, 0.75);
  d.init_lowpass(0.5);
  EXPECT_EQ(d.tone, 1.0) << "a tone of 0.5 or above bypasses the low-pass";
}

TEST(Bitcrush, FourteenBitsLeaveTheCrusherOff) {
  Bitcrush c;
  c.init(14, 0.5);
  EXPECT_EQ(c.levels, 0.0);
  EXPECT_EQ(c.generate(0.123), 0.123);
}

TEST(Bitcrush, HardStepsAtBrightTone) {
  Bitcrush c;
  c.init(4, 1.0);
  EXPECT_EQ(c.levels, 16.0);
  EXPECT_EQ(c.slew, 0.0);
  for (double x : {0.2, -0.37, 0.9, 0.01}) {
    const double y = c.generate(x);
    EXPECT_EQ(y * 16, std::round(y * 16)) << "sixteenths for " << x;
  }
  EXPECT_EQ(c.generate(0.2), 3.0 / 16) << "0.2 * 16 = 3.2 rounds to 3";
  // 0.025 * 16 = 0.4 would round to 0; the push of 0.444 / 4 takes it to the first level.
  EXPECT_EQ(c.generate(0.025), 1.0 / 16) << "small inputs are pushed to the first level";
  EXPECT_EQ(c.generate(0.02), 0.0) << "0.32 + 0.111 still rounds to 0";
}

TEST(Bitcrush, DarkToneGlidesOverEightSamples) {
  Bitcrush c;
  c.init(4, 0.0);  // s = round(10 - 2.4) = 8
  EXPECT_DOUBLE_EQ(c.slew, 1.0 / 8);
  std::vector<double> out;
  for (int i = 0; i < 10; ++i) out.push_back(c.generate(1.0 / 16));
  for (int i = 0; i < 7; ++i) {
    EXPECT_LT(out[i], 1.0 / 16) << i;
    EXPECT_LT(out[i], out[i + 1]) << i;
  }
  EXPECT_DOUBLE_EQ(out[7], 1.0 / 16) << "the level is reached at the eighth sample";
  EXPECT_DOUBLE_EQ(out[9], 1.0 / 16);
}

// Level of a sine at f Hz through a dual filter, in dB relative to the input.
double level_db(DualSVF f, double hz) {
  double in = 0, out = 0;
  for (int i = 0; i < 44100; ++i) {
    const double x = std::sin(2 * std::numbers::pi * hz * i / 44100);
    const double y = f.generate(x);
    if (i > 22050) {
      in += x * x;
      out += y * y;
    }
  }
  return 10 * std::log10(out / in);
}

TEST(DualSVF, DryWeightAndBypass) {
  DualSVF f;
  f.init(0, 0, 0, 44100);
  EXPECT_EQ(f.dry, 1.0);
  EXPECT_TRUE(f.bypassed());
  f.init(1, 0, 0, 44100);
  EXPECT_DOUBLE_EQ(f.dry, 0.2);
  EXPECT_FALSE(f.bypassed());
  f.init(0.01, 0.01, 0.0, 44100);
  EXPECT_TRUE(f.bypassed()) << "mixes adding up to 0.02 stay below the threshold";
}

TEST(DualSVF, LowMixKeepsLowsAndDropsHighs) {
  DualSVF f;
  f.filter1.init(300.0 / 44100, 0.5);
  f.filter2.init(300.0 / 44100, 0.5);
  f.init(1, 0, 0, 44100);
  const double low = level_db(f, 60), high = level_db(f, 8000);
  EXPECT_GT(low, 0.0) << "level matching lifts the filtered lows";
  EXPECT_NEAR(high, 20 * std::log10(0.2), 0.5) << "only the dry part (0.2) of the highs remains";
}

TEST(SVFilter, OutputsAreStatesAfterOneSample) {
  SVFilter s;
  s.init(0.25, 0.5);  // f = 2 sin(pi / 4)
  s.generate(1.0);
  const double f = 2 * std::sin(std::numbers::pi / 4);
  EXPECT_DOUBLE_EQ(s.high_out, 0.5);
  EXPECT_DOUBLE_EQ(s.band_out, f * 0.5);
  EXPECT_DOUBLE_EQ(s.low_out, f * f * 0.5);
  s.init(0.1, 5);
  EXPECT_EQ(s.q, 0.9) << "the width is limited to [0.01, 0.9]";
}

}  // namespace
}  // namespace korvel::vimble
