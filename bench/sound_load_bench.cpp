// Loading a long sound: a 10-minute stereo 44.1 kHz 16-bit WAVE file into a ready sound pack
// (decode and the three analyses), beside libsndfile decoding the same file to float.
//
//   build/bin/bench_sound_load
//
// The file is written into a temporary folder when the program starts and removed at its end.
#include "audio/analysis_track.h"
#include "audio/sound_analysis_pack.h"
#include "audio/sound_file.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t RATE = 44100;
constexpr std::uint32_t CHANNELS = 2;
constexpr std::uint64_t FRAMES = 10ull * 60 * RATE;

std::string sound_path; // set once in main before any benchmark runs

// A tone gliding over the minutes, with a little noise, so that every analysis has work to do.
void write_sound(const std::string& path)
{
    const std::uint32_t data_bytes = static_cast<std::uint32_t>(FRAMES * CHANNELS * 2);
    std::ofstream out(path, std::ios::binary);
    const auto put = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(static_cast<char>(v >> (8 * i)));
    };
    out.write("RIFF", 4);
    put(36 + data_bytes, 4);
    out.write("WAVEfmt ", 8);
    put(16, 4);
    put(1, 2);
    put(CHANNELS, 2);
    put(RATE, 4);
    put(RATE * CHANNELS * 2, 4);
    put(CHANNELS * 2, 2);
    put(16, 2);
    out.write("data", 4);
    put(data_bytes, 4);

    std::minstd_rand random(1);
    std::uniform_int_distribution<int> noise(-800, 800);
    std::vector<std::int16_t> block(RATE * CHANNELS);
    double phase = 0;
    for (std::uint64_t f = 0; f < FRAMES;) {
        std::size_t n = 0;
        for (; n < RATE && f < FRAMES; ++n, ++f) {
            phase += 2 * std::numbers::pi * (110 + 880.0 * static_cast<double>(f) / FRAMES) / RATE;
            const double v = 20000 * std::sin(phase);
            block[2 * n] = static_cast<std::int16_t>(v + noise(random));
            block[2 * n + 1] = static_cast<std::int16_t>(-v + noise(random));
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n * CHANNELS * 2));
    }
}

void BM_SoundPackLoad(benchmark::State& state)
{
    for (auto _ : state) {
        auto pack = audio::load_sound_pack(sound_path);
        if (pack->status != audio::SoundPack::Ready || pack->framecount != FRAMES)
            state.SkipWithError("the sound did not load");
        benchmark::DoNotOptimize(pack->samples.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FRAMES * CHANNELS * 2));
}

void BM_LibsndfileDecodeFloat(benchmark::State& state)
{
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* file = sf_open(sound_path.c_str(), SFM_READ, &info);
        if (!file) {
            state.SkipWithError("libsndfile cannot open the sound");
            break;
        }
        std::vector<float> samples(static_cast<std::size_t>(info.frames) * info.channels);
        const sf_count_t read = sf_readf_float(file, samples.data(), info.frames);
        sf_close(file);
        if (read != static_cast<sf_count_t>(FRAMES))
            state.SkipWithError("libsndfile read too few frames");
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FRAMES * CHANNELS * 2));
}

// The parts of a load, for finding where its time goes.
void BM_DecodeOnly(benchmark::State& state)
{
    for (auto _ : state) {
        audio::Soundfile file(sound_path);
        const audio::Codec& codec = *file.codec;
        std::vector<float> samples((file.framecount() + 10) * CHANNELS);
        codec.decoders[audio::FLOAT_INDEX](codec.frames_begin(), samples.data(), file.framecount() * CHANNELS);
        benchmark::DoNotOptimize(samples.data());
    }
}

template <typename Track>
void BM_Analysis(benchmark::State& state)
{
    auto pack = audio::load_sound_pack(sound_path);
    for (auto _ : state) {
        Track track;
        track.assign(pack->format, pack->samples);
        benchmark::DoNotOptimize(track.values.data());
    }
}

} // namespace

BENCHMARK(BM_SoundPackLoad)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibsndfileDecodeFloat)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Analysis<audio::Amplitude>)->Name("BM_Amplitude")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Analysis<audio::Peaks>)->Name("BM_Peaks")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Analysis<audio::Noisiness>)->Name("BM_Noisiness")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::string pattern = (std::filesystem::temp_directory_path() / "vimble-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("bench_sound_load: temporary folder");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    sound_path = (folder / "ten-minutes.wav").string();
    write_sound(sound_path);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(folder);
    return 0;
}
