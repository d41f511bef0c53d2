// A grain's send into the engine's shared delay line, with feedback of what it reads there.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "synth/amplitude.h"
#include "synth/delay_buffer.h"
#include "synth/inverse_sqrt.h"

namespace korvel::vimble {

// Owned by one grain, set at its start; audio thread, noexcept, no allocation.
class Delay {
 public:
  // frames: write distance; feedback and send are limited to [-0.95, 0.95]; a send below 0.03
  // in magnitude is off. The limiter keeps the level left by the record's previous grain.
  void init(DelayBuffer* line, double frames, double feedback_amount, double send_amount) noexcept {
    buffer = line;
    if (!buffer || buffer->size == 0) {
      send = feedback = 0.0;
      return;
    }
    offset = std::clamp(2.0 * frames, 1.0, static_cast<double>(buffer->size));
    if (std::isnan(offset)) offset = 1.0;
    feedback = std::clamp(feedback_amount, -0.95, 0.95);
    send = std::clamp(send_amount, -0.95, 0.95);
    if (offset <= 0.0 || !(std::fabs(send) >= 0.03)) send = 0.0;
  }

  bool active() const noexcept { return send != 0.0; }

  // One grain sample: left/right after the effects, their gains, and i the sample's index in
  // the render loop's 8-frame step. Re-writes what it reads one frame ahead (recirculation),
  // scaled by the grain's gains, `offset` values of frames later.
  void generate(double left, double gain_left, double right, double gain_right,
                uint32_t i) noexcept {
    DelayBuffer& line = *buffer;
    const uint32_t size = line.size;
    double* data = line.data.data();
    uint32_t r = 2 * i + line.pos;
    if (r >= size) r -= size;
    // The frame after r: what the line outputs one frame later (the guard covers r + 3).
    const double wl = feedback * (left + data[r + 2]) * gain_left;
    const double wr = feedback * (right + data[r + 3]) * gain_right;
    const double p = limiter.generate(1.2 * (wl + wr));
    const double lim = p > 1.0 ? limit(p) : 1.0;
    // offset counts values and is doubled again here: an echo lands 2 x frames later.
    uint64_t w = 2 * static_cast<uint64_t>(i + offset) + line.pos;
    if (w >= size) w %= size;
    const double al = send * lim * wl;
    const double ar = send * lim * wr;
    data[w] += al;
    data[w + 1] += ar;
    if (w <= 3) {
      data[w + size] += al;
      data[w + size + 1] += ar;
    }
  }

  // 1/sqrt(p) for a level p > 1 (0 for an infinite one).
  static double limit(double p) noexcept { return p <= DBL_MAX ? inverse_sqrt(p) : 0.0; }

  double offset = 1.0;  // write distance, in values
  double feedback = 0.0;
  double send = 0.0;  // 0 = off
  DelayBuffer* buffer = nullptr;
  Amplitude limiter;
};

}  // namespace korvel::vimble
