// The vector renderer's kernel, written once for any lane count: grains side by side in the
// lanes of a SIMD register. Every operation mirrors the scalar reference (grain_render.cpp) in
// the same order and precision, so the output is the same bit for bit; choices that the scalar
// code makes per grain are made per lane with masks.
//
// Included by one source file per instruction set, after its `#pragma GCC target` and the
// definition of its lane operations S (see grain_render_avx2.cpp): everything here has internal
// linkage, so each file gets its own copy compiled for its own target.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "synth/grain_render.h"
#include "synth/inverse_sqrt.h"
#include "synth/utility.h"

namespace korvel::vimble {
namespace {

template <class S>
struct Lanes {
  using V = typename S::V;
  using M = typename S::M;
  using F = typename S::F;
  static constexpr int N = S::N;

  static V set1(double x) { return S::set1(x); }

  // One field of every lane's grain, built in registers (a wide load of narrow stores would
  // stall on store forwarding).
  template <class Field>
  static V gather(Grain* const* g, Field f) {
    if constexpr (N == 4)
      return S::set(f(*g[0]), f(*g[1]), f(*g[2]), f(*g[3]));
    else
      return S::set(f(*g[0]), f(*g[1]), f(*g[2]), f(*g[3]), f(*g[4]), f(*g[5]), f(*g[6]),
                    f(*g[7]));
  }

  // smoothstep(x, low, high) for low < high (lanes where that fails are masked by the caller).
  __attribute__((always_inline)) static V smoothstep(V x, V low, V high) {
    const V width = S::sub(high, low);
    const V u = S::div(S::sub(x, low), width);
    const V ramp =
        S::add(low, S::mul(S::mul(S::mul(width, u), u), S::sub(set1(3.0), S::mul(set1(2.0), u))));
    return S::pick(S::ge(x, high), high, S::pick(S::le(x, low), low, ramp));
  }

  __attribute__((always_inline)) static V clipping(V x) {
    if (!S::any(S::gt(S::absolute(x), set1(0.9)))) return x;  // the usual case
    const V upper = S::pick(S::ge(x, set1(1.0)), set1(1.0), smoothstep(x, set1(0.8), set1(1.0)));
    const V lower =
        S::pick(S::le(x, set1(-1.0)), set1(-1.0), smoothstep(x, set1(-1.0), set1(-0.8)));
    return S::pick(S::gt(x, set1(0.9)), upper, S::pick(S::lt(x, set1(-0.9)), lower, x));
  }

  // std::round: halves away from zero, keeping the sign of zero.
  __attribute__((always_inline)) static V round(V y) {
    const V t = S::trunc(y);
    const V away = S::add(t, S::bit_or(set1(1.0), S::bit_and(set1(-0.0), y)));
    return S::pick(S::ge(S::absolute(S::sub(y, t)), set1(0.5)), away, t);
  }

  // inverse_sqrt of inverse_sqrt.h, step by step the same operations.
  __attribute__((always_inline)) static V inverse_sqrt(V x) {
    const V half_x = S::mul(set1(0.5), x);
    V y = S::inverse_sqrt_guess(x);
#pragma GCC unroll 8
    for (int i = 0; i < INVERSE_SQRT_STEPS; ++i)
      y = S::mul(y, S::sub(set1(1.5), S::mul(S::mul(half_x, y), y)));
    return y;
  }
  __attribute__((always_inline)) static M inverse_sqrt_applies(V x) {
    return S::both(S::ge(x, set1(DBL_MIN)), S::le(x, set1(DBL_MAX)));
  }

  // The clip (k > 0) boost of Distortion::shape; folding grains never reach the lanes.
  __attribute__((always_inline)) static V clip_shape(V k, V x) {
    const V kx = S::mul(k, x);
    const V a = S::absolute(kx);
    const M linear = S::le(a, set1(0.9));
    if (S::all(linear)) return kx;
    // Distortion::knee.
    const V u = S::mul(S::sub(a, set1(Distortion::KNEE_LOW)), set1(Distortion::KNEE_SCALE));
    const V knee = S::add(set1(Distortion::KNEE_LOW),
                          S::mul(S::mul(S::mul(set1(Distortion::KNEE_WIDTH), u), u),
                                 S::sub(set1(3.0), S::mul(set1(2.0), u))));
    V y = S::pick(S::lt(a, set1(1.0)), knee, set1(1.0));
    y = S::pick(S::lt(x, S::zero()), S::negate(y), y);
    return S::pick(linear, kx, y);
  }

  struct Crush {
    V levels, inv, slew, bias;
    M on, hard;
    V position[2], last[2];
  };

  // Bitcrush::generate in three parts: the quantisation, the glide's state (the level last
  // reached and the moving position, carried from sample to sample), then the glide's output.
  struct CrushGlide {
    V x, q, last, np;
    M up, moving;
  };

