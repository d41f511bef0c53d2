// State-variable filter (Chamberlin form) with low, band and high outputs.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvel::vimble {

// Owned by one grain channel; noexcept, no allocation.
class SVFilter {
 public:
  // fc: corner frequency divided by the frame rate; width: damping, limited to [0.01, 0.9].
  void init(double fc, double width) noexcept {
    f = 2.0 * std::sin(std::numbers::pi * fc);
    q = std::clamp(width, 0.01, 0.9);
    band = low = 0.0;
    low_out = band_out = high_out = 0.0;
  }

  // The input is scaled by q, so narrower settings are also quieter before level matching.
  void generate(double x) noexcept {
    const double high = q * x - low - q * band;
    band = f * high + band;
    low = f * band + low;
    low_out = low;
    band_out = band;
    high_out = high;
  }

  double f = 0.0;
  double q = 0.01;
  double band = 0.0;
  double low = 0.0;
  double low_out = 0.0;
  double band_out = 0.0;
  double high_out = 0.0;
};

}  // namespace korvel::vimble
