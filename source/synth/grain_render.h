// The per-sample rendering of grains: one 8-frame step of every active grain.
#pragma once

#include <cstddef>

#include "synth/grain.h"

namespace korvel::vimble {

// Frames per render step.
inline constexpr int STEP_FRAMES = 8;

// Renders one step of grains[0..count) in this order, each sample as: 4-point read, advance
// and wrap, distortion, dual filter, envelope (times gate[i] when gate is not null), gains,
// delay send, soft clip, added in single precision into left[i] and right[i]. A grain whose
// sample turns non-finite is stopped there (count = length) and adds nothing more. Grains with a
// send write into their delay line in the same order. Audio thread; noexcept, no allocation.
using RenderStepFn = void (*)(Grain* const* grains, size_t count, const double* gate, float* left,
                              float* right) noexcept;

// The reference: one grain after the other.
void render_step_scalar(Grain* const* grains, size_t count, const double* gate, float* left,
                        float* right) noexcept;
// The same results (bit for bit), four grains at a time with AVX2. Only on CPUs that have it.
void render_step_avx2(Grain* const* grains, size_t count, const double* gate, float* left,
                      float* right) noexcept;
// The same with AVX-512 (F and VL), eight grains at a time.
void render_step_avx512(Grain* const* grains, size_t count, const double* gate, float* left,
                        float* right) noexcept;
bool cpu_has_avx2() noexcept;
bool cpu_has_avx512() noexcept;
// The fastest renderer this CPU runs.
RenderStepFn best_render_step() noexcept;

// One grain for up to one step, scalar (the vector renderer uses it for grains it does not
// take, for example folding ones).
void render_grain_scalar(Grain& g, const double* gate, float* left, float* right) noexcept;

}  // namespace korvel::vimble
