// The vector renderer with AVX-512: eight grains side by side in 512-bit registers. The kernel
// is grain_lanes.h; this file gives it the AVX-512 lane operations. Only called on CPUs with
// AVX-512F and AVX-512VL.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "synth/grain_render.h"
#include "synth/utility.h"

// GCC 12 takes the intrinsics' deliberately undefined pass-through operands for uninitialised
// values (_mm512_undefined_pd); nothing here reads an undefined value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512vl")
// No fused multiply-adds: every product is rounded as in the scalar reference.
#pragma GCC optimize("fp-contract=off")

#include "synth/grain_lanes.h"

namespace korvel::vimble {
namespace {

struct Avx512 {
  using V = __m512d;
  using M = __mmask8;
  using F = __m256;
  static constexpr int N = 8;
  static constexpr bool GATHERS = true;

  // The 4-point reads of eight grains that share one sound, gathered as [L of every lane,
  // R of every lane] per frame, and their interpolation for both channels at once: the same
  // single-precision coefficients and double-precision polynomial as the other readers.
  static void read_shared(const float* samples, int channels, V whole, V t, V& l, V& r) {
    const __m256i frame = _mm512_cvttpd_epi32(whole);
    __m512 x0, x1, x2, x3;
    if (channels == 2) {
      // A stereo frame is 8 bytes: gather whole frames, then put L before R.
      const double* frames = reinterpret_cast<const double*>(samples);
      const __m512i order = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
      const __m256i one = _mm256_set1_epi32(1);
      auto read = [&](__m256i at) {
        return _mm512_permutexvar_ps(order, _mm512_castpd_ps(_mm512_i32gather_pd(at, frames, 8)));
      };
      __m256i at = frame;
      x0 = read(at);
      at = _mm256_add_epi32(at, one);
      x1 = read(at);
      at = _mm256_add_epi32(at, one);
      x2 = read(at);
      at = _mm256_add_epi32(at, one);
      x3 = read(at);
    } else {
      const __m256i first = _mm256_mullo_epi32(frame, _mm256_set1_epi32(channels));
      const __m256i second = _mm256_add_epi32(first, _mm256_set1_epi32(channels - 1));
      __m512i index = _mm512_inserti64x4(_mm512_castsi256_si512(first), second, 1);
      const __m512i next = _mm512_set1_epi32(channels);
      x0 = _mm512_i32gather_ps(index, samples, 4);
      index = _mm512_add_epi32(index, next);
      x1 = _mm512_i32gather_ps(index, samples, 4);
      index = _mm512_add_epi32(index, next);
      x2 = _mm512_i32gather_ps(index, samples, 4);
      index = _mm512_add_epi32(index, next);
      x3 = _mm512_i32gather_ps(index, samples, 4);
    }
    const __m512 c1 = _mm512_sub_ps(x2, x0);
    const __m512 c2 = _mm512_add_ps(_mm512_sub_ps(x0, _mm512_mul_ps(_mm512_set1_ps(2.0f), x1)), x2);
    const __m512 c3 = _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(3.0f), _mm512_sub_ps(x0, x3)),
                                    _mm512_mul_ps(_mm512_set1_ps(9.0f), _mm512_sub_ps(x2, x1)));
    const __m512 c4 = _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(5.0f), _mm512_sub_ps(x3, x0)),
                                    _mm512_mul_ps(_mm512_set1_ps(15.0f), _mm512_sub_ps(x1, x2)));
    const __m512 c5 = _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(2.0f), _mm512_sub_ps(x0, x3)),
                                    _mm512_mul_ps(_mm512_set1_ps(6.0f), _mm512_sub_ps(x2, x1)));
    const V half_t = mul(set1(0.5), t);
    l = polynomial<false>(x1, c1, c2, c3, c4, c5, t, half_t);
    r = polynomial<true>(x1, c1, c2, c3, c4, c5, t, half_t);
  }

  // One channel's half of [L lanes, R lanes].
  template <bool Right>
  static F half(__m512 v) {
    if constexpr (Right)
      return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
    else
      return _mm512_castps512_ps256(v);
  }
  template <bool Right>
  static V polynomial(__m512 x1, __m512 c1, __m512 c2, __m512 c3, __m512 c4, __m512 c5, V t,
                      V half_t) {
    V poly = mul(t, widen(half<Right>(c5)));
    poly = mul(t, add(widen(half<Right>(c4)), poly));
    poly = mul(t, add(widen(half<Right>(c3)), poly));
    poly = mul(t, add(widen(half<Right>(c2)), poly));
    poly = add(widen(half<Right>(c1)), poly);
    return add(widen(half<Right>(x1)), mul(half_t, poly));
  }

  static V set1(double x) { return _mm512_set1_pd(x); }
  static V zero() { return _mm512_setzero_pd(); }
  static V load(const double* a) { return _mm512_load_pd(a); }
  static V set(double a, double b, double c, double d, double e, double f, double g, double h) {
    return _mm512_setr_pd(a, b, c, d, e, f, g, h);
  }
  static void store(V v, double* a) { _mm512_store_pd(a, v); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
  static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V div(V a, V b) { return _mm512_div_pd(a, b); }
  static V sqrt(V a) { return _mm512_sqrt_pd(a); }
  static V inverse_sqrt_guess(V x) {
    const __m512i bits = _mm512_srli_epi64(ints(x), 1);
    const __m512i magic = _mm512_set1_epi64(static_cast<int64_t>(INVERSE_SQRT_MAGIC));
    return bits_of(_mm512_sub_epi64(magic, bits));
  }
  static V trunc(V a) { return _mm512_roundscale_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
  static V bits_of(__m512i a) { return _mm512_castsi512_pd(a); }
  static __m512i ints(V a) { return _mm512_castpd_si512(a); }
  static V absolute(V a) { return bit_and(a, bits_of(_mm512_set1_epi64(0x7FFFFFFFFFFFFFFF))); }
  static V negate(V a) { return bits_of(_mm512_xor_si512(ints(a), ints(set1(-0.0)))); }
  static V bit_and(V a, V b) { return bits_of(_mm512_and_si512(ints(a), ints(b))); }
  static V bit_or(V a, V b) { return bits_of(_mm512_or_si512(ints(a), ints(b))); }

  static M lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static M le(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
  static M gt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
  static M ge(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static M eq(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
  static M neq(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NEQ_UQ); }
  static M unordered(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_UNORD_Q); }
  static M both(M a, M b) { return static_cast<M>(a & b); }
  static M either(M a, M b) { return static_cast<M>(a | b); }
  static M unless(M not_these, M a) { return static_cast<M>(a & ~not_these); }
  static M no_lanes() { return 0; }
  static M all_lanes() { return 0xFF; }
  static V pick(M mask, V a, V b) { return _mm512_mask_blend_pd(mask, b, a); }
  static int bits(M m) { return m; }
  static bool any(M m) { return m != 0; }
  static bool all(M m) { return m == 0xFF; }

  static void store_int(V whole, int32_t* out) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(out), _mm512_cvttpd_epi32(whole));
  }
  static F fset1(float x) { return _mm256_set1_ps(x); }
  static F fadd(F a, F b) { return _mm256_add_ps(a, b); }
  static F fsub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F fmul(F a, F b) { return _mm256_mul_ps(a, b); }
  static V widen(F a) { return _mm512_cvtps_pd(a); }
  // rows[j]: four values of lane j; out k: value k of every lane.
  static void transpose(const __m128* rows, F& a, F& b, F& c, F& d) {
    __m128 a0 = rows[0], b0 = rows[1], c0 = rows[2], d0 = rows[3];
    __m128 a1 = rows[4], b1 = rows[5], c1 = rows[6], d1 = rows[7];
    _MM_TRANSPOSE4_PS(a0, b0, c0, d0);
    _MM_TRANSPOSE4_PS(a1, b1, c1, d1);
    a = _mm256_set_m128(a1, a0);
    b = _mm256_set_m128(b1, b0);
    c = _mm256_set_m128(c1, c0);
    d = _mm256_set_m128(d1, d0);
  }
  // Stores v as floats; lanes outside live (when masking) store -0.
  static void store_float(V v, M live, bool masking, float* out) {
    __m256 f = _mm512_cvtpd_ps(v);
    if (masking) f = _mm256_mask_blend_ps(live, _mm256_set1_ps(-0.0f), f);
    _mm256_store_ps(out, f);
  }
};

}  // namespace

void render_step_avx512(Grain* const* grains, size_t count, const double* gate, float* left,
                        float* right) noexcept {
  // Grains left over from the eights go four at a time where they can.
  const size_t eights = render_step_lanes<Avx512>(grains, count, gate, left, right, false);
  render_step_avx2(grains + eights, count - eights, gate, left, right);
}

}  // namespace korvel::vimble

#pragma GCC pop_options
#pragma GCC diagnostic pop