  __attribute__((always_inline)) static V crush_quantise(const Crush& c, V x) {
    V y = S::mul(x, c.levels);
    const V push = S::pick(S::lt(y, S::zero()), S::negate(c.bias), c.bias);
    y = S::pick(S::lt(S::absolute(y), set1(1.0)), S::add(y, push), y);
    return round(y);
  }

  __attribute__((always_inline)) static void crush_state_step(Crush& c, int ch, CrushGlide& s) {
    const V q = s.q;
    const V last = c.last[ch];
    const V p = S::mul(c.levels, c.position[ch]);
    const M up = S::gt(q, last), down = S::lt(q, last);
    const M moving = S::unless(c.hard, S::both(c.on, S::either(up, down)));
    s.last = last;
    s.up = up;
    s.moving = moving;
    if (!S::any(moving)) return;
    const V pu = S::add(p, S::mul(c.slew, S::sub(q, last)));
    const V pd = S::sub(p, S::mul(c.slew, S::sub(last, q)));
    const V np = S::pick(up, pu, pd);
    s.np = np;
    const M reached = S::either(S::both(up, S::ge(pu, q)), S::both(down, S::le(pd, q)));
    c.last[ch] = S::pick(S::both(moving, reached), q, last);
    c.position[ch] = S::pick(moving, S::mul(np, c.inv), c.position[ch]);
  }

  __attribute__((always_inline)) static V crush_output(const Crush& c, const CrushGlide& s) {
    const V stepped = S::mul(s.q, c.inv);
    const M moving = s.moving;
    if (!S::any(moving)) return S::pick(c.on, stepped, s.x);
    const M up = s.up;
    const V q = s.q, last = s.last, np = s.np;
    // Rising: smoothstep(p, last, q); falling: smoothstep(p, q, last). Over one level the
    // ramp's width is 1 and the division drops out exactly. (The division, not a reciprocal
    // refined by Newton steps: its shorter latency matters more here than its throughput.)
    const V low = S::pick(up, last, q), high = S::pick(up, q, last);
    const V width = S::sub(high, low);
    const M wide = S::both(moving, S::neq(width, set1(1.0)));
    const V u = S::any(wide) ? S::div(S::sub(np, low), width) : S::sub(np, low);
    const V ramp =
        S::add(low, S::mul(S::mul(S::mul(width, u), u), S::sub(set1(3.0), S::mul(set1(2.0), u))));
    const V o = S::pick(S::ge(np, high), high, S::pick(S::le(np, low), low, ramp));
    const V result = S::pick(moving, S::mul(o, c.inv), stepped);
    return S::pick(c.on, result, s.x);
  }

  struct Filter {
    V f1, q1, f2, q2, pole, gain_in, low_mix, mid_mix, high_mix, dry, wet_gain;
    M on;
    V band1[2], low1[2], band2[2], low2[2], in_level[2], out_level[2];
  };

  // DualSVF::generate in two parts: the filters and the followers, which carry state from
  // sample to sample, then the level matching and the mix, which do not (so the processor can
  // overlap them over many samples).
  struct FilterOut {
    V low, band, high, pin, pout;
  };

  __attribute__((always_inline)) static FilterOut filter_state_step(Filter& f, int ch, V x) {
    const V h1 = S::sub(S::sub(S::mul(f.q1, x), f.low1[ch]), S::mul(f.q1, f.band1[ch]));
    const V b1 = S::add(S::mul(f.f1, h1), f.band1[ch]);
    const V l1 = S::add(S::mul(f.f1, b1), f.low1[ch]);
    const V h2 = S::sub(S::sub(S::mul(f.q2, x), f.low2[ch]), S::mul(f.q2, f.band2[ch]));
    const V b2 = S::add(S::mul(f.f2, h2), f.band2[ch]);
    const V l2 = S::add(S::mul(f.f2, b2), f.low2[ch]);
    f.band1[ch] = b1;
    f.low1[ch] = l1;
    f.band2[ch] = b2;
    f.low2[ch] = l2;
    FilterOut o;
    o.low = S::add(l1, l2);
    o.band = S::add(b1, b2);
    o.high = S::add(h1, h2);
    o.pin = S::add(S::mul(f.pole, f.in_level[ch]), S::mul(f.gain_in, S::mul(x, x)));
    const V sum = S::add(S::add(o.low, o.band), o.high);
    o.pout = S::add(S::mul(f.pole, f.out_level[ch]), S::mul(f.gain_in, S::mul(sum, sum)));
    f.in_level[ch] = o.pin;
    f.out_level[ch] = o.pout;
    return o;
  }

  __attribute__((always_inline)) static V filter_mix(const Filter& f, const FilterOut& o, V x) {
    // DualSVF::root_of_ratio.
    const V product = S::mul(o.pin, o.pout);
    const M fits = inverse_sqrt_applies(product);
    V root = S::mul(o.pin, inverse_sqrt(product));
    if (S::any(S::unless(fits, f.on)))
      root = S::pick(fits, root,
                     S::sqrt(S::pick(S::neq(o.pout, S::zero()), S::div(o.pin, o.pout), o.pin)));
    const V g = S::mul(f.wet_gain, root);
    const V wet = S::add(S::add(S::mul(f.low_mix, o.low), S::mul(f.mid_mix, o.band)),
                         S::mul(f.high_mix, o.high));
    const V result = S::add(S::mul(f.dry, x), S::mul(wet, g));
    return S::pick(f.on, result, x);
  }

