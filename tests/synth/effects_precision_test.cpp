// The effect stages that replace divisions and square roots by cheaper forms stay within 1e-6
// (relative; 1e-7 absolute near zero) of their formulas evaluated directly in double precision.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "synth/delay.h"
#include "synth/distortion.h"
#include "synth/dual_svf.h"
#include "synth/inverse_sqrt.h"
#include "synth/utility.h"

namespace korvel::vimble {
namespace {

constexpr double RELATIVE = 1e-6;
constexpr double ABSOLUTE = 1e-7;

::testing::AssertionResult close_to_formula(double value, double formula) {
  if (std::fabs(value - formula) <= std::max(RELATIVE * std::fabs(formula), ABSOLUTE))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << value << " against the formula's " << formula;
}

// Positive doubles over the whole normal range: every power of two with a few mantissas.
std::vector<double> sweep_of_magnitudes() {
  std::vector<double> xs;
  uint64_t noise = 12345;
  for (int e = -1020; e <= 1020; e += 3) {
    for (int k = 0; k < 8; ++k) {
      noise = noise * 6364136223846793005u + 1442695040888963407u;
      const double mantissa = 1.0 + static_cast<double>(noise >> 11) / 9007199254740992.0;
      xs.push_back(std::ldexp(mantissa, e));
    }
  }
  xs.push_back(DBL_MIN);
  xs.push_back(DBL_MAX);
  xs.push_back(1.0);
  return xs;
}

TEST(InverseSqrt, MatchesTheDivisionOverTheNormalRange) {
  double worst = 0.0;
  for (double x : sweep_of_magnitudes()) {
    ASSERT_TRUE(inverse_sqrt_applies(x)) << x;
    const double exact = 1.0 / std::sqrt(x);
    worst = std::max(worst, std::fabs(inverse_sqrt(x) - exact) / exact);
  }
  EXPECT_LT(worst, 4e-11) << "three Newton steps from a guess within 3.5 %";
  for (double x : {0.0, -1.0, DBL_MIN / 2, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()})
    EXPECT_FALSE(inverse_sqrt_applies(x)) << x << " takes the exact form";
}

TEST(DelayLimiter, GainIsOneOverTheRootOfTheLevel) {
  for (double p : sweep_of_magnitudes()) {
    if (p <= 1.0) continue;
    EXPECT_TRUE(close_to_formula(Delay::limit(p), 1.0 / std::sqrt(p))) << "level " << p;
  }
  EXPECT_EQ(Delay::limit(std::numeric_limits<double>::infinity()), 0.0);
}

TEST(Distortion, ClipKneeFollowsTheSmoothstep) {
  for (double k : {1.06, 2.0, 3.0, 17.5, 30.0}) {
    for (int n = 0; n <= 2000; ++n) {
      const double x = -1.5 / k + 3.0 / k * n / 2000;  // k x over [-1.5, 1.5]
      const double a = std::fabs(k * x);
      double formula = a <= 0.9 ? k * x : a < 1.0 ? smoothstep(a, 0.8, 1.0) : 1.0;
      if (a > 0.9 && x < 0.0) formula = -formula;
      EXPECT_TRUE(close_to_formula(Distortion::shape(k, x), formula)) << "k " << k << " x " << x;
    }
  }
}

// The dual filter's level matching and mix, written out as the formula: both filters on x,
// followers of the input's and the summed outputs' power, g = (2 - mixes/3) sqrt(pin/pout)
// (sqrt(pin) while pout is 0), result dry x + mixes of the summed outputs times g.
struct DualFilterFormula {
  double f1, q1, f2, q2, low_mix, mid_mix, high_mix, dry, pole, gain_in;
  double band1 = 0, low1 = 0, band2 = 0, low2 = 0, pin = 0, pout = 0;

  double generate(double x) {
    const double high1 = q1 * x - low1 - q1 * band1;
    band1 = f1 * high1 + band1;
    low1 = f1 * band1 + low1;
    const double high2 = q2 * x - low2 - q2 * band2;
    band2 = f2 * high2 + band2;
    low2 = f2 * band2 + low2;
    pin = pole * pin + gain_in * x * x;
    const double sum = low1 + band1 + high1 + low2 + band2 + high2;
    pout = pole * pout + gain_in * sum * sum;
    const double r = pout != 0.0 ? pin / pout : pin;
    const double g = (2.0 - (low_mix + mid_mix + high_mix) / 3.0) * std::sqrt(r);
    return dry * x + low_mix * (low1 + low2) * g + mid_mix * (band1 + band2) * g +
           high_mix * (high1 + high2) * g;
  }
};

TEST(DualSVF, LevelMatchingFollowsTheFormula) {
  struct Setting {
    double f1, q1, f2, q2, low, mid, high;
  };
  const Setting settings[] = {{1000, 0.5, 3000, 0.2, 0.3, 0.3, 0.3},
                              {200, 0.01, 8000, 0.9, 1.0, 0.0, 0.0},
                              {12000, 0.05, 50, 0.01, 0.0, 0.0, 1.0},
                              {440, 0.9, 440, 0.9, 0.1, 1.0, 0.4},
                              {5000, 0.3, 700, 0.6, 1.5, 1.5, 1.5}};
  // Amplitudes from a loud input down to levels whose product leaves the normal range, a
  // silence and a restart, so that both forms of the level matching are taken.
  const double amplitudes[] = {3.0, 0.5, 1e-3, 1e-40, 1e-90, 1e-160, 0.0, 0.2};
  const double fs = 44100.0;
  int index = 0;
  for (const Setting& s : settings) {
    DualSVF filter;
    filter.filter1.init(s.f1 / fs, s.q1);
    filter.filter2.init(s.f2 / fs, s.q2);
    filter.init(s.low, s.mid, s.high, fs);
    DualFilterFormula formula{filter.filter1.f, filter.filter1.q,  filter.filter2.f,
                              filter.filter2.q, s.low,             s.mid,
                              s.high,           filter.dry,        filter.in_power.pole,
                              filter.in_power.gain_in};
    uint32_t noise = 1;
    int n = 0;
    for (double amplitude : amplitudes) {
      for (int i = 0; i < 3000; ++i, ++n) {
        noise = noise * 1664525u + 1013904223u;
        const double white = (noise >> 8) / double(1 << 24) - 0.5;
        const double x = amplitude * (0.7 * std::sin(0.031 * n) + 0.6 * white);
        const double expected = formula.generate(x);
        const double value = filter.generate(x);
        ASSERT_TRUE(close_to_formula(value, expected))
            << "setting " << index << " amplitude " << amplitude << " sample " << i;
      }
    }
    ++index;
  }
}

}  // namespace
}  // namespace korvel::vimble
