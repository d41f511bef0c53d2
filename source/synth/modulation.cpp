// Modulation sources of the parameter store and the summed modulation of a parameter.
//
// The engine calls these on the audio thread, once per grain start or control step: noexcept,
// no allocation. The editor may also sample a controller on a copy of its state (see
// controller_value(c)). A source value is in -1..1 (the sound source 0..1) before its amount.
#include <algorithm>
#include <cmath>
#include <random>

#include "audio/sound_analysis_pack.h"
#include "synth/midi_status.h"
#include "synth/synth.h"
#include "synth/synth_params.h"

namespace korvel::vimble {

namespace {

// Where random draws come from: the store's generator and distributions, or those of a thread.
struct Draws {
  std::minstd_rand& generator;
  std::normal_distribution<double>& normal;
  std::uniform_real_distribution<double>& uniform;
};

// The store's generator belongs to the audio thread. Other threads that sample a controller
// (the editor's grain sketch) draw from generators of their own, so that they neither race
// with the audio thread nor move a seeded render's sequence.
Draws thread_draws() noexcept {
  thread_local std::minstd_rand generator{1};
  thread_local std::normal_distribution<double> normal{0.0, 0.37};
  thread_local std::uniform_real_distribution<double> uniform{-1.0, 1.0};
  return {generator, normal, uniform};
}

// A draw in -1..1 whose spread x moves from near +-1 (x = -1) over uniform (0) to near 0 (1).
double draw(double x, Draws d) noexcept {
  const double xc = std::clamp(x, -1.0, 1.0);
  const double a = std::fabs(xc);
  double u = d.uniform(d.generator);
  if (a < 0.02) return u;
  double g = std::clamp(d.normal(d.generator), -1.0, 1.0);
  if ((g < 0) != (u < 0)) {
    if (a > 0.5) {
      g = -g;
    } else {
      u = -u;
    }
  }
  double v = a * g + (1 - a) * u;
  if (xc < 0) v = v > 0 ? 1 - v : -1 - v;  // fold outwards
  return v;
}

// Random walk: x is the walk (0 fresh draws, 1 steps of at most 0.03), y the spread of the
// draws (0 near the ends, 0.5 uniform, 1 near the middle). The new state is the value.
double random_walk(const Controller& c, double& state, Draws d) noexcept {
  const double walk = std::clamp(static_cast<double>(c.x().current), 0.0, 1.0);
  const double r = draw(2 * std::clamp(static_cast<double>(c.y().current), 0.0, 1.0) - 1, d);
  state = std::clamp(state * walk, -1.0, 1.0) + (1 - 0.97 * walk) * r;
  return state;
}

// The value of a track at fractional value index, read as single precision and interpolated
// linearly; an index past the last value wraps back (modulo count - 1).
double track_value(const std::vector<float>& values, double index) noexcept {
  const size_t count = values.size();
  if (count == 0) return 0;
  if (count == 1) return values[0];
  if (!(index >= 0 && index < 1e15)) return 0;  // not a position (a NaN offset from a host)
  const size_t last = count - 1;
  const double whole = std::floor(index);
  auto wrap = [last](double i) noexcept { return i > double(last) ? std::fmod(i, double(last)) : i; };
  const auto i0 = static_cast<size_t>(wrap(whole));
  const auto i1 = static_cast<size_t>(wrap(whole + 1));
  const float frac = static_cast<float>(index - whole);
  return values[i0] + frac * (values[i1] - values[i0]);
}

// The stream's sound without taking a reference: the engine's cache keeps it alive while it
// is installed, and the audio thread, which runs the modulation, is the one that changes it.
const audio::SoundPack* installed_sound(const Synth& synth) noexcept { return synth.stream.sound.get(); }

// A source's settings are read at their present (gliding) value.
double current(const BaseParam& p) noexcept { return p.current; }

}  // namespace

std::pair<double, double> SynthParams::get_modulated_value(int id, int slot) noexcept {
  if (id < 0 || id >= NUM_VALUE_PARAMS) return {0.0, 0.0};
  Param& param = params[id];
  const size_t slots = static_cast<size_t>(std::max<int>(param.nof_controls, 0));
  size_t first = 0;
  size_t end = slots;
  if (slot >= 0) {
    first = static_cast<size_t>(slot);
    end = std::min(first + 1, slots);
  }
  double sum = 0;
  double excess = 0;
  for (size_t k = first; k < end; ++k) {
    for (size_t push = 0; push < Param::RECORDS; ++push) {
      Controller& record = param.controls[k][push];
      if (!record.is_active()) continue;
      double state = record.state;
      sum += controller_value(record, state);
      if (state != record.state) record.state = state;
      const double amount = std::fabs(current(record.amount));
      // Controllers still fading out must not add up to more than a full modulation.
      if (push > 0 && amount > 0.5) excess += amount - 0.5;
    }
  }
  return {param.current, excess > 1 ? sum / excess : sum};
}

double SynthParams::controller_value(const Controller& c, double& state) noexcept {
  double value = 0;
  switch (static_cast<int>(c.type)) {
    case ParamControl::CT_Random: value = get_Rand_value(c, state); break;
    case ParamControl::CT_AmpNoise: value = get_Amps_value(c); break;
    case ParamControl::CT_LFO: value = get_LFO_value(c, state); break;
    case ParamControl::CT_MIDI: value = get_MIDI_value(c); break;
    case ParamControl::CT_ADSR: value = get_ADSR_value(c); break;
    case ParamControl::CT_Inner1:
    case ParamControl::CT_Inner2:
    case ParamControl::CT_Inner3: value = get_Inner_value(c); break;
    default: return 0;
  }
  return value * current(c.amount);
}

// The value of c on a copy of its state, for readers that must not move the controller (the
// editor's sketch of the grain stream); a Random controller draws from the caller's thread.
double SynthParams::controller_value(const Controller& c) noexcept {
  double state = c.state;
  if (static_cast<int>(c.type) == ParamControl::CT_Random)
    return random_walk(c, state, thread_draws()) * current(c.amount);
  return controller_value(c, state);
}

// Audio thread: the random walk on the store's generator.
double SynthParams::get_Rand_value(const Controller& c, double& state) noexcept {
  return random_walk(c, state, {random_generator, normal_distribution, uniform_distribution});
}

// Audio thread: one draw from the store's generator.
double SynthParams::random(double x) noexcept {
  return draw(x, {random_generator, normal_distribution, uniform_distribution});
}

// The sound's own amplitude and noisiness near the play position: x is an offset (frames
// within +-10, milliseconds beyond), y mixes amplitude (1) with noisiness (0). 0..1.
double SynthParams::get_Amps_value(const Controller& c) noexcept {
  const audio::SoundPack* pack = installed_sound(synth);
  if (!pack || pack->framecount == 0) return 0;
  const auto frames = static_cast<double>(pack->framecount);
  double offset = current(c.x());
  if (offset < -10 || offset > 10) offset *= 0.001 * pack->format.samplerate;
  double pos = static_cast<double>(sound_play_pos()) + offset;
  if (pos < 0) pos += frames;
  if (pos < 0 || pos > frames) {
    pos = std::fmod(pos, frames);
    if (pos < 0) pos += frames;
  }
  const double amplitude = track_value(pack->amplitude.values, pos * pack->amplitude.step);
  const double noisiness = track_value(pack->noisiness.values, pos * pack->noisiness.step);
  const double mix = std::clamp(current(c.y()), 0.0, 1.0);
  const double v = mix * amplitude + (1 - mix) * noisiness;
  return v > 0 ? std::sqrt(v) : 0;
}

// LFO: state is the phase (0..1, advanced by Param::update); x skews the turning point (-1 and 1
// give saws), y steepens both ramps and holds the ends (1 is almost square).
double SynthParams::get_LFO_value(const Controller& c, double& state) noexcept {
  const double turn = std::clamp(current(c.x()) + 1, 0.05, 1.95);  // in half periods
  const double p = 2 * state;
  const double squeeze = 1 - current(c.y());
  auto width = [](double w) noexcept { return std::isnan(w) ? 0.05 : std::max(0.05, w); };
  if (turn > p) {
    const double w = width(squeeze * turn);
    return p < w ? 2 * p / w - 1 : 1;
  }
  const double w = width(squeeze * (2 - turn));
  const double d = p - turn;
  return d < w ? 1 - 2 * d / w : -1;
}

// MIDI inputs on a pad: note (x, y near 0), velocity (x near 1, y near 0), pitch bend (x near 0,
// y near 1) and mod wheel (both near 1); in between, the neighbouring inputs are mixed.
double SynthParams::get_MIDI_value(const Controller& c) noexcept {
  const MidiStatus& midi = synth.midi;
  const double X = std::clamp(current(c.x()), 0.0, 1.0);
  const double Y = std::clamp(current(c.y()), 0.0, 1.0);
  // dx, dy: distance of (X, Y) from the input's corner along each axis.
  auto weight = [](double dx, double dy) noexcept {
    if (dx >= 0.7 || dy >= 0.7) return 0.0;    // outside the input's region
    if (dx <= 0.3 && dy <= 0.3) return 1.0;    // the input's corner
    return (1.4 - (dx + dy)) * 0.625;
  };
  const double sum = weight(X, Y) * ((midi.note - midi.base_note) / 64) +
                     weight(1 - X, Y) * current(midi.velocity) +
                     weight(X, 1 - Y) * current(midi.bend) +
                     weight(1 - X, 1 - Y) * current(midi.modwheel);
  return std::clamp(sum, -1.0, 1.0);
}

// Envelope mix: x = 1 is envelope 1, x = 0 envelope 2.
double SynthParams::get_ADSR_value(const Controller& c) noexcept {
  const double m = std::clamp(current(c.x()), 0.0, 1.0);
  return m * current(synth.midi.adsr1.output) + (1 - m) * current(synth.midi.adsr2.output);
}

// Another parameter of the instrument, chosen by x (its id), as a share of its range.
double SynthParams::get_Inner_value(const Controller& c) noexcept {
  const double x = c.x().target;
  if (!(x >= 2 && x < NUM_VALUE_PARAMS)) return 0;  // NaN included
  const int p = static_cast<int>(x);
  if (p == 6) return std::clamp(0.5 * std::pow(std::max<double>(density, 0.0), 0.3), 0.0, 4.0);
  if (p == 3) {
    const audio::SoundPack* pack = installed_sound(synth);
    if (!pack || pack->framecount == 0) return 0;
    return static_cast<double>(sound_play_pos()) / static_cast<double>(pack->framecount);
  }
  const ParamInfo::Defaults& range = ParamInfo::getParamInfo(p).defaults;
  // A parameter without a range (the sound file name, point 0's delta) has no share of it.
  if (range.max == 0) return 0;
  const double v = params[p].current / range.max;
  if (range.scaling_type != ParamInfo::ST_Cubic) return v;
  return range.max > 1000 ? std::cbrt(std::cbrt(v)) : std::cbrt(v);
}

}  // namespace korvel::vimble
