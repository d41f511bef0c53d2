// Engine throughput: three workloads rendered through the engine directly, reported as the
// real-time factor (audio seconds per CPU second of the rendering thread) and grain-samples per
// CPU second. W1 "texture": 200 grains/s of 100 ms, ratio 1, no effects, 60 s; W2 "dense":
// 2000 grains/s of 500 ms (the pool of 1000 stays full), ratio 1.5, no effects, 20 s; W2 with
// clip, bit crusher, the dual filter (all three mixes) and the delay. The *_scalar runs use the
// reference renderer; the others the fastest one the CPU runs (AVX-512, else AVX2).
//
//   build/bin/bench_engine
//   build/bin/bench_engine --benchmark_filter=scalar
//
// Where the time of the third workload goes: NOCLIP=1, NOCRUSH=1, NOFILTER=1 or NOSEND=1 in the
// environment leave that setting out (the crusher stays on while the clip is on, which lowers
// its bit depth below the off threshold).
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "synth/grain_render.h"
#include "synth/synth.h"

namespace {

using korvel::vimble::Synth;

constexpr double RATE = 44100.0;
constexpr int BLOCK = 512;

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

// Ten seconds of a stereo chord with some noise, ready as if loaded.
std::shared_ptr<audio::SoundPack> make_sound() {
  auto pack = std::make_shared<audio::SoundPack>(L"bench.wav");
  const size_t frames = 10 * 44100;
  pack->format.samplerate = 44100;
  pack->format.channels = 2;
  pack->framecount = frames;
  pack->samples.resize((frames + audio::SoundPack::GUARD_FRAMES) * 2);
  uint32_t noise = 1;
  for (size_t i = 0; i < frames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = i / 44100.0;
    const double n = (noise >> 8) / double(1 << 24) - 0.5;
    pack->samples[2 * i] = float(0.4 * std::sin(2 * M_PI * 220 * t) + 0.1 * n);
    pack->samples[2 * i + 1] = float(0.4 * std::sin(2 * M_PI * 330 * t) + 0.1 * n);
  }
  for (size_t i = 0; i < audio::SoundPack::GUARD_FRAMES * 2; ++i)
    pack->samples[frames * 2 + i] = pack->samples[i];
  pack->status = audio::SoundPack::Ready;
  return pack;
}

struct Workload {
  double grains_per_second;
  double length_ms;
  double pitch;  // "grain.freq": 1 unchanged, 8.02 is 7.02 semitones up (ratio 1.5002)
  bool effects;
  double seconds;
};

void run(benchmark::State& state, const Workload& w, bool scalar) {
  const auto sound = make_sound();
  for (auto _ : state) {
    state.PauseTiming();
    auto synth = std::make_unique<Synth>();
    synth->set_framerate(RATE);
    if (scalar) synth->set_renderer(&korvel::vimble::render_step_scalar);
    auto& p = synth->params;
    p.changeValue(4, w.grains_per_second, 0);
    p.changeValue(5, w.length_ms, 0);
    p.changeValue(7, w.pitch, 0);
    if (w.effects) {
      if (!getenv("NOCLIP")) p.changeValue(13, 2.0, 0);    // clip
      if (!getenv("NOCRUSH")) p.changeValue(14, 8.0, 0);    // 8 bits
      if (!getenv("NOFILTER")) {
      p.changeValue(18, 0.3, 0);    // dual filter, all three mixes
      p.changeValue(19, 0.3, 0);
      p.changeValue(20, 0.3, 0);
      }
      p.changeValue(23, 250.0, 0);  // delay
      // The density compensation (1/sqrt(500) here) scales the send too: a feedback of 0.8
      // keeps it above the 0.03 below which a send is off.
      p.changeValue(24, getenv("NOSEND") ? 0.0 : 0.8, 0);
    }
    synth->set_sound(sound);
    synth->start();
    std::vector<float> left(BLOCK), right(BLOCK);
    float* outputs[2] = {left.data(), right.data()};
    const int blocks = int(w.seconds * RATE / BLOCK);
    double grain_samples = 0;
    state.ResumeTiming();
    const double begin = thread_seconds();
    for (int b = 0; b < blocks; ++b) {
      synth->generate(nullptr, outputs, BLOCK);
      grain_samples += double(synth->active_grain_count()) * BLOCK;
      benchmark::DoNotOptimize(left.data());
    }
    const double cpu = thread_seconds() - begin;
    state.PauseTiming();
    const double audio_seconds = blocks * double(BLOCK) / RATE;
    state.counters["realtime_x"] = audio_seconds / cpu;
    state.counters["grain_samples_per_s"] = grain_samples / cpu;
    state.counters["ns_per_grain_sample"] = 1e9 * cpu / grain_samples;
    synth.reset();
    state.ResumeTiming();
  }
}

const Workload W1{200, 100, 1.0, false, 60};
const Workload W2{2000, 500, 8.02, false, 20};
const Workload W2_EFFECTS{2000, 500, 8.02, true, 20};

void BM_W1_texture(benchmark::State& s) { run(s, W1, false); }
void BM_W2_dense(benchmark::State& s) { run(s, W2, false); }
void BM_W2_dense_effects(benchmark::State& s) { run(s, W2_EFFECTS, false); }
void BM_W1_texture_scalar(benchmark::State& s) { run(s, W1, true); }
void BM_W2_dense_scalar(benchmark::State& s) { run(s, W2, true); }
void BM_W2_dense_effects_scalar(benchmark::State& s) { run(s, W2_EFFECTS, true); }

BENCHMARK(BM_W1_texture)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_W2_dense)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_W2_dense_effects)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_W1_texture_scalar)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_W2_dense_scalar)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_W2_dense_effects_scalar)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
