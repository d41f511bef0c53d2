// The parameter model's audio-thread work: one control step of glides, and the host's reads.
#include <benchmark/benchmark.h>

#include "synth/synth.h"
#include "synth/synth_params.h"

namespace {

using korvel::vimble::ParamControl;
using korvel::vimble::ParamInfo;
using korvel::vimble::Synth;

// Every parameter gliding and every slot carrying a live and a fading controller: the most a
// control step has to advance.
void busy_store(Synth& synth) {
  auto& params = synth.params;
  synth.stream.state = 4;
  params.set_option(56, 600);
  for (int id = 0; id <= 54; ++id) {
    const auto& d = ParamInfo::getParamInfo(id).defaults;
    params.changeValue(id, d.max, 600);
    for (int k = 0; k < params.params[id].nof_controls; ++k) {
      const int first = ParamInfo::getParamInfo(id).control_id + 5 * k;
      params.changeValue(first, ParamControl::CT_Random, 0);
      params.changeValue(first + 1, 0.5, 0);
      params.changeValue(first, ParamControl::CT_LFO, 600);
      params.changeValue(first + 1, 0.5, 600);
    }
  }
}

void BM_ControlStep(benchmark::State& state) {
  Synth synth;
  busy_store(synth);
  for (auto _ : state) {
    synth.params.update_params(1e-9);  // glides barely move, so every step does the full work
    synth.params.update_density();
    benchmark::DoNotOptimize(synth.params.density.load());
  }
}
BENCHMARK(BM_ControlStep);

void BM_HostReadAll(benchmark::State& state) {
  Synth synth;
  busy_store(synth);
  for (auto _ : state) {
    double sum = 0;
    for (int id = 0; id < 180; ++id) sum += synth.params.getNormalValue(id);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_HostReadAll);

}  // namespace

BENCHMARK_MAIN();
