// Small numeric helpers of the engine: smooth ramps, soft clipping and grain pitch conversions.
//
// Everything here is noexcept, allocation-free and safe on the audio thread.
//
//   double y = clipping(x);                       // soft limit to [-1, 1]
//   double r = pitch_value_to_ratio(13.0, 0.0);   // 2.0: one octave up
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>

namespace korvel::vimble {

// A smooth ramp from low to high (not from 0 to 1): low at x <= low, high at x >= high,
// low + (high - low) * u^2 * (3 - 2u) in between, with u the position of x in [low, high].
inline double smoothstep(double x, double low, double high) noexcept {
  assert(low < high && "low < high");
  if (x >= high) return high;
  if (x <= low) return low;
  const double u = (x - low) / (high - low);
  return low + (high - low) * u * u * (3.0 - 2.0 * u);
}

// Soft clipping: unchanged within [-0.9, 0.9], a smooth knee up to +-1, saturated beyond.
// Continuous at +-0.9 because the ramp from 0.8 to 1 passes 0.9 there.
inline double clipping(double x) noexcept {
  if (x > 0.9) return x >= 1.0 ? 1.0 : smoothstep(x, 0.8, 1.0);
  if (x < -0.9) return x <= -1.0 ? -1.0 : smoothstep(x, -1.0, -0.8);
  return x;
}

// Grain pitch values ("grain.freq"): a magnitude below LINEAR_PITCH_LIMIT is a direct speed
// ratio (the linear region); from there up to 1 it is a frequency ratio rounded to whole
// semitones; from 1 up it is 1 + semitones. A negative value means reversed playback.
inline constexpr double LINEAR_PITCH_LIMIT = 1.0 / 48.0;
// Semitones are limited to five octaves either way.
inline constexpr double MAX_PITCH_SEMITONES = 60.0;
// The MIDI note that plays a grain at its unchanged pitch.
inline constexpr int BASE_NOTE = 60;

inline double semitones_to_ratio(double semitones) noexcept { return std::exp2(semitones / 12.0); }

// ratio > 0.
inline double ratio_to_semitones(double ratio) noexcept { return 12.0 * std::log2(ratio); }

inline bool pitch_is_linear(double pitch_value) noexcept {
  return std::fabs(pitch_value) < LINEAR_PITCH_LIMIT;
}

// The semitone offset a pitch value stands for (its magnitude; the sign is ignored).
// Only meaningful outside the linear region.
inline double pitch_value_to_semitones(double pitch_value) noexcept {
  const double a = std::fabs(pitch_value);
  return a < 1.0 ? std::round(ratio_to_semitones(a)) : a - 1.0;
}

// The playback speed ratio of a grain pitch value, with the transposition of a held note
// (semitones from BASE_NOTE; 0 without notes) and a controller sum m (about -1..1).
// Linear region: the note adds 0.01 per semitone and m adds 0.25 per unit; semitone region:
// the pitch is rounded to hundredths and m adds 36 semitones per unit. The result is limited
// to +-60 (ratio or semitones) and negated for reversed playback (pitch_value < 0).
inline double pitch_value_to_ratio(double pitch_value, double modulation,
                                   double note_semitones = 0.0) noexcept {
  double ratio;
  if (pitch_is_linear(pitch_value)) {
    const double a = std::fabs(pitch_value) + 0.01 * note_semitones;
    ratio = std::clamp(a + 0.25 * modulation, -MAX_PITCH_SEMITONES, MAX_PITCH_SEMITONES);
  } else {
    double a = pitch_value_to_semitones(pitch_value) + note_semitones;
    a = std::round(100.0 * a) / 100.0;
    const double w =
        std::clamp(a + 36.0 * modulation, -MAX_PITCH_SEMITONES, MAX_PITCH_SEMITONES);
    ratio = semitones_to_ratio(w);
  }
  return pitch_value < 0 ? -ratio : ratio;
}

// The factor a glissando of v semitones with controller sum m reaches at the grain's end.
inline double glissando_factor(double semitones, double modulation) noexcept {
  return semitones_to_ratio(semitones + 12.0 * modulation + semitones * modulation);
}

}  // namespace korvel::vimble
