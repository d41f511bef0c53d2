// Tests of the engine's numeric helpers: smooth ramps, soft clipping, pitch conversions.
#include "synth/utility.h"

#include <gtest/gtest.h>

#include <cmath>

namespace korvel::vimble {
namespace {

TEST(Utility, SmoothstepRampsFromLowToHigh) {
  struct Case { double x, low, high, want; };
  const Case cases[] = {
      {0.0, 0.0, 1.0, 0.0},   {1.0, 0.0, 1.0, 1.0},  {0.5, 0.0, 1.0, 0.5},
      {-3.0, 0.0, 1.0, 0.0},  {3.0, 0.0, 1.0, 1.0},  {0.25, 0.0, 1.0, 0.15625},
      {0.95, 0.8, 1.0, 0.96875}, {0.9, 0.8, 1.0, 0.9}, {-0.9, -1.0, -0.8, -0.9},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(smoothstep(c.x, c.low, c.high), c.want, 1e-12) << c.x << " in " << c.low << ".." << c.high;
}

TEST(Utility, ClippingIsContinuousAndSaturates) {
  struct Case { double x, want; };
  const Case cases[] = {{0.5, 0.5}, {0.9, 0.9}, {-0.9, -0.9}, {0.95, 0.96875},
                        {-0.95, -0.96875}, {-1.2, -1.0}, {1.0, 1.0}, {7.0, 1.0}, {0.0, 0.0}};
  for (const auto& c : cases) EXPECT_NEAR(clipping(c.x), c.want, 1e-12) << c.x;
  // No jump where the knee starts, and monotonic through it.
  EXPECT_NEAR(clipping(0.9 + 1e-9), 0.9, 1e-6);
  EXPECT_NEAR(clipping(-0.9 - 1e-9), -0.9, 1e-6);
  double last = -2;
  for (double x = -1.5; x <= 1.5; x += 0.001) {
    EXPECT_GE(clipping(x), last - 1e-12) << x;
    last = clipping(x);
  }
}

TEST(Utility, PitchValuesToRatios) {
  struct Case { double value, modulation, note, want; };
  const Case cases[] = {
      {1.0, 0, 0, 1.0},          // unchanged pitch
      {13.0, 0, 0, 2.0},         // +12 semitones
      {37.0, 0, 0, 8.0},         // three octaves
      {0.5, 0, 0, 0.5},          // a ratio below 1, rounded to whole semitones
      {-13.0, 0, 0, -2.0},       // reversed
      {0.01, 0, 0, 0.01},        // linear region
      {0.01, 0.2, 0, 0.06},      // linear region, 0.25 per unit of modulation
      {0.01, 0, 12, 0.13},       // linear region, 0.01 per semitone of note
      {1.0, 0, 12, 2.0},         // a held note an octave up
      {1.0, 1.0 / 3.0, 0, 2.0},  // modulation of 1/3 adds 12 semitones
      {1.0, 5.0, 0, std::exp2(5.0)},  // limited to 60 semitones
  };
  for (const auto& c : cases)
    EXPECT_NEAR(pitch_value_to_ratio(c.value, c.modulation, c.note), c.want, 1e-9)
        << c.value << " m=" << c.modulation << " note=" << c.note;
  EXPECT_DOUBLE_EQ(pitch_value_to_semitones(0.5), -12.0);
  EXPECT_DOUBLE_EQ(pitch_value_to_semitones(0.7), -6.0);
  EXPECT_NEAR(glissando_factor(12.0, 0.0), 2.0, 1e-12);
  EXPECT_NEAR(glissando_factor(0.0, 1.0), 2.0, 1e-12);
}

}  // namespace
}  // namespace korvel::vimble
