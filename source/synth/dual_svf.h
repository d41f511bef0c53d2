// Two state-variable filters in parallel, mixed low/band/high with automatic level matching.
#pragma once

#include <cmath>

#include "synth/amplitude.h"
#include "synth/inverse_sqrt.h"
#include "synth/sv_filter.h"

namespace korvel::vimble {

// Owned by one grain channel; noexcept, no allocation.
class DualSVF {
 public:
  // Mixes in [0, 1] (a controller may push them beyond); fs the engine's frame rate.
  void init(double low, double mid, double high, double fs) noexcept {
    low_mix = low;
    mid_mix = mid;
    high_mix = high;
    dry = std::fmax(0.0, 1.0 - 0.8 * (low + mid + high));
    wet_gain = 2.0 - (low + mid + high) / 3.0;
    in_power.init(fs, 10.0);
    out_power.init(fs, 10.0);
  }

  // The filter only runs when its dry weight is below this.
  static constexpr double BYPASS_DRY = 0.98;
  bool bypassed() const noexcept { return !(dry < BYPASS_DRY); }

  double generate(double x) noexcept {
    filter1.generate(x);
    filter2.generate(x);
    const double low = filter1.low_out + filter2.low_out;
    const double band = filter1.band_out + filter2.band_out;
    const double high = filter1.high_out + filter2.high_out;
    const double pin = in_power.generate(x);
    // The six outputs summed pairwise (a shorter chain of additions than one after the other).
    const double pout = out_power.generate((low + band) + high);
    const double g = wet_gain * root_of_ratio(pin, pout);
    // The outputs are kept level-matched (for display); the result applies g once.
    filter1.low_out *= g;
    filter1.band_out *= g;
    filter1.high_out *= g;
    filter2.low_out *= g;
    filter2.band_out *= g;
    filter2.high_out *= g;
    return dry * x + (low_mix * low + mid_mix * band + high_mix * high) * g;
  }

  // The level matching sqrt(pin / pout) (sqrt(pin) while pout is 0), as pin / sqrt(pin pout):
  // one reciprocal square root instead of a division and a square root.
  static double root_of_ratio(double pin, double pout) noexcept {
    const double product = pin * pout;
    if (inverse_sqrt_applies(product)) return pin * inverse_sqrt(product);
    return std::sqrt(pout != 0.0 ? pin / pout : pin);
  }

  SVFilter filter1;
  SVFilter filter2;
  Amplitude in_power;
  Amplitude out_power;
  double low_mix = 0.0;
  double mid_mix = 0.0;
  double high_mix = 0.0;
  double dry = 1.0;  // weight of the unfiltered input
  double wet_gain = 2.0;  // 2 - (low + mid + high) / 3: the mixes' share of the level matching
};

}  // namespace korvel::vimble
