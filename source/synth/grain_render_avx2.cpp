// The per-sample rendering of grains, four grains at a time in the lanes of AVX2 registers.
// Every operation mirrors the scalar reference (grain_render.cpp) in the same order and
// precision, so the output is the same bit for bit; choices that the scalar code makes per
// grain are made per lane with masks. Only called on CPUs with AVX2 (see best_render_step).
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "synth/grain_render.h"
#include "synth/utility.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace korvel::vimble {

namespace {

using V = __m256d;

inline V set1(double x) { return _mm256_set1_pd(x); }
inline V add(V a, V b) { return _mm256_add_pd(a, b); }
inline V sub(V a, V b) { return _mm256_sub_pd(a, b); }
inline V mul(V a, V b) { return _mm256_mul_pd(a, b); }
inline V div(V a, V b) { return _mm256_div_pd(a, b); }
inline V lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline V le(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
inline V gt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
inline V ge(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
inline V eq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
inline V neq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
inline V both(V a, V b) { return _mm256_and_pd(a, b); }
inline V either(V a, V b) { return _mm256_or_pd(a, b); }
inline V unless(V mask, V a) { return _mm256_andnot_pd(mask, a); }
// mask ? a : b
inline V pick(V mask, V a, V b) { return _mm256_blendv_pd(b, a, mask); }
inline V absolute(V a) { return _mm256_andnot_pd(set1(-0.0), a); }
inline V negate(V a) { return _mm256_xor_pd(set1(-0.0), a); }
inline bool any(V mask) { return _mm256_movemask_pd(mask) != 0; }

inline V lanes(double a, double b, double c, double d) { return _mm256_set_pd(d, c, b, a); }

template <class F>
inline V gather(Grain* const* g, F f) {
  return lanes(f(*g[0]), f(*g[1]), f(*g[2]), f(*g[3]));
}

inline void scatter(V v, double* out) { _mm256_storeu_pd(out, v); }

// smoothstep(x, low, high) for low < high (lanes where that fails are masked by the caller).
__attribute__((always_inline)) inline V smoothstep_v(V x, V low, V high) {
  const V width = sub(high, low);
  const V u = div(sub(x, low), width);
  const V ramp = add(low, mul(mul(mul(width, u), u), sub(set1(3.0), mul(set1(2.0), u))));
  return pick(ge(x, high), high, pick(le(x, low), low, ramp));
}

__attribute__((always_inline)) inline V clipping_v(V x) {
  if (!any(gt(absolute(x), set1(0.9)))) return x;  // the usual case: nothing to clip
  const V upper = pick(ge(x, set1(1.0)), set1(1.0), smoothstep_v(x, set1(0.8), set1(1.0)));
  const V lower = pick(le(x, set1(-1.0)), set1(-1.0), smoothstep_v(x, set1(-1.0), set1(-0.8)));
  return pick(gt(x, set1(0.9)), upper, pick(lt(x, set1(-0.9)), lower, x));
}

// std::round: halves away from zero, keeping the sign of zero.
__attribute__((always_inline)) inline V round_v(V y) {
  const V t = _mm256_round_pd(y, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  const V away = add(t, _mm256_or_pd(set1(1.0), _mm256_and_pd(set1(-0.0), y)));
  return pick(ge(absolute(sub(y, t)), set1(0.5)), away, t);
}

// The clip (k > 0) boost of Distortion::shape; folding grains never reach the vector renderer.
__attribute__((always_inline)) inline V clip_shape_v(V k, V x) {
  const V kx = mul(k, x);
  const V a = absolute(kx);
  const V linear = le(a, set1(0.9));
  if (_mm256_movemask_pd(linear) == 0xF) return kx;
  V y = pick(lt(a, set1(1.0)), smoothstep_v(a, set1(0.8), set1(1.0)), set1(1.0));
  y = pick(lt(x, _mm256_setzero_pd()), negate(y), y);
  return pick(linear, kx, y);
}

struct Crush {
  V levels, inv, slew, bias, on, hard;
  V position[2], last[2];
};

__attribute__((always_inline)) inline V crush_v(Crush& c, int ch, V x) {
  V y = mul(x, c.levels);
  const V push = pick(lt(y, _mm256_setzero_pd()), negate(c.bias), c.bias);
  y = pick(lt(absolute(y), set1(1.0)), add(y, push), y);
  const V q = round_v(y);
  const V stepped = mul(q, c.inv);
  const V last = c.last[ch];
  const V p = mul(c.levels, c.position[ch]);
  const V up = gt(q, last), down = lt(q, last);
  const V moving = unless(c.hard, both(c.on, either(up, down)));
  if (!any(moving)) return pick(c.on, stepped, x);
  const V pu = add(p, mul(c.slew, sub(q, last)));
  const V pd = sub(p, mul(c.slew, sub(last, q)));
  const V np = pick(up, pu, pd);
  // Rising: smoothstep(p, last, q); falling: smoothstep(p, q, last). Over one level the ramp's
  // width is 1 and the division drops out exactly.
  const V low = pick(up, last, q), high = pick(up, q, last);
  const V width = sub(high, low);
  const V one_level = either(eq(width, set1(1.0)), unless(moving, set1(-1.0)));
  const V u = _mm256_movemask_pd(one_level) == 0xF ? sub(np, low) : div(sub(np, low), width);
  const V ramp = add(low, mul(mul(mul(width, u), u), sub(set1(3.0), mul(set1(2.0), u))));
  const V o = pick(ge(np, high), high, pick(le(np, low), low, ramp));
  const V reached = either(both(up, ge(pu, q)), both(down, le(pd, q)));
  c.last[ch] = pick(both(moving, reached), q, last);
  c.position[ch] = pick(moving, mul(np, c.inv), c.position[ch]);
  const V result = pick(moving, mul(o, c.inv), stepped);
  return pick(c.on, result, x);
}

struct Filter {
  V f1, q1, f2, q2, pole, gain_in, low_mix, mid_mix, high_mix, dry, mix_gain, on;
  V band1[2], low1[2], band2[2], low2[2], in_level[2], out_level[2];
};

__attribute__((always_inline)) inline V filter_v(Filter& f, int ch, V x) {
  const V h1 = sub(sub(mul(f.q1, x), f.low1[ch]), mul(f.q1, f.band1[ch]));
  const V b1 = add(mul(f.f1, h1), f.band1[ch]);
  const V l1 = add(mul(f.f1, b1), f.low1[ch]);
  const V h2 = sub(sub(mul(f.q2, x), f.low2[ch]), mul(f.q2, f.band2[ch]));
  const V b2 = add(mul(f.f2, h2), f.band2[ch]);
  const V l2 = add(mul(f.f2, b2), f.low2[ch]);
  f.band1[ch] = b1;
  f.low1[ch] = l1;
  f.band2[ch] = b2;
  f.low2[ch] = l2;
  const V pin = add(mul(f.pole, f.in_level[ch]), mul(f.gain_in, mul(x, x)));
  const V sum = add(add(add(add(add(l1, b1), h1), l2), b2), h2);
  const V pout = add(mul(f.pole, f.out_level[ch]), mul(f.gain_in, mul(sum, sum)));
  f.in_level[ch] = pin;
  f.out_level[ch] = pout;
  const V r = pick(neq(pout, _mm256_setzero_pd()), div(pin, pout), pin);
  const V g = mul(f.mix_gain, _mm256_sqrt_pd(r));
  const V low = add(l1, l2), band = add(b1, b2), high = add(h1, h2);
  const V result = add(add(add(mul(f.dry, x), mul(mul(f.low_mix, low), g)),
                           mul(mul(f.mid_mix, band), g)),
                       mul(mul(f.high_mix, high), g));
  return pick(f.on, result, x);
}

// Loads frames n..n+3 of one grain as (L0 R0 L1 R1) and (L2 R2 L3 R3); mono repeats L as R.
__attribute__((always_inline)) inline void load_frames(const float* s, int channels, __m128& lo, __m128& hi) {
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

// The 4-point interpolation of the scalar renderer, per lane.
__attribute__((always_inline)) inline V interpolate_v(__m128 x0, __m128 x1, __m128 x2, __m128 x3, V t) {
  const __m128 c1 = _mm_sub_ps(x2, x0);
  const __m128 c2 = _mm_add_ps(_mm_sub_ps(x0, _mm_mul_ps(_mm_set1_ps(2.0f), x1)), x2);
  const __m128 c3 = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(3.0f), _mm_sub_ps(x0, x3)),
                               _mm_mul_ps(_mm_set1_ps(9.0f), _mm_sub_ps(x2, x1)));
  const __m128 c4 = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(5.0f), _mm_sub_ps(x3, x0)),
                               _mm_mul_ps(_mm_set1_ps(15.0f), _mm_sub_ps(x1, x2)));
  const __m128 c5 = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(2.0f), _mm_sub_ps(x0, x3)),
                               _mm_mul_ps(_mm_set1_ps(6.0f), _mm_sub_ps(x2, x1)));
  V poly = mul(t, _mm256_cvtps_pd(c5));
  poly = mul(t, add(_mm256_cvtps_pd(c4), poly));
  poly = mul(t, add(_mm256_cvtps_pd(c3), poly));
  poly = mul(t, add(_mm256_cvtps_pd(c2), poly));
  poly = add(_mm256_cvtps_pd(c1), poly);
  return add(_mm256_cvtps_pd(x1), mul(mul(set1(0.5), t), poly));
}

