// A grain's distortion stage: clip or fold boost, bit reduction, tone low-pass.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

#include "synth/bitcrush.h"

namespace korvel::vimble {

// Owned by one grain, set at its start; noexcept, no allocation.
class Distortion {
 public:
  // Tone t in [0, 1]: t >= 0.5 bypasses the low-pass, 0 is the darkest setting.
  void init_lowpass(double t) noexcept {
    tone = std::clamp(t + 0.5, 0.5, 1.0);
    tone_left = 0.0;
    tone_right = 0.0;
  }

  // The boost of one sample: k < 0 folds with a sine, k > 0 clips softly at +-1.
  static double shape(double k, double x) noexcept {
    if (k < 0.0) return std::sin(k * x * std::numbers::pi / 2.0);
    const double a = std::fabs(k * x);
    if (a <= 0.9) return k * x;
    const double y = a < 1.0 ? knee(a) : 1.0;
    return x < 0.0 ? -y : y;
  }

  // The clip's knee, smoothstep(a, 0.8, 1) for 0.9 < a < 1, with the division by the knee's
  // width done as a multiplication by its inverse.
  static constexpr double KNEE_LOW = 0.8;
  static constexpr double KNEE_WIDTH = 1.0 - KNEE_LOW;
  static constexpr double KNEE_SCALE = 1.0 / KNEE_WIDTH;
  static double knee(double a) noexcept {
    const double u = (a - KNEE_LOW) * KNEE_SCALE;
    return KNEE_LOW + KNEE_WIDTH * u * u * (3.0 - 2.0 * u);
  }

  void generate(double& left, double& right) noexcept {
    if (clip != 0.0) {
      const double in_left = left;
      left = shape(clip, left);
      right = right == in_left ? left : shape(clip, right);
    }
    if (crush_left.levels != 0.0) {
      left = crush_left.generate(left);
      right = crush_right.generate(right);
    }
    if (tone < 1.0) {
      const double in_right = right;
      left = tone * left + (1.0 - tone) * tone_left;
      tone_left = left;
      right = left == in_right ? left : tone * right + (1.0 - tone) * tone_right;
      tone_right = right;
    }
  }

  double clip = 0.0;  // amount k; 0 = off
  Bitcrush crush_left;
  Bitcrush crush_right;
  double tone = 1.0;  // low-pass weight g; 1 = bypassed
  double tone_left = 0.0;
  double tone_right = 0.0;
};

}  // namespace korvel::vimble
