// Modulation sources of the parameter store. (Placeholder: no controller modulates yet; every
// source reads 0 and get_modulated_value gives the current value with zero modulation.)
#include "synth/synth_params.h"

namespace korvel::vimble {

std::pair<double, double> SynthParams::get_modulated_value(int id, int) noexcept {
  if (id < 0 || id >= NUM_VALUE_PARAMS) return {0.0, 0.0};
  return {params[id].current, 0.0};
}

double SynthParams::controller_value(const Controller&, double&) noexcept { return 0; }
double SynthParams::controller_value(const Controller&) noexcept { return 0; }
double SynthParams::get_Rand_value(const Controller&, double&) noexcept { return 0; }
double SynthParams::get_Amps_value(const Controller&) noexcept { return 0; }
double SynthParams::get_LFO_value(const Controller&, double&) noexcept { return 0; }
double SynthParams::get_MIDI_value(const Controller&) noexcept { return 0; }
double SynthParams::get_ADSR_value(const Controller&) noexcept { return 0; }
double SynthParams::get_Inner_value(const Controller&) noexcept { return 0; }
double SynthParams::random(double) noexcept { return 0; }

}  // namespace korvel::vimble