  // The 4-point interpolation of the scalar renderer, per lane: coefficients in single
  // precision, the polynomial in double.
  __attribute__((always_inline)) static V interpolate(F x0, F x1, F x2, F x3, V t) {
    const F c1 = S::fsub(x2, x0);
    const F c2 = S::fadd(S::fsub(x0, S::fmul(S::fset1(2.0f), x1)), x2);
    const F c3 = S::fadd(S::fmul(S::fset1(3.0f), S::fsub(x0, x3)),
                         S::fmul(S::fset1(9.0f), S::fsub(x2, x1)));
    const F c4 = S::fadd(S::fmul(S::fset1(5.0f), S::fsub(x3, x0)),
                         S::fmul(S::fset1(15.0f), S::fsub(x1, x2)));
    const F c5 = S::fadd(S::fmul(S::fset1(2.0f), S::fsub(x0, x3)),
                         S::fmul(S::fset1(6.0f), S::fsub(x2, x1)));
    V poly = S::mul(t, S::widen(c5));
    poly = S::mul(t, S::add(S::widen(c4), poly));
    poly = S::mul(t, S::add(S::widen(c3), poly));
    poly = S::mul(t, S::add(S::widen(c2), poly));
    poly = S::add(S::widen(c1), poly);
    return S::add(S::widen(x1), S::mul(S::mul(set1(0.5), t), poly));
  }

  // Frames n..n+3 of one grain as (L0 R0 L1 R1) and (L2 R2 L3 R3); mono repeats L as R.
  __attribute__((always_inline)) static void load_frames(const float* s, int channels, __m128& lo,
                                                         __m128& hi) {
    if (channels == 2) {
      lo = _mm_loadu_ps(s);
      hi = _mm_loadu_ps(s + 4);
    } else if (channels == 1) {
      const __m128 v = _mm_loadu_ps(s);
      lo = _mm_unpacklo_ps(v, v);
      hi = _mm_unpackhi_ps(v, v);
    } else {
      const int c = channels;
      lo = _mm_setr_ps(s[0], s[1], s[c], s[c + 1]);
      hi = _mm_setr_ps(s[2 * c], s[2 * c + 1], s[3 * c], s[3 * c + 1]);
    }
  }

