// Cost of the modulation a grain start reads (the 14 modulated parameters with every slot in
// use) and of note events on a full note stack.
//
//   build/bin/bench_modulation
#include <benchmark/benchmark.h>

#include <memory>

#include "synth/midi_status.h"
#include "synth/synth.h"

namespace {

using korvel::vimble::ParamControl;
using korvel::vimble::PatchParam;
using korvel::vimble::Synth;

// The parameters a grain start asks for, with the slot it asks for (-1 both).
constexpr int GRAIN_IDS[][2] = {{3, -1}, {5, -1}, {7, -1},  {8, -1},  {9, -1},
                                {10, -1}, {13, 0}, {12, 0}, {11, 0}, {14, 0},
                                {18, 0},  {16, 0}, {23, 0}, {24, 0}};

// Every slot of every grain parameter gets a controller, the types taken in turn.
void fill_controllers(Synth& synth) {
  int type = ParamControl::CT_Random;
  for (const auto& [id, slot] : GRAIN_IDS) {
    auto& param = synth.params.params[id];
    for (int k = 0; k < param.nof_controls; ++k) {
      PatchParam::PatchController pc;
      pc.type = type;
      pc.amount = 0.5;
      pc.params[0] = type >= ParamControl::CT_Inner1 ? 5 : 0.3;
      pc.params[1] = 0.6;
      pc.params[2] = 0.5;
      param.apply_control_patch(static_cast<size_t>(k), pc, 0);
      type = type == ParamControl::CT_Inner3 ? ParamControl::CT_Random : type + 1;
    }
  }
}

void BM_GrainStartModulation(benchmark::State& state) {
  auto synth = std::make_unique<Synth>();
  synth->params.set_random_seed(1);
  fill_controllers(*synth);
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [id, slot] : GRAIN_IDS) sum += synth->params.get_modulated_value(id, slot).second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations());  // grain starts
}
BENCHMARK(BM_GrainStartModulation);

// A note on and off while every other key of every channel is held.
void BM_NoteOnOffOnAFullStack(benchmark::State& state) {
  auto synth = std::make_unique<Synth>();
  korvel::vimble::MidiStatus& midi = synth->midi;
  Midi::Event e;
  e.velocity = 100;
  for (int channel = 0; channel < 16; ++channel) {
    for (int note = 0; note < 128; ++note) {
      e.type = 0x90;
      e.channel = static_cast<uint8_t>(channel);
      e.note = static_cast<uint8_t>(note);
      midi.midi_event(e, true, synth->params, 44100);
    }
  }
  e.channel = 7;
  e.note = 64;
  for (auto _ : state) {
    e.type = 0x90;
    midi.midi_event(e, true, synth->params, 44100);
    e.type = 0x80;
    midi.midi_event(e, true, synth->params, 44100);
    benchmark::DoNotOptimize(midi.note);
  }
  state.SetItemsProcessed(2 * state.iterations());  // events
}
BENCHMARK(BM_NoteOnOffOnAFullStack);

}  // namespace

BENCHMARK_MAIN();
