// The engine's shared stereo delay line: a ring that grains write echoes into and the render
// loop reads (and clears) step by step.
#pragma once

#include <cstdint>
#include <vector>

#include "synth/amplitude.h"

namespace korvel::vimble {

// Values are interleaved left/right frames: `size` values of ring followed by GUARD values.
// Writes into the ring's first two frames are mirrored into the first four guard values, so
// that a 4-frame read starting at the ring's last frame sees the ring's start.
//
// resize: any thread while the audio thread does not render (allocates).
// output and the grain sends: audio thread; noexcept, no allocation.
class DelayBuffer {
 public:
  static constexpr uint32_t GUARD = 6;

  // The ring holds frames rounded up to a whole multiple of unit frames; new values are 0,
  // kept values unchanged. A read position left outside the ring goes back to 0.
  void resize(uint32_t frames, uint32_t unit);

  // Adds the next count frames into left/right through the limiter and the soft clipper and
  // clears them; wraps at the ring's end. Nothing happens while the ring is empty.
  void output(float* left, float* right, uint32_t count) noexcept;

  // Clears the ring, the guard and the limiter; the read position goes to 0.
  void clear() noexcept;

  uint32_t pos = 0;   // index of the next frame to output, in values (two per frame)
  uint32_t size = 0;  // ring length in values
  std::vector<double> data;
  Amplitude limiter;
};

}  // namespace korvel::vimble