  template <bool Distorts, bool Filters, bool Gate>
  static void render(Grain* const* g, const double* gate, bool far_sends, float* left,
                     float* right) noexcept;
};

template <class S>
template <bool Distorts, bool Filters, bool Gate>
void Lanes<S>::render(Grain* const* g, const double* gate, bool far_sends, float* left,
                      float* right) noexcept {
  const float* base[N];
  int channels[N];
  bool shared_sound = true;  // every lane reads the same mono or stereo samples
  for (int j = 0; j < N; ++j) {
    base[j] = g[j]->view.samples;
    channels[j] = g[j]->view.channels;
    shared_sound = shared_sound && base[j] == base[0] && channels[j] == channels[0];
  }
  shared_sound = shared_sound && channels[0] <= 2;
  V pos = gather(g, [](const Grain& x) { return x.pos; });
  V inc = gather(g, [](const Grain& x) { return x.inc; });
  const V inc_step = gather(g, [](const Grain& x) { return x.inc_step; });
  const V wrap = gather(g, [](const Grain& x) { return static_cast<double>(x.wrap_frames); });
  V count = gather(g, [](const Grain& x) { return static_cast<double>(x.count); });
  const V length = gather(g, [](const Grain& x) { return static_cast<double>(x.length); });
  V phase = gather(g, [](const Grain& x) { return x.env_phase; });
  V step = gather(g, [](const Grain& x) { return x.env_step; });
  V ec = gather(g, [](const Grain& x) { return x.env_cos; });
  V es = gather(g, [](const Grain& x) { return x.env_sin; });
  V rc = gather(g, [](const Grain& x) { return x.rot_cos; });
  V rs = gather(g, [](const Grain& x) { return x.rot_sin; });
  const V gain_left = gather(g, [](const Grain& x) { return x.gain_left; });
  const V gain_right = gather(g, [](const Grain& x) { return x.gain_right; });

  V clip_k{}, tone{}, tone_rest{}, tone_state[2]{};
  M clip_on{}, tone_on{};
  Crush crush{};
  if constexpr (Distorts) {
    clip_k = gather(g, [](const Grain& x) { return x.distortion.clip; });
    clip_on = S::neq(clip_k, S::zero());
    crush.levels = gather(g, [](const Grain& x) { return x.distortion.crush_left.levels; });
    crush.inv = gather(g, [](const Grain& x) { return x.distortion.crush_left.inv_levels; });
    crush.slew = gather(g, [](const Grain& x) { return x.distortion.crush_left.slew; });
    crush.bias = gather(g, [](const Grain& x) { return x.distortion.crush_left.bias; });
    crush.on = S::neq(crush.levels, S::zero());
    crush.hard = S::lt(crush.slew, set1(0.01));
    crush.position[0] = gather(g, [](const Grain& x) { return x.distortion.crush_left.position; });
    crush.position[1] = gather(g, [](const Grain& x) { return x.distortion.crush_right.position; });
    crush.last[0] = gather(g, [](const Grain& x) { return x.distortion.crush_left.last_level; });
    crush.last[1] = gather(g, [](const Grain& x) { return x.distortion.crush_right.last_level; });
    tone = gather(g, [](const Grain& x) { return x.distortion.tone; });
    tone_rest = S::sub(set1(1.0), tone);
    tone_on = S::lt(tone, set1(1.0));
    tone_state[0] = gather(g, [](const Grain& x) { return x.distortion.tone_left; });
    tone_state[1] = gather(g, [](const Grain& x) { return x.distortion.tone_right; });
  }
  // Stages that no lane uses are left out of this step (their masks would keep the input).
  const bool clips = Distorts && S::any(clip_on);
  const bool crushes = Distorts && S::any(crush.on);
  const bool tones = Distorts && S::any(tone_on);
  Filter filter{};
  if constexpr (Filters) {
    filter.f1 = gather(g, [](const Grain& x) { return x.filter_left.filter1.f; });
    filter.q1 = gather(g, [](const Grain& x) { return x.filter_left.filter1.q; });
    filter.f2 = gather(g, [](const Grain& x) { return x.filter_left.filter2.f; });
    filter.q2 = gather(g, [](const Grain& x) { return x.filter_left.filter2.q; });
    filter.pole = gather(g, [](const Grain& x) { return x.filter_left.in_power.pole; });
    filter.gain_in = gather(g, [](const Grain& x) { return x.filter_left.in_power.gain_in; });
    filter.low_mix = gather(g, [](const Grain& x) { return x.filter_left.low_mix; });
    filter.mid_mix = gather(g, [](const Grain& x) { return x.filter_left.mid_mix; });
    filter.high_mix = gather(g, [](const Grain& x) { return x.filter_left.high_mix; });
    filter.dry = gather(g, [](const Grain& x) { return x.filter_left.dry; });
    filter.wet_gain = gather(g, [](const Grain& x) { return x.filter_left.wet_gain; });
    filter.on = S::lt(filter.dry, set1(DualSVF::BYPASS_DRY));
    // Mono grains filter R (equal to L) through the right filter, whose state equals the
    // left one's from the grain's start on: the result is the filtered L, as in the reference.
    for (int c = 0; c < 2; ++c) {
      auto side = [c](const Grain& x) -> const DualSVF& {
        return c == 0 || x.view.channels < 2 ? x.filter_left : x.filter_right;
      };
      filter.band1[c] = gather(g, [&](const Grain& x) { return side(x).filter1.band; });
      filter.low1[c] = gather(g, [&](const Grain& x) { return side(x).filter1.low; });
      filter.band2[c] = gather(g, [&](const Grain& x) { return side(x).filter2.band; });
      filter.low2[c] = gather(g, [&](const Grain& x) { return side(x).filter2.low; });
      filter.in_level[c] = gather(g, [&](const Grain& x) { return side(x).in_power.level; });
      filter.out_level[c] = gather(g, [&](const Grain& x) { return side(x).out_power.level; });
    }
  }

  // The envelope of this step: when every lane stays inside a ramp (no end of attack, start of
  // decay or clamp at the ends) or inside the flat part, the general rule reduces to one line.
  enum { GENERAL, RAMP, FLAT } envelope = GENERAL;
  bool all_live = true, any_send = false;
  {
    bool ramp = true, flat = true;
    for (int j = 0; j < N; ++j) {
      const Grain& x = *g[j];
      const int c = x.count;
      ramp = ramp && ((c + STEP_FRAMES < x.attack_end) ||
                      (c > x.decay_start && c + STEP_FRAMES < x.length));
      flat = flat && c >= x.attack_end && c + STEP_FRAMES <= x.decay_start;
      all_live = all_live && c + STEP_FRAMES <= x.length;
      any_send = any_send || x.delay.active();
    }
    envelope = ramp ? RAMP : flat ? FLAT : GENERAL;
  }
  // What only the general envelope reads.
  V attack_end{}, decay_start{}, dstep{}, dc{}, ds{};
  if (envelope == GENERAL) {
    attack_end = gather(g, [](const Grain& x) { return static_cast<double>(x.attack_end); });
    decay_start = gather(g, [](const Grain& x) { return static_cast<double>(x.decay_start); });
    dstep = gather(g, [](const Grain& x) { return x.decay_step; });
    dc = gather(g, [](const Grain& x) { return x.decay_cos; });
    ds = gather(g, [](const Grain& x) { return x.decay_sin; });
  }

  alignas(64) double sends[STEP_FRAMES][4][N];  // [sample][L, gl, R, gr][lane]
  // Sends whose writes cannot reach what this step reads (far_sends) are computed in the lanes
  // and only written afterwards, in the reference's order; the others run one by one.
  const bool lane_sends = any_send && far_sends;
  DelayBuffer* line = nullptr;
  V fb{}, send{}, lpole{}, lgain{}, llevel{};
  M send_on{};
  int send_bits[STEP_FRAMES] = {};
  if (lane_sends) {
    for (int j = 0; j < N && !line; ++j) line = g[j]->delay.active() ? g[j]->delay.buffer : nullptr;
    fb = gather(g, [](const Grain& x) { return x.delay.feedback; });
    send = gather(g, [](const Grain& x) { return x.delay.send; });
    send_on = S::neq(send, S::zero());
    lpole = gather(g, [](const Grain& x) { return x.delay.limiter.pole; });
    lgain = gather(g, [](const Grain& x) { return x.delay.limiter.gain_in; });
    llevel = gather(g, [](const Grain& x) { return x.delay.limiter.level; });
  }
  alignas(64) float out_left[STEP_FRAMES][N];
  alignas(64) float out_right[STEP_FRAMES][N];
  M bad = S::no_lanes();
  const V pi = set1(std::numbers::pi);
  const V zero = S::zero();

  // The step runs in passes over its samples: read, distortion, filter, then the rest. Each
  // sample's work is one long chain of dependent operations; a pass is short enough that the
  // processor overlaps the chains of neighbouring samples, tied only by the stages' states.
  // Every sample still sees the operations of the reference in its order.
  V lv[STEP_FRAMES], rv[STEP_FRAMES];
  for (int i = 0; i < STEP_FRAMES; ++i) {
    // Read: frame = pos truncated, t its fraction (pos is never negative here).
    const V whole = S::trunc(pos);
    const V t = S::sub(pos, whole);
    V l, r;
    if (S::GATHERS && shared_sound) {
      S::read_shared(base[0], channels[0], whole, t, l, r);
    } else {
      alignas(64) int32_t frame[N];
      S::store_int(whole, frame);
      __m128 lo[N], hi[N];
      for (int j = 0; j < N; ++j)
        load_frames(base[j] + static_cast<ptrdiff_t>(frame[j]) * channels[j], channels[j], lo[j],
                    hi[j]);
      F l0, r0, l1, r1, l2, r2, l3, r3;
      S::transpose(lo, l0, r0, l1, r1);
      S::transpose(hi, l2, r2, l3, r3);
      l = interpolate(l0, l1, l2, l3, t);
      r = interpolate(r0, r1, r2, r3, t);
    }

    // Advance and wrap.
    pos = S::add(pos, inc);
    inc = S::add(inc, inc_step);
    pos = S::pick(S::lt(pos, zero), S::add(pos, wrap), pos);
    const M outside = S::either(S::lt(pos, zero), S::gt(pos, wrap));
    if (S::any(outside)) {
      alignas(64) double p[N], w[N];
      S::store(pos, p);
      S::store(wrap, w);
      const int m = S::bits(outside);
      for (int j = 0; j < N; ++j) {
        if (!(m & (1 << j))) continue;
        p[j] = std::fmod(p[j], w[j]);
        if (p[j] < 0.0) p[j] += w[j];
      }
      pos = S::load(p);
    }
    lv[i] = l;
    rv[i] = r;
  }

  // Effects.
  if constexpr (Distorts) {
    CrushGlide glide[STEP_FRAMES][2];
    for (int i = 0; i < STEP_FRAMES; ++i) {
      V l = lv[i], r = rv[i];
      if (clips) {
        const V in_left = l;
        l = S::pick(clip_on, clip_shape(clip_k, l), l);
        r = S::pick(clip_on, S::pick(S::eq(r, in_left), l, clip_shape(clip_k, r)), r);
      }
      lv[i] = l;
      rv[i] = r;
      if (crushes) {
        glide[i][0].x = l;
        glide[i][1].x = r;
        glide[i][0].q = crush_quantise(crush, l);
        glide[i][1].q = crush_quantise(crush, r);
      }
    }
    if (crushes) {
      for (int i = 0; i < STEP_FRAMES; ++i) {
        crush_state_step(crush, 0, glide[i][0]);
        crush_state_step(crush, 1, glide[i][1]);
      }
      for (int i = 0; i < STEP_FRAMES; ++i) {
        lv[i] = crush_output(crush, glide[i][0]);
        rv[i] = crush_output(crush, glide[i][1]);
      }
    }
    if (tones) {
      for (int i = 0; i < STEP_FRAMES; ++i) {
        const V l = lv[i], r = rv[i];
        const V in_right = r;
        const V nl = S::add(S::mul(tone, l), S::mul(tone_rest, tone_state[0]));
        const V nr = S::pick(S::eq(nl, in_right), nl,
                             S::add(S::mul(tone, r), S::mul(tone_rest, tone_state[1])));
        lv[i] = S::pick(tone_on, nl, l);
        rv[i] = S::pick(tone_on, nr, r);
        tone_state[0] = S::pick(tone_on, nl, tone_state[0]);
        tone_state[1] = S::pick(tone_on, nr, tone_state[1]);
      }
    }
  }
  if constexpr (Filters) {
    FilterOut parts[STEP_FRAMES][2];
    for (int i = 0; i < STEP_FRAMES; ++i) {
      parts[i][0] = filter_state_step(filter, 0, lv[i]);
      parts[i][1] = filter_state_step(filter, 1, rv[i]);
    }
    for (int i = 0; i < STEP_FRAMES; ++i) {
      lv[i] = filter_mix(filter, parts[i][0], lv[i]);
      rv[i] = filter_mix(filter, parts[i][1], rv[i]);
    }
  }

  V glv[STEP_FRAMES], grv[STEP_FRAMES];
  M livev[STEP_FRAMES];
  for (int i = 0; i < STEP_FRAMES; ++i) {
    const V l = lv[i], r = rv[i];

    // A lane that turns non-finite stops adding from that sample on.
    const M live_before = all_live ? S::all_lanes() : S::lt(count, length);
    bad = S::either(bad, S::both(live_before, S::unordered(S::sub(l, l), S::sub(r, r))));
    const M live = S::unless(bad, live_before);

    // Envelope.
    V e;
    if (envelope == RAMP) {
      const V nc = S::sub(S::mul(ec, rc), S::mul(es, rs));
      const V ns = S::add(S::mul(es, rc), S::mul(ec, rs));
      phase = S::add(phase, step);
      ec = nc;
      es = ns;
      e = S::add(S::mul(set1(0.5), ec), set1(0.5));
    } else if (envelope == FLAT) {
      e = set1(1.0);
    } else {
      const M moving = S::either(S::lt(count, attack_end), S::gt(count, decay_start));
      const M at_decay = S::eq(count, decay_start);
      const V nc = S::sub(S::mul(ec, rc), S::mul(es, rs));
      const V ns = S::add(S::mul(es, rc), S::mul(ec, rs));
      phase = S::pick(moving, S::add(phase, step), S::pick(at_decay, dstep, phase));
      ec = S::pick(moving, nc, S::pick(at_decay, dc, ec));
      es = S::pick(moving, ns, S::pick(at_decay, ds, es));
      step = S::pick(at_decay, dstep, step);
      rc = S::pick(at_decay, dc, rc);
      rs = S::pick(at_decay, ds, rs);
      const M ramp = S::either(moving, at_decay);
      const M low_end = S::le(phase, zero);
      const M high_end = S::ge(phase, pi);
      e = S::pick(low_end, set1(1.0),
                  S::pick(high_end, zero, S::add(S::mul(set1(0.5), ec), set1(0.5))));
      phase = S::pick(ramp, S::pick(low_end, zero, S::pick(high_end, pi, phase)), phase);
      e = S::pick(ramp, e, set1(1.0));
    }
    if constexpr (Gate) e = S::mul(e, set1(gate[i]));
    const V gl = S::mul(gain_left, e);
    const V gr = S::mul(gain_right, e);
    glv[i] = gl;
    grv[i] = gr;
    livev[i] = live;

    // Output, summed after the loop: lanes that do not sound add -0, which changes no sum.
    S::store_float(clipping(S::mul(gl, l)), live, !all_live || S::any(bad), out_left[i]);
    S::store_float(clipping(S::mul(gr, r)), live, !all_live || S::any(bad), out_right[i]);
    if (envelope == GENERAL || !all_live) count = S::add(count, set1(1.0));
  }

  // The sends, a pass of their own (their limiter is one more long chain per sample).
  if (any_send) {
    for (int i = 0; i < STEP_FRAMES; ++i) {
      const V l = lv[i], r = rv[i], gl = glv[i], gr = grv[i];
      const M live = livev[i];
      if (lane_sends) {
        // Delay::generate, up to its write: the frame after this one, read by every lane alike.
        uint32_t at = 2 * static_cast<uint32_t>(i) + line->pos;
        if (at >= line->size) at -= line->size;
        const V read_left = set1(line->data[at + 2]), read_right = set1(line->data[at + 3]);
        const V wl = S::mul(S::mul(fb, S::add(l, read_left)), gl);
        const V wr = S::mul(S::mul(fb, S::add(r, read_right)), gr);
        const V x = S::mul(set1(1.2), S::add(wl, wr));
        const V p = S::add(S::mul(lpole, llevel), S::mul(lgain, S::mul(x, x)));
        const M sending = S::both(live, send_on);
        llevel = S::pick(sending, p, llevel);
        const M loud = S::both(sending, S::gt(p, set1(1.0)));
        // Delay::limit where the level is above 1.
        V lim = set1(1.0);
        if (S::any(loud))
          lim = S::pick(loud, S::pick(S::le(p, set1(DBL_MAX)), inverse_sqrt(p), zero), lim);
        S::store(S::mul(S::mul(send, lim), wl), sends[i][0]);
        S::store(S::mul(S::mul(send, lim), wr), sends[i][1]);
        send_bits[i] = S::bits(sending);
      } else {
        S::store(l, sends[i][0]);
        S::store(gl, sends[i][1]);
        S::store(r, sends[i][2]);
        S::store(gr, sends[i][3]);
      }
    }
  }

  // Sum the lanes into the outputs grain after grain, as the reference does per sample: four
  // lanes at a time, each four samples at a time.
  for (int half = 0; half < 2; ++half) {
    for (int c = 0; c < 2; ++c) {
      float (*rows)[N] = c == 0 ? out_left + 4 * half : out_right + 4 * half;
      float* sums = (c == 0 ? left : right) + 4 * half;
      __m128 sum = _mm_loadu_ps(sums);
      for (int group = 0; group < N; group += 4) {
        __m128 a = _mm_load_ps(rows[0] + group), b = _mm_load_ps(rows[1] + group),
               d = _mm_load_ps(rows[2] + group), e = _mm_load_ps(rows[3] + group);
        _MM_TRANSPOSE4_PS(a, b, d, e);  // four lanes, each with four samples
        sum = _mm_add_ps(sum, a);
        sum = _mm_add_ps(sum, b);
        sum = _mm_add_ps(sum, d);
        sum = _mm_add_ps(sum, e);
      }
      _mm_storeu_ps(sums, sum);
    }
  }

  // Write back.
  alignas(64) double a_pos[N], a_inc[N], a_phase[N], a_step[N], a_ec[N], a_es[N], a_rc[N],
      a_rs[N];
  S::store(pos, a_pos);
  S::store(inc, a_inc);
  S::store(phase, a_phase);
  S::store(step, a_step);
  S::store(ec, a_ec);
  S::store(es, a_es);
  S::store(rc, a_rc);
  S::store(rs, a_rs);
  const int bad_lanes = S::bits(bad);
  int sent_throughout = (1 << N) - 1;  // lanes that send at every sample of the step
  for (int i = 0; i < STEP_FRAMES; ++i) sent_throughout &= send_bits[i];
  alignas(64) double a_level[N];
  if (lane_sends) S::store(llevel, a_level);
  for (int j = 0; j < N; ++j) {
    Grain& x = *g[j];
    const int start_count = x.count;
    x.pos = a_pos[j];
    x.inc = a_inc[j];
    x.env_phase = a_phase[j];
    x.env_step = a_step[j];
    x.env_cos = a_ec[j];
    x.env_sin = a_es[j];
    x.rot_cos = a_rc[j];
    x.rot_sin = a_rs[j];
    x.count = std::min(start_count + STEP_FRAMES, x.length);
    if (lane_sends) x.delay.limiter.level = a_level[j];
    if (bad_lanes & (1 << j)) {
      x.count = x.length;
      x.pos = 0.0;
    }
    if (lane_sends && x.delay.active()) {
      // Delay::generate's write, lane after lane as the reference writes grain after grain.
      const uint32_t size = line->size, at = line->pos;
      double* data = line->data.data();
      // The reference's 2 * floor(i + offset) + pos, modulo size: floor(i + offset) is
      // i + floor(offset) for a whole i and a non-negative offset below 2^52.
      const uint64_t first = (2 * static_cast<uint64_t>(x.delay.offset) + at) % size;
      if ((sent_throughout & (1 << j)) && first >= 4 && first + 2 * STEP_FRAMES <= size) {
        // Every sample sends, into 16 consecutive values clear of the ring's end and its
        // mirror: the same additions, four values at a time (L0 R0 L1 R1, then L2 R2 L3 R3...).
        const __m128i order = _mm_setr_epi32(0, N, 4 * N, 5 * N);
        const __m256d every = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        for (int k = 0; k < STEP_FRAMES / 2; ++k) {
          const __m256d add = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), &sends[2 * k][0][j],
                                                       order, every, 8);
          double* to = data + first + 4 * k;
          _mm256_storeu_pd(to, _mm256_add_pd(_mm256_loadu_pd(to), add));
        }
        continue;
      }
      for (int i = 0; i < STEP_FRAMES; ++i) {
        if (!(send_bits[i] & (1 << j))) continue;
        uint64_t w = first + 2 * static_cast<uint64_t>(i);
        if (w >= size) w -= size;
        const double al = sends[i][0][j], ar = sends[i][1][j];
        data[w] += al;
        data[w + 1] += ar;
        if (w <= 3) {
          data[w + size] += al;
          data[w + size + 1] += ar;
        }
      }
    } else if (any_send && x.delay.active()) {
      const int n = std::min(STEP_FRAMES, x.length - start_count);
      for (int i = 0; i < n; ++i) {
        const double sl = sends[i][0][j], sr = sends[i][2][j];
        if (!std::isfinite(sl) || !std::isfinite(sr)) break;
        x.delay.generate(sl, sends[i][1][j], sr, sends[i][3][j], static_cast<uint32_t>(i));
      }
    }
  }
  if constexpr (Distorts) {
    alignas(64) double p0[N], p1[N], l0[N], l1[N], t0[N], t1[N];
    S::store(crush.position[0], p0);
    S::store(crush.position[1], p1);
    S::store(crush.last[0], l0);
    S::store(crush.last[1], l1);
    S::store(tone_state[0], t0);
    S::store(tone_state[1], t1);
    for (int j = 0; j < N; ++j) {
      Distortion& d = g[j]->distortion;
      d.crush_left.position = p0[j];
      d.crush_right.position = p1[j];
      d.crush_left.last_level = l0[j];
      d.crush_right.last_level = l1[j];
      d.tone_left = t0[j];
      d.tone_right = t1[j];
    }
  }
  if constexpr (Filters) {
    alignas(64) double v[2][6][N];
    for (int c = 0; c < 2; ++c) {
      S::store(filter.band1[c], v[c][0]);
      S::store(filter.low1[c], v[c][1]);
      S::store(filter.band2[c], v[c][2]);
      S::store(filter.low2[c], v[c][3]);
      S::store(filter.in_level[c], v[c][4]);
      S::store(filter.out_level[c], v[c][5]);
    }
    for (int j = 0; j < N; ++j) {
      for (int c = 0; c < 2; ++c) {
        DualSVF& f = c == 0 ? g[j]->filter_left : g[j]->filter_right;
        f.filter1.band = v[c][0][j];
        f.filter1.low = v[c][1][j];
        f.filter2.band = v[c][2][j];
        f.filter2.low = v[c][3][j];
        f.in_power.level = v[c][4][j];
        f.out_power.level = v[c][5][j];
      }
    }
  }
}

