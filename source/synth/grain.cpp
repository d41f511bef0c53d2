// Grains: the start of a grain, where every parameter is read once and its course is fixed.
#include "synth/grain.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "synth/utility.h"

namespace korvel::vimble {

namespace {

constexpr double PI = std::numbers::pi;

// Wraps p into [start, end]: below 0 it counts from the end; outside it is taken modulo the
// window. A window without width (or a value that is not finite) gives start.
double wrap_into(double p, double start, double end) noexcept {
  if (p < 0.0) p += end;
  if (p < start || p > end) {
    p = std::fmod(p - start, end - start);
    p += p < 0.0 ? end : start;
  }
  return std::isfinite(p) ? p : start;
}

}  // namespace

void start_grain(Grain& g, const GrainInputs& in, const SoundView& sound,
                 DelayBuffer* delay_line) noexcept {
  const auto& v = in.v;
  const auto& m = in.m;
  const double fr = in.framerate;
  g.next = nullptr;
  g.count = 0;
  g.view = sound;

  // Window within the sound; a selection narrower than 32 frames starts at frame 0.
  int32_t start = static_cast<int32_t>(v[0]);
  int32_t end = std::min(static_cast<int32_t>(v[1]), in.sel_end);
  if (end - 32 < start) start = 0;

  // Start position: only the modulation of "sound.play_position" moves it off the stream.
  const double offset = 0.5 * (m[3] * m[3] * m[3]) * (end - start);
  const double stream_frame = in.stream_pos > 0.0 ? std::trunc(in.stream_pos) : 0.0;
  g.pos = wrap_into(stream_frame + offset, start, end);
  g.wrap_frames = sound.frames;

  // Length in samples; below 100 ms a positive modulation adds 5 ms on top.
  {
    const double lv = v[5], lm = m[5];
    double d;
    if (lm < 0.0)
      d = 1.5 * lm * lv;
    else if (lv < 100.0)
      d = lm * (9.0 * lv + 100.0) + 5.0;
    else
      d = (15.0 - 1.5 * lm) * lm * lv;
    double n = (lv + d) * fr / 1000.0;
    if (n > 10.0 * fr) n = 10.0 * fr;
    if (!(n >= 32.0)) n = 32.0;
    g.length = static_cast<int32_t>(n);
  }

  // Pitch and glissando.
  const double ratio = pitch_value_to_ratio(v[7], m[7], in.note_semitones);
  g.inc = sound.samplerate * ratio / fr;
  const double gliss = glissando_factor(v[8], m[8]);
  g.inc_step = (gliss * g.inc - g.inc) / g.length;
  if (!std::isfinite(g.inc) || !std::isfinite(g.inc_step)) g.inc = g.inc_step = 0.0;

  // Envelope: a raised-cosine attack from pi down to 0, flat, a raised-cosine decay to pi.
  double attack = g.length * (v[9] + 0.5 * m[9]);
  if (attack > g.length - 16) attack = g.length - 16;
  if (!(attack >= 16.0)) attack = 16.0;
  g.attack_end = static_cast<int32_t>(attack);
  g.env_phase = PI;
  g.env_step = -PI / g.attack_end;
  double decay = g.length - (v[10] + 0.5 * m[10]) * g.length;
  if (!(decay >= g.attack_end)) decay = g.attack_end;
  if (decay > g.length - 16) decay = g.length - 16;
  g.decay_start = static_cast<int32_t>(decay);
  g.env_cos = -1.0;
  g.env_sin = 0.0;
  g.rot_cos = std::cos(g.env_step);
  g.rot_sin = std::sin(g.env_step);
  g.decay_step = PI / (g.length - g.decay_start);
  g.decay_cos = std::cos(g.decay_step);
  g.decay_sin = std::sin(g.decay_step);

  // Clip or fold amount and its level compensation.
  double k = 0.0, compensation_x = 1.0;
  {
    const double c = std::clamp(v[13] + 30.0 * m[13], -29.0, 29.0);
    if (std::fabs(c) > 0.05) {
      k = c > 0.0 ? c + 1.0 : c - 1.0;
      compensation_x = std::clamp(1.0 - 0.5 * std::fabs(c), 0.666, 1.0);
    }
  }
  g.distortion.clip = k;

  // Amplitude, density compensation and panning (p = 0 full left, 1 full right).
  {
    double p = 0.5 * (v[12] + m[12]) + 0.5;
    if (p < 0.0) p += 1.0;
    if (p < 0.0 || p > 1.0) {
      p = std::fmod(p, 1.0);
      if (p < 0.0) p += 1.0;
    }
    if (!std::isfinite(p)) p = 0.5;
    double a = v[11] + 0.25 * m[11] + 0.5 * v[11] * m[11];
    const double density = in.density, c = in.compensation;
    const double t = (c > 1.0 && density > 1.0) ? c * c * c : c;
    const double comp = 1.0 / std::sqrt(std::max(1.0, density * t));
    a *= comp;
    const double highest = std::min(3.0, 3.0 * v[11]);
    if (a > highest) a = highest;
    if (!(a >= 1e-5)) a = 1e-5;
    g.gain_left = compensation_x * a * std::cos(p * PI / 2.0);
    g.gain_right = compensation_x * a * std::sin(p * PI / 2.0);

    // Delay send, scaled by the same density compensation.
    const double time = (m[23] > 0.0 && v[23] < 1000.0) ? v[23] + m[23] * 1000.0 : v[23] + m[23] * v[23];
    const double frames = time * fr / 1000.0;
    const double feedback = v[24] + m[24];
    g.delay.init(delay_line, frames, feedback, comp * feedback);
  }

  // Tone (it borrows the controllers of "dist.bitcrush") and bit depth.
  const double tone = std::clamp(v[15] / 100.0 + 0.7 * m[14], 0.0, 1.0);
  g.distortion.init_lowpass(tone);
  double bits = std::clamp(v[14] - 15.0 * m[14], 0.0, 14.0);
  if (k != 0.0) bits += std::log(0.2 * std::fabs(k));
  g.distortion.crush_left.init(bits, tone);
  g.distortion.crush_right.init(bits, tone);

  // Filters: the low-mix controllers move all three mixes; without any mix the filters keep
  // their settings and are bypassed.
  double lo = v[18], mid = v[19], hi = v[20];
  if (m[18] != 0.0 || lo + mid + hi != 0.0) {
    lo += m[18];
    mid += m[18];
    hi += m[18];
    const double f1 = v[16] * (1.0 + m[16]);
    const double f2 = v[21] + m[16] * f1;
    const double q1 = v[17] + m[16];
    const double q2 = v[22] + m[16];
    for (DualSVF* f : {&g.filter_left, &g.filter_right}) {
      f->filter1.init(f1 / fr, q1);
      f->filter2.init(f2 / fr, q2);
    }
  }
  g.filter_left.init(lo, mid, hi, fr);
  g.filter_right.init(lo, mid, hi, fr);
}

double grain_envelope(Grain& g) noexcept {
  const int32_t count = g.count;
  if (count < g.attack_end || count > g.decay_start) {
    g.env_phase += g.env_step;
    const double c = g.env_cos * g.rot_cos - g.env_sin * g.rot_sin;
    const double s = g.env_sin * g.rot_cos + g.env_cos * g.rot_sin;
    g.env_cos = c;
    g.env_sin = s;
  } else if (count == g.decay_start) {
    g.env_step = g.decay_step;
    g.env_phase = g.decay_step;
    g.env_cos = g.rot_cos = g.decay_cos;
    g.env_sin = g.rot_sin = g.decay_sin;
  } else {
    return 1.0;
  }
  if (g.env_phase <= 0.0) {
    g.env_phase = 0.0;
    return 1.0;
  }
  if (g.env_phase >= PI) {
    g.env_phase = PI;
    return 0.0;
  }
  return 0.5 * g.env_cos + 0.5;
}

}  // namespace korvel::vimble
