// Reciprocal square roots without the divider: a first guess from the bits of the argument,
// refined by Newton steps. The renderers run the same operations per lane, so they give the
// same bits as the scalar code.
//
//   if (inverse_sqrt_applies(x)) y = inverse_sqrt(x);   // 1/sqrt(x), relative error < 4e-11
//   else y = 1.0 / std::sqrt(x);
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>

namespace korvel::vimble {

// Halving and negating the exponent in the bits of x gives 1/sqrt(x) within 3.5 % for any
// positive normal double (the constant also balances the error over the mantissa).
inline constexpr uint64_t INVERSE_SQRT_MAGIC = 0x5FE6EB50C7B537A9;
// Each Newton step takes a relative error e to about 1.5 e^2: 3.5 % -> 1.8e-3 -> 4.6e-6 ->
// 3.2e-11 (then the roundings, far smaller).
inline constexpr int INVERSE_SQRT_STEPS = 3;

// Whether inverse_sqrt gives 1/sqrt(x) to that precision: x positive, normal and finite.
inline bool inverse_sqrt_applies(double x) noexcept { return x >= DBL_MIN && x <= DBL_MAX; }

inline double inverse_sqrt_guess(double x) noexcept {
  return std::bit_cast<double>(INVERSE_SQRT_MAGIC - (std::bit_cast<uint64_t>(x) >> 1));
}

// One Newton step for 1/sqrt(x), given half_x = x/2 and the estimate y.
inline double inverse_sqrt_step(double half_x, double y) noexcept {
  return y * (1.5 - half_x * y * y);
}

// 1/sqrt(x) for inverse_sqrt_applies(x) (the result is meaningless otherwise).
inline double inverse_sqrt(double x) noexcept {
  const double half_x = 0.5 * x;
  double y = inverse_sqrt_guess(x);
#pragma GCC unroll 8
  for (int i = 0; i < INVERSE_SQRT_STEPS; ++i) y = inverse_sqrt_step(half_x, y);
  return y;
}

}  // namespace korvel::vimble
