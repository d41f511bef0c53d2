// Grains: one enveloped reading of the current sound, fixed at its start, with its own effects.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "synth/delay.h"
#include "synth/delay_buffer.h"
#include "synth/distortion.h"
#include "synth/dual_svf.h"

namespace audio {
class SoundPack;
}

namespace korvel::vimble {

// The samples a grain reads: interleaved float frames that carry at least 4 guard frames after
// the last one repeating the first ones (a sound pack carries 10).
struct SoundView {
  const float* samples = nullptr;
  int32_t frames = 0;
  int32_t channels = 1;
  double samplerate = 44100.0;
};

// Everything a grain start reads, sampled once: current values (v) and controller sums (m) of
// the parameters 0..24, and what the engine adds to them.
struct GrainInputs {
  static constexpr int COUNT = 25;
  std::array<double, COUNT> v{};
  std::array<double, COUNT> m{};
  double density = 0.0;       // the store's average grain overlap
  double compensation = 1.0;  // "density.compensation"
  double framerate = 44100.0;
  int32_t sel_end = 0;        // the stream's selection end
  double stream_pos = 0.0;    // the stream's play position
  double note_semitones = 0.0;  // held note minus the base note while notes drive the engine
};

// One record of the engine's pool: the grain's course as started. The fields the renderer
// reads every step sit together at the front (the envelope's cosine recurrence and the view of
// the samples among them); the effects' settings and states follow.
struct Grain {
  Grain* next = nullptr;
  std::shared_ptr<audio::SoundPack> sound;
  int32_t count = 0;   // samples rendered so far
  int32_t length = 0;  // total samples; the grain is finished when count >= length
  int32_t wrap_frames = 0;
  int32_t attack_end = 0;
  int32_t decay_start = 0;
  double env_phase = 0.0;
  double env_step = 0.0;
  double pos = 0.0;  // read position in frames of the sound
  double inc = 0.0;  // frames per sample
  double inc_step = 0.0;
  double gain_left = 0.0;
  double gain_right = 0.0;
  // cos/sin of env_phase, advanced by rotation instead of calling cos per sample (the error
  // stays far below 1e-6 over the longest grain), and the rotation of the current ramp.
  double env_cos = 0.0;
  double env_sin = 0.0;
  double rot_cos = 1.0;
  double rot_sin = 0.0;
  // The decay ramp, known at the start: its step and that step's cos/sin.
  double decay_step = 0.0;
  double decay_cos = 1.0;
  double decay_sin = 0.0;
  SoundView view;
  Distortion distortion;
  DualSVF filter_left;
  DualSVF filter_right;
  Delay delay;


  bool finished() const noexcept { return count >= length; }
  // Effects that take part in rendering (decided at the start).
  bool distorts() const noexcept {
    return distortion.clip != 0.0 || distortion.crush_left.levels != 0.0 || distortion.tone < 1.0;
  }
  bool filters() const noexcept { return filter_left.dry < DualSVF::BYPASS_DRY; }
  bool folds() const noexcept { return distortion.clip < 0.0; }
};

// Fixes a grain's whole course from the inputs (everything of a grain start but taking the
// record from the pool and linking it). The record's sound reference is the caller's business.
// delay_line may be null (no send). Audio thread; noexcept, no allocation.
void start_grain(Grain& g, const GrainInputs& in, const SoundView& sound,
                 DelayBuffer* delay_line) noexcept;

// The envelope value of the grain's current sample, advancing its envelope state; the rule the
// renderers follow (exposed for tests).
double grain_envelope(Grain& g) noexcept;

}  // namespace korvel::vimble
