// Power follower: a one-pole low-pass of the squared input, used for level matching and limiting.
#pragma once

#include <cmath>
#include <numbers>

namespace korvel::vimble {

// level' = pole * level + gain_in * x^2, with the pole placed for a corner frequency fc.
// Any thread that owns the object; noexcept, no allocation.
class Amplitude {
 public:
  explicit Amplitude(double fs = 44100.0, double fc = 10.0) noexcept { init(fs, fc); }

  // Sets the coefficients for corner frequency fc (Hz) at fs frames per second; level 0.
  void init(double fs, double fc) noexcept {
    coef = 2.0 - std::cos(2.0 * std::numbers::pi * fc / fs);
    pole = coef - std::sqrt(coef * coef - 1.0);
    gain_in = 1.0 - pole;
    level = 0.0;
  }

  double generate(double x) noexcept {
    level = pole * level + gain_in * (x * x);
    return level;
  }

  // Snaps a small non-zero level to 0; reports whether it did.
  bool check_zero(double threshold) noexcept {
    if (level != 0.0 && level < threshold) {
      level = 0.0;
      return true;
    }
    return false;
  }

  double coef = 0.0;
  double gain_in = 0.0;
  double pole = 0.0;
  double level = 0.0;
};

}  // namespace korvel::vimble
