// The vector renderer with AVX2: four grains side by side in 256-bit registers. The kernel is
// grain_lanes.h; this file gives it the AVX2 lane operations. Only called on CPUs with AVX2.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "synth/grain_render.h"
#include "synth/utility.h"

#pragma GCC push_options
#pragma GCC target("avx2")
// No fused multiply-adds: every product is rounded as in the scalar reference.
#pragma GCC optimize("fp-contract=off")

#include "synth/grain_lanes.h"

namespace korvel::vimble {
namespace {

struct Avx2 {
  using V = __m256d;
  using M = __m256d;  // all bits set in a lane that holds
  using F = __m128;
  static constexpr int N = 4;
  static constexpr bool GATHERS = false;
  static void read_shared(const float*, int, V, V, V&, V&) {}

  static V set1(double x) { return _mm256_set1_pd(x); }
  static V zero() { return _mm256_setzero_pd(); }
  static V load(const double* a) { return _mm256_load_pd(a); }
  static V set(double a, double b, double c, double d) { return _mm256_setr_pd(a, b, c, d); }
  static void store(V v, double* a) { _mm256_store_pd(a, v); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
  static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V div(V a, V b) { return _mm256_div_pd(a, b); }
  static V sqrt(V a) { return _mm256_sqrt_pd(a); }
  static V inverse_sqrt_guess(V x) {
    const __m256i bits = _mm256_srli_epi64(_mm256_castpd_si256(x), 1);
    return _mm256_castsi256_pd(
        _mm256_sub_epi64(_mm256_set1_epi64x(static_cast<int64_t>(INVERSE_SQRT_MAGIC)), bits));
  }
  static V trunc(V a) { return _mm256_round_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
  static V absolute(V a) { return _mm256_andnot_pd(set1(-0.0), a); }
  static V negate(V a) { return _mm256_xor_pd(set1(-0.0), a); }
  static V bit_and(V a, V b) { return _mm256_and_pd(a, b); }
  static V bit_or(V a, V b) { return _mm256_or_pd(a, b); }

  static M lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static M le(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static M gt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  static M ge(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static M eq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
  static M neq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
  static M unordered(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_UNORD_Q); }
  static M both(M a, M b) { return _mm256_and_pd(a, b); }
  static M either(M a, M b) { return _mm256_or_pd(a, b); }
  static M unless(M not_these, M a) { return _mm256_andnot_pd(not_these, a); }
  static M no_lanes() { return _mm256_setzero_pd(); }
  static M all_lanes() { return _mm256_castsi256_pd(_mm256_set1_epi64x(-1)); }
  static V pick(M mask, V a, V b) { return _mm256_blendv_pd(b, a, mask); }
  static int bits(M m) { return _mm256_movemask_pd(m); }
  static bool any(M m) { return bits(m) != 0; }
  static bool all(M m) { return bits(m) == 0xF; }

  static void store_int(V whole, int32_t* out) {
    _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm256_cvttpd_epi32(whole));
  }
  static F fset1(float x) { return _mm_set1_ps(x); }
  static F fadd(F a, F b) { return _mm_add_ps(a, b); }
  static F fsub(F a, F b) { return _mm_sub_ps(a, b); }
  static F fmul(F a, F b) { return _mm_mul_ps(a, b); }
  static V widen(F a) { return _mm256_cvtps_pd(a); }
  // rows[j]: four values of lane j; out k: value k of every lane.
  static void transpose(const __m128* rows, F& a, F& b, F& c, F& d) {
    a = rows[0];
    b = rows[1];
    c = rows[2];
    d = rows[3];
    _MM_TRANSPOSE4_PS(a, b, c, d);
  }
  // Stores v as floats; lanes outside live (when masking) store -0.
  static void store_float(V v, M live, bool masking, float* out) {
    __m128 f = _mm256_cvtpd_ps(v);
    if (masking) {
      const __m128 dead = _mm256_cvtpd_ps(_mm256_andnot_pd(live, set1(-1.0)));
      f = _mm_blendv_ps(f, _mm_and_ps(dead, _mm_set1_ps(-0.0f)), dead);
    }
    _mm_store_ps(out, f);
  }
};

}  // namespace

void render_step_avx2(Grain* const* grains, size_t count, const double* gate, float* left,
                      float* right) noexcept {
  render_step_lanes<Avx2>(grains, count, gate, left, right);
}

}  // namespace korvel::vimble

#pragma GCC pop_options
