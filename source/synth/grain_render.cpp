// The per-sample rendering of grains, one grain after the other; the reference the vector
// renderer matches bit for bit.
#include "synth/grain_render.h"

#include <algorithm>
#include <cmath>

#include "synth/utility.h"

namespace korvel::vimble {

namespace {

// 4-point interpolation between frames n+1 and n+2 at fraction t. The coefficients are formed
// in single precision, the polynomial in double.
inline double interpolate(const float* s, int stride, double t) noexcept {
  const float x0 = s[0], x1 = s[stride], x2 = s[2 * stride], x3 = s[3 * stride];
  const float c1 = x2 - x0;
  const float c2 = x0 - 2.0f * x1 + x2;
  const float c3 = 3.0f * (x0 - x3) + 9.0f * (x2 - x1);
  const float c4 = 5.0f * (x3 - x0) + 15.0f * (x1 - x2);
  const float c5 = 2.0f * (x0 - x3) + 6.0f * (x2 - x1);
  return x1 + 0.5 * t * (c1 + t * (c2 + t * (c3 + t * (c4 + t * c5))));
}

template <bool Distorts, bool Filters, bool Gate>
void render_grain(Grain& g, const double* gate, float* left, float* right) noexcept {
  const int remaining = g.length - g.count;
  const int n = remaining < STEP_FRAMES ? remaining : STEP_FRAMES;
  const float* samples = g.view.samples;
  const int channels = g.view.channels;
  const bool stereo = channels >= 2;
  const double wrap = g.wrap_frames;
  double pos = g.pos;
  double inc = g.inc;
  const double inc_step = g.inc_step;
  const double gain_left = g.gain_left, gain_right = g.gain_right;
  const bool send = g.delay.active();
  for (int i = 0; i < n; ++i) {
    const int frame = static_cast<int>(pos);
    const double t = pos - frame;
    const float* s = samples + static_cast<ptrdiff_t>(frame) * channels;
    double l = interpolate(s, channels, t);
    double r = stereo ? interpolate(s + 1, channels, t) : l;

    pos += inc;
    inc += inc_step;
    if (pos < 0.0) pos += wrap;
    if (pos < 0.0 || pos > wrap) {
      pos = std::fmod(pos, wrap);
      if (pos < 0.0) pos += wrap;
    }

    if constexpr (Distorts) g.distortion.generate(l, r);
    if constexpr (Filters) {
      l = g.filter_left.generate(l);
      r = stereo ? g.filter_right.generate(r) : l;
    }
    if (!std::isfinite(l) || !std::isfinite(r)) {
      g.count = g.length;  // stopped: it adds nothing from here on
      g.pos = 0.0;
      return;
    }

    double e = grain_envelope(g);
    if constexpr (Gate) e *= gate[i];
    const double gl = gain_left * e;
    const double gr = gain_right * e;
    if (send) g.delay.generate(l, gl, r, gr, static_cast<uint32_t>(i));
    left[i] += static_cast<float>(clipping(gl * l));
    right[i] += static_cast<float>(clipping(gr * r));
    ++g.count;
  }
  g.pos = pos;
  g.inc = inc;
}

template <bool Gate>
void render_grain_dispatch(Grain& g, const double* gate, float* left, float* right) noexcept {
  const bool d = g.distorts(), f = g.filters();
  if (d && f)
    render_grain<true, true, Gate>(g, gate, left, right);
  else if (d)
    render_grain<true, false, Gate>(g, gate, left, right);
  else if (f)
    render_grain<false, true, Gate>(g, gate, left, right);
  else
    render_grain<false, false, Gate>(g, gate, left, right);
}

}  // namespace

void render_grain_scalar(Grain& g, const double* gate, float* left, float* right) noexcept {
  if (g.finished()) return;
  if (gate)
    render_grain_dispatch<true>(g, gate, left, right);
  else
    render_grain_dispatch<false>(g, gate, left, right);
}

void render_step_scalar(Grain* const* grains, size_t count, const double* gate, float* left,
                        float* right) noexcept {
  for (size_t k = 0; k < count; ++k) render_grain_scalar(*grains[k], gate, left, right);
}

bool cpu_has_avx2() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

bool cpu_has_avx512() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         cpu_has_avx2();
}

RenderStepFn best_render_step() noexcept {
  if (cpu_has_avx512()) return &render_step_avx512;
  return cpu_has_avx2() ? &render_step_avx2 : &render_step_scalar;
}

}  // namespace korvel::vimble
