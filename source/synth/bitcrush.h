// Bit reduction with an optional slew between quantisation levels.
#pragma once

#include <algorithm>
#include <cmath>

#include "synth/utility.h"

namespace korvel::vimble {

// Quantises to 2^bits levels per unit; a dark tone at low bit depths glides between levels
// over up to 10 samples instead of stepping. Owned by one grain; noexcept, no allocation.
class Bitcrush {
 public:
  // bits above 13.9 switch the crusher off (and change nothing else); tone in [0, 1].
  void init(double bits, double tone) noexcept {
    if (bits > 13.9) {
      levels = 0.0;
      inv_levels = 0.0;
      return;
    }
    levels = std::exp2(std::max(0.0, bits));
    position = 0.0;
    last_level = 0.0;
    bias = 0.444 / std::max(1.0, bits);
    const double s =
        std::round(std::clamp((1.0 - std::clamp(tone, 0.0, 1.0)) * (10.0 - 0.6 * bits), 0.0, 10.0));
    slew = s == 0.0 ? 0.0 : 1.0 / s;
    inv_levels = 1.0 / levels;
  }

  bool active() const noexcept { return levels >= 1.0; }

  double generate(double x) noexcept {
    if (levels < 1.0) return x;
    double y = x * levels;
    // Small signals are pushed towards the first level.
    if (std::fabs(y) < 1.0) y += y < 0.0 ? -bias : bias;
    const double q = std::round(y);  // halves away from zero
    if (slew < 0.01) return q * inv_levels;
    double p = levels * position;
    double o;
    if (q > last_level) {
      p += slew * (q - last_level);
      o = smoothstep(p, last_level, q);
      if (p >= q) last_level = q;
    } else if (q < last_level) {
      p -= slew * (last_level - q);
      o = smoothstep(p, q, last_level);
      if (p <= q) last_level = q;
    } else {
      return q * inv_levels;
    }
    position = p * inv_levels;
    return o * inv_levels;
  }

  double levels = 0.0;      // 2^bits; below 1 the crusher is off
  double inv_levels = 0.0;  // 1 / levels
  double slew = 0.0;        // fraction of a level step covered per sample; < 0.01: hard steps
  double position = 0.0;    // the moving output, divided by levels
  double last_level = 0.0;  // the level the output last reached
  double bias = 0.0;        // push applied to inputs smaller than one step
};

}  // namespace korvel::vimble
