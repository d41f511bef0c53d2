// The engine's shared stereo delay line.
#include "synth/delay_buffer.h"

#include <algorithm>
#include <cmath>

#include "synth/utility.h"

namespace korvel::vimble {

void DelayBuffer::resize(uint32_t frames, uint32_t unit) {
  if (unit == 0) unit = 1;
  const uint64_t n = (static_cast<uint64_t>(frames) + unit - 1) / unit * unit;
  data.resize(2 * n + GUARD, 0.0);
  size = static_cast<uint32_t>(2 * n);
  // The guard mirrors the old ring's start; it is stale now.
  std::fill(data.begin() + size, data.end(), 0.0);
  if (pos >= size) pos = 0;
}

void DelayBuffer::output(float* left, float* right, uint32_t count) noexcept {
  if (size == 0) return;
  for (uint32_t i = 0; i < count; ++i) {
    const double a = data[pos];
    const double b = data[pos + 1];
    data[pos] = 0.0;
    data[pos + 1] = 0.0;
    const double p = limiter.generate(a + b);
    const double gain = p > 1.0 ? 1.0 / std::sqrt(p) : 1.0;
    left[i] += static_cast<float>(clipping(a * gain));
    right[i] += static_cast<float>(clipping(b * gain));
    pos += 2;
  }
  if (pos >= size) {
    limiter.check_zero(0.0001);
    std::fill(data.begin() + size, data.end(), 0.0);
    pos = 0;
  }
}

void DelayBuffer::clear() noexcept {
  std::fill(data.begin(), data.end(), 0.0);
  limiter.level = 0.0;
  pos = 0;
}

}  // namespace korvel::vimble
