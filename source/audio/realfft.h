// In-place split-radix FFT of real input.
//
//   double block[64] = {...};          // 64 real samples
//   audio::realfft_split(block, 64);   // block[k] = Re X[k] / 64 for k = 0..32,
//                                      // block[64 - k] = Im X[k] / 64 for k = 1..31
#pragma once

namespace audio {

// n is a power of two, at least 2. data holds n real samples and receives the spectrum scaled
// by 1/n: data[k] = Re X[k] / n for k = 0 .. n/2, data[n - k] = Im X[k] / n for k = 1 .. n/2 - 1.
// No allocation; any thread.
void realfft_split(double* data, long n) noexcept;

} // namespace audio