template <bool Distorts, bool Filters, bool Gate>
void render_four(Grain* const* g, const double* gate, float* left, float* right) noexcept {
  const float* base[4];
  int channels[4];
  for (int j = 0; j < 4; ++j) {
    base[j] = g[j]->view.samples;
    channels[j] = g[j]->view.channels;
  }
  V pos = gather(g, [](const Grain& x) { return x.pos; });
  V inc = gather(g, [](const Grain& x) { return x.inc; });
  const V inc_step = gather(g, [](const Grain& x) { return x.inc_step; });
  const V wrap = gather(g, [](const Grain& x) { return static_cast<double>(x.wrap_frames); });
  V count = gather(g, [](const Grain& x) { return static_cast<double>(x.count); });
  const V length = gather(g, [](const Grain& x) { return static_cast<double>(x.length); });
  const V attack_end = gather(g, [](const Grain& x) { return static_cast<double>(x.attack_end); });
  const V decay_start =
      gather(g, [](const Grain& x) { return static_cast<double>(x.decay_start); });
  V phase = gather(g, [](const Grain& x) { return x.env_phase; });
  V step = gather(g, [](const Grain& x) { return x.env_step; });
  V ec = gather(g, [](const Grain& x) { return x.env_cos; });
  V es = gather(g, [](const Grain& x) { return x.env_sin; });
  V rc = gather(g, [](const Grain& x) { return x.rot_cos; });
  V rs = gather(g, [](const Grain& x) { return x.rot_sin; });
  const V dstep = gather(g, [](const Grain& x) { return x.decay_step; });
  const V dc = gather(g, [](const Grain& x) { return x.decay_cos; });
  const V ds = gather(g, [](const Grain& x) { return x.decay_sin; });
  const V gain_left = gather(g, [](const Grain& x) { return x.gain_left; });
  const V gain_right = gather(g, [](const Grain& x) { return x.gain_right; });

  V clip_k{}, clip_on{}, tone{}, tone_rest{}, tone_on{}, tone_state[2]{};
  Crush crush{};
  if constexpr (Distorts) {
    clip_k = gather(g, [](const Grain& x) { return x.distortion.clip; });
    clip_on = neq(clip_k, _mm256_setzero_pd());
    crush.levels = gather(g, [](const Grain& x) { return x.distortion.crush_left.levels; });
    crush.inv = gather(g, [](const Grain& x) { return x.distortion.crush_left.inv_levels; });
    crush.slew = gather(g, [](const Grain& x) { return x.distortion.crush_left.slew; });
    crush.bias = gather(g, [](const Grain& x) { return x.distortion.crush_left.bias; });
    crush.on = neq(crush.levels, _mm256_setzero_pd());
    crush.hard = lt(crush.slew, set1(0.01));
    crush.position[0] = gather(g, [](const Grain& x) { return x.distortion.crush_left.position; });
    crush.position[1] = gather(g, [](const Grain& x) { return x.distortion.crush_right.position; });
    crush.last[0] = gather(g, [](const Grain& x) { return x.distortion.crush_left.last_level; });
    crush.last[1] = gather(g, [](const Grain& x) { return x.distortion.crush_right.last_level; });
    tone = gather(g, [](const Grain& x) { return x.distortion.tone; });
    tone_rest = sub(set1(1.0), tone);
    tone_on = lt(tone, set1(1.0));
    tone_state[0] = gather(g, [](const Grain& x) { return x.distortion.tone_left; });
    tone_state[1] = gather(g, [](const Grain& x) { return x.distortion.tone_right; });
  }
  // Stages that no lane uses are left out of this step (their masks would keep the input).
  const bool clips = Distorts && any(clip_on);
  const bool crushes = Distorts && any(crush.on);
  const bool tones = Distorts && any(tone_on);
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
    filter.mix_gain = gather(g, [](const Grain& x) {
      const DualSVF& f = x.filter_left;
      return 2.0 - (f.low_mix + f.mid_mix + f.high_mix) / 3.0;
    });
    filter.on = lt(filter.dry, set1(DualSVF::BYPASS_DRY));
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
  {
    bool ramp = true, flat = true;
    for (int j = 0; j < 4; ++j) {
      const Grain& x = *g[j];
      const int c = x.count;
      ramp = ramp && ((c + STEP_FRAMES < x.attack_end) ||
                      (c > x.decay_start && c + STEP_FRAMES < x.length));
      flat = flat && c >= x.attack_end && c + STEP_FRAMES <= x.decay_start;
    }
    envelope = ramp ? RAMP : flat ? FLAT : GENERAL;
  }
  bool all_live = true;
  for (int j = 0; j < 4; ++j) all_live = all_live && g[j]->count + STEP_FRAMES <= g[j]->length;

  const bool any_send = g[0]->delay.active() || g[1]->delay.active() || g[2]->delay.active() ||
                        g[3]->delay.active();
  alignas(32) double sends[STEP_FRAMES][4][4];  // [sample][L, gl, R, gr][lane]
  V bad = _mm256_setzero_pd();
  __m128 out_left[STEP_FRAMES], out_right[STEP_FRAMES];
  const V pi = set1(std::numbers::pi);
  const V zero = _mm256_setzero_pd();

  for (int i = 0; i < STEP_FRAMES; ++i) {
    // Read.
    alignas(16) int32_t frame[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(frame), _mm256_cvttpd_epi32(pos));
    const V t = sub(pos, _mm256_cvtepi32_pd(_mm_load_si128(reinterpret_cast<__m128i*>(frame))));
    __m128 r0, r1, r2, r3, h0, h1, h2, h3;
    load_frames(base[0] + static_cast<ptrdiff_t>(frame[0]) * channels[0], channels[0], r0, h0);
    load_frames(base[1] + static_cast<ptrdiff_t>(frame[1]) * channels[1], channels[1], r1, h1);
    load_frames(base[2] + static_cast<ptrdiff_t>(frame[2]) * channels[2], channels[2], r2, h2);
    load_frames(base[3] + static_cast<ptrdiff_t>(frame[3]) * channels[3], channels[3], r3, h3);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);  // L0, R0, L1, R1 across lanes
    _MM_TRANSPOSE4_PS(h0, h1, h2, h3);  // L2, R2, L3, R3
    V l = interpolate_v(r0, r2, h0, h2, t);
    V r = interpolate_v(r1, r3, h1, h3, t);

    // Advance and wrap.
    pos = add(pos, inc);
    inc = add(inc, inc_step);
    pos = pick(lt(pos, zero), add(pos, wrap), pos);
    const V outside = either(lt(pos, zero), gt(pos, wrap));
    if (any(outside)) {
      alignas(32) double p[4], w[4];
      _mm256_store_pd(p, pos);
      _mm256_store_pd(w, wrap);
      const int m = _mm256_movemask_pd(outside);
      for (int j = 0; j < 4; ++j) {
        if (!(m & (1 << j))) continue;
        p[j] = std::fmod(p[j], w[j]);
        if (p[j] < 0.0) p[j] += w[j];
      }
      pos = _mm256_load_pd(p);
    }

    // Effects.
    if constexpr (Distorts) {
      if (clips) {
        const V in_left = l;
        l = pick(clip_on, clip_shape_v(clip_k, l), l);
        r = pick(clip_on, pick(eq(r, in_left), l, clip_shape_v(clip_k, r)), r);
      }
      if (crushes) {
        l = crush_v(crush, 0, l);
        r = crush_v(crush, 1, r);
      }
      if (tones) {
        const V in_right = r;
        const V nl = add(mul(tone, l), mul(tone_rest, tone_state[0]));
        const V nr =
            pick(eq(nl, in_right), nl, add(mul(tone, r), mul(tone_rest, tone_state[1])));
        l = pick(tone_on, nl, l);
        r = pick(tone_on, nr, r);
        tone_state[0] = pick(tone_on, nl, tone_state[0]);
        tone_state[1] = pick(tone_on, nr, tone_state[1]);
      }
    }
    if constexpr (Filters) {
      l = filter_v(filter, 0, l);
      r = filter_v(filter, 1, r);
    }

    // A lane that turns non-finite stops adding from that sample on.
    const V live_before = lt(count, length);
    bad = either(bad, both(live_before, _mm256_cmp_pd(sub(l, l), sub(r, r), _CMP_UNORD_Q)));
    const V live = unless(bad, live_before);

    // Envelope.
    V e;
    if (envelope == RAMP) {
      const V nc = sub(mul(ec, rc), mul(es, rs));
      const V ns = add(mul(es, rc), mul(ec, rs));
      phase = add(phase, step);
      ec = nc;
      es = ns;
      e = add(mul(set1(0.5), ec), set1(0.5));
    } else if (envelope == FLAT) {
      e = set1(1.0);
    } else {
      const V moving = either(lt(count, attack_end), gt(count, decay_start));
      const V at_decay = eq(count, decay_start);
      const V nc = sub(mul(ec, rc), mul(es, rs));
      const V ns = add(mul(es, rc), mul(ec, rs));
      phase = pick(moving, add(phase, step), pick(at_decay, dstep, phase));
      ec = pick(moving, nc, pick(at_decay, dc, ec));
      es = pick(moving, ns, pick(at_decay, ds, es));
      step = pick(at_decay, dstep, step);
      rc = pick(at_decay, dc, rc);
      rs = pick(at_decay, ds, rs);
      const V ramp = either(moving, at_decay);
      const V low_end = le(phase, zero);
      const V high_end = ge(phase, pi);
      e = pick(low_end, set1(1.0), pick(high_end, zero, add(mul(set1(0.5), ec), set1(0.5))));
      phase = pick(ramp, pick(low_end, zero, pick(high_end, pi, phase)), phase);
      e = pick(ramp, e, set1(1.0));
    }
    if constexpr (Gate) e = mul(e, set1(gate[i]));
    const V gl = mul(gain_left, e);
    const V gr = mul(gain_right, e);
    if (any_send) {
      _mm256_store_pd(sends[i][0], l);
      _mm256_store_pd(sends[i][1], gl);
      _mm256_store_pd(sends[i][2], r);
      _mm256_store_pd(sends[i][3], gr);
    }

    // Output, summed after the loop: lanes that do not sound add -0, which changes no sum.
    __m128 vl = _mm256_cvtpd_ps(clipping_v(mul(gl, l)));
    __m128 vr = _mm256_cvtpd_ps(clipping_v(mul(gr, r)));
    if (!all_live || any(bad)) {
      const __m128 dead = _mm256_cvtpd_ps(unless(live, set1(-1.0)));
      const __m128 quiet = _mm_and_ps(dead, _mm_set1_ps(-0.0f));
      vl = _mm_blendv_ps(vl, quiet, dead);
      vr = _mm_blendv_ps(vr, quiet, dead);
    }
    out_left[i] = vl;
    out_right[i] = vr;
    count = add(count, set1(1.0));
  }

  // Sum the lanes into the outputs grain after grain, as the reference does per sample.
  for (int half = 0; half < 2; ++half) {
    __m128* rows[2] = {out_left + 4 * half, out_right + 4 * half};
    float* sums[2] = {left + 4 * half, right + 4 * half};
    for (int c = 0; c < 2; ++c) {
      __m128 a = rows[c][0], b = rows[c][1], d = rows[c][2], e = rows[c][3];
      _MM_TRANSPOSE4_PS(a, b, d, e);  // lane 0..3, each with 4 samples
      __m128 sum = _mm_loadu_ps(sums[c]);
      sum = _mm_add_ps(sum, a);
      sum = _mm_add_ps(sum, b);
      sum = _mm_add_ps(sum, d);
      sum = _mm_add_ps(sum, e);
      _mm_storeu_ps(sums[c], sum);
    }
  }

  // Write back.
  alignas(32) double a_pos[4], a_inc[4], a_phase[4], a_step[4], a_ec[4], a_es[4], a_rc[4],
      a_rs[4];
  scatter(pos, a_pos);
  scatter(inc, a_inc);
  scatter(phase, a_phase);
  scatter(step, a_step);
  scatter(ec, a_ec);
  scatter(es, a_es);
  scatter(rc, a_rc);
  scatter(rs, a_rs);
  const int bad_lanes = _mm256_movemask_pd(bad);
  for (int j = 0; j < 4; ++j) {
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
    // The next step's frames, which the hardware cannot guess for a thousand streams.
    {
      const double next = x.pos + STEP_FRAMES * x.inc;
      const int32_t a = static_cast<int32_t>(x.pos), b = static_cast<int32_t>(next);
      const int32_t f = std::clamp(std::min(a, b), 0, x.wrap_frames);
      const int32_t to = std::clamp(std::max(a, b) + 4, 0, x.wrap_frames + 4);
      const float* p = base[j] + static_cast<ptrdiff_t>(f) * channels[j];
      const float* q = base[j] + static_cast<ptrdiff_t>(to) * channels[j];
      for (; p <= q; p += 16) _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
    }
    if (bad_lanes & (1 << j)) {
      x.count = x.length;
      x.pos = 0.0;
    }
    if (any_send && x.delay.active()) {
      const int n = std::min(STEP_FRAMES, x.length - start_count);
      for (int i = 0; i < n; ++i) {
        const double sl = sends[i][0][j], sr = sends[i][2][j];
        if (!std::isfinite(sl) || !std::isfinite(sr)) break;
        x.delay.generate(sl, sends[i][1][j], sr, sends[i][3][j], static_cast<uint32_t>(i));
      }
    }
  }
  if constexpr (Distorts) {
    alignas(32) double p0[4], p1[4], l0[4], l1[4], t0[4], t1[4];
    scatter(crush.position[0], p0);
    scatter(crush.position[1], p1);
    scatter(crush.last[0], l0);
    scatter(crush.last[1], l1);
    scatter(tone_state[0], t0);
    scatter(tone_state[1], t1);
    for (int j = 0; j < 4; ++j) {
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
    alignas(32) double v[2][6][4];
    for (int c = 0; c < 2; ++c) {
      scatter(filter.band1[c], v[c][0]);
      scatter(filter.low1[c], v[c][1]);
      scatter(filter.band2[c], v[c][2]);
      scatter(filter.low2[c], v[c][3]);
      scatter(filter.in_level[c], v[c][4]);
      scatter(filter.out_level[c], v[c][5]);
    }
    for (int j = 0; j < 4; ++j) {
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

template <bool Gate>
void render_four_dispatch(Grain* const* g, const double* gate, float* left, float* right) noexcept {
  bool d = false, f = false;
  for (int j = 0; j < 4; ++j) {
    d = d || g[j]->distorts();
    f = f || g[j]->filters();
  }
  if (d && f)
    render_four<true, true, Gate>(g, gate, left, right);
  else if (d)
    render_four<true, false, Gate>(g, gate, left, right);
  else if (f)
    render_four<false, true, Gate>(g, gate, left, right);
  else
    render_four<false, false, Gate>(g, gate, left, right);
}

// Grains the lanes cannot take: finished ones (nothing to do) and folding ones (a sine).
inline bool lane_ready(const Grain& g) noexcept { return !g.finished() && !g.folds(); }

}  // namespace

void render_step_avx2(Grain* const* grains, size_t count, const double* gate, float* left,
                      float* right) noexcept {
  size_t k = 0;
  while (k + 4 <= count) {
    Grain* const* g = grains + k;
    if (lane_ready(*g[0]) && lane_ready(*g[1]) && lane_ready(*g[2]) && lane_ready(*g[3])) {
      if (gate)
        render_four_dispatch<true>(g, gate, left, right);
      else
        render_four_dispatch<false>(g, gate, left, right);
      k += 4;
    } else {
      render_grain_scalar(*grains[k], gate, left, right);
      ++k;
    }
  }
  for (; k < count; ++k) render_grain_scalar(*grains[k], gate, left, right);
}

}  // namespace korvel::vimble

#pragma GCC pop_options