// Grains the lanes cannot take: finished ones (nothing to do) and folding ones (a sine).
inline bool lane_ready(const Grain& g) noexcept { return !g.finished() && !g.folds(); }

template <class S, bool Gate>
void render_lanes_dispatch(Grain* const* g, const double* gate, bool far, float* left,
                           float* right) noexcept {
  bool d = false, f = false;
  for (int j = 0; j < S::N; ++j) {
    d = d || g[j]->distorts();
    f = f || g[j]->filters();
  }
  using L = Lanes<S>;
  if (d && f)
    L::template render<true, true, Gate>(g, gate, far, left, right);
  else if (d)
    L::template render<true, false, Gate>(g, gate, far, left, right);
  else if (f)
    L::template render<false, true, Gate>(g, gate, far, left, right);
  else
    L::template render<false, false, Gate>(g, gate, far, left, right);
}

// One step of every grain: S::N grains at a time where they all can, else one by one. With
// remainder false the last count % S::N grains are left to the caller; returns how many grains
// were rendered.
template <class S>
size_t render_step_lanes(Grain* const* grains, size_t count, const double* gate, float* left,
                         float* right, bool remainder = true) noexcept {
  constexpr size_t N = S::N;
  // Whether no send of this step can write where this step reads (frames 1..8 ahead of the
  // line's read position): then the lanes may read the line before any grain writes.
  bool far = true;
  for (size_t j = 0; j < count && far; ++j) {
    const Delay& d = grains[j]->delay;
    if (!d.active() || grains[j]->finished()) continue;
    const double frames = d.buffer->size / 2;
    far = d.offset >= 9.0 && d.offset <= frames - 8.0;
  }
  size_t k = 0;
  while (k + N <= count) {
    // Two batches ahead: their records and the frames they read first, which would otherwise
    // arrive from far caches one by one.
    for (size_t j = k + 2 * N, end = std::min(count, k + 3 * N); j < end; ++j) {
      const Grain& x = *grains[j];
      const char* record = reinterpret_cast<const char*>(&x);
      for (int line = 0; line < 4; ++line) _mm_prefetch(record + 64 * line, _MM_HINT_T0);
      const float* frames =
          x.view.samples + static_cast<ptrdiff_t>(static_cast<int32_t>(x.pos)) * x.view.channels;
      _mm_prefetch(reinterpret_cast<const char*>(frames), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(frames + 16), _MM_HINT_T0);
    }
    Grain* const* g = grains + k;
    bool ready = true;
    for (size_t j = 0; j < N && ready; ++j) ready = lane_ready(*g[j]);
    if (ready) {
      if (gate)
        render_lanes_dispatch<S, true>(g, gate, far, left, right);
      else
        render_lanes_dispatch<S, false>(g, gate, far, left, right);
      k += N;
    } else {
      render_grain_scalar(*grains[k], gate, left, right);
      ++k;
    }
  }
  if (!remainder) return k;
  for (; k < count; ++k) render_grain_scalar(*grains[k], gate, left, right);
  return k;
}

}  // namespace
}  // namespace korvel::vimble
