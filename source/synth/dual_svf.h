// Two state-variable filters in parallel, mixed low/band/high with automatic level matching.
#pragma once

#include <cmath>

#include "synth/amplitude.h"
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
    in_power.init(fs, 10.0);
    out_power.init(fs, 10.0);
  }

  // The filter only runs when its dry weight is below this.
  static constexpr double BYPASS_DRY = 0.98;
  bool bypassed() const noexcept { return !(dry < BYPASS_DRY); }

  double generate(double x) noexcept {
    filter1.generate(x);
    filter2.generate(x);
    const double pin = in_power.generate(x);
    const double pout = out_power.generate(filter1.low_out + filter1.band_out + filter1.high_out +
                                           filter2.low_out + filter2.band_out + filter2.high_out);
    const double r = pout != 0.0 ? pin / pout : pin;
    const double g = (2.0 - (low_mix + mid_mix + high_mix) / 3.0) * std::sqrt(r);
    const double low = filter1.low_out + filter2.low_out;
    const double band = filter1.band_out + filter2.band_out;
    const double high = filter1.high_out + filter2.high_out;
    // The outputs are kept level-matched (for display); the result applies g once.
    filter1.low_out *= g;
    filter1.band_out *= g;
    filter1.high_out *= g;
    filter2.low_out *= g;
    filter2.band_out *= g;
    filter2.high_out *= g;
    return dry * x + low_mix * low * g + mid_mix * band * g + high_mix * high * g;
  }

  SVFilter filter1;
  SVFilter filter2;
  Amplitude in_power;
  Amplitude out_power;
  double low_mix = 0.0;
  double mid_mix = 0.0;
  double high_mix = 0.0;
  double dry = 1.0;  // weight of the unfiltered input
};

}  // namespace korvel::vimble
