// A loaded sound: all frames as float with guard frames, and its three analysis tracks.
//
// Loading, on a worker thread (the constructor never throws; it ends in Ready or LoadFailed):
//
//   auto file = std::make_shared<audio::Soundfile>(path);      // may throw: cannot open/map
//   if (file->framecount() == 0) { placeholder->status = audio::SoundPack::InvalidFile; ... }
//   auto pack = std::make_shared<audio::SoundPack>(file, path);
//   if (pack->status == audio::SoundPack::Ready) { /* hand over to the engine */ }
//
// or all of it at once: auto pack = audio::load_sound_pack(path);
//
// Reading, on any thread once the pack is Ready (nothing in it changes after that):
//
//   const float* frame = &pack->samples[f * pack->format.channels]; // f <= framecount + 9
//   float level = pack->amplitude.values[std::size_t(f * pack->amplitude.step)];
//
// The samples hold framecount + 10 frames; the last 10 repeat the first 10, so an interpolating
// reader may run up to 10 frames past the end without wrapping.
#pragma once

#include "audio/analysis_track.h"
#include "audio/sound_file.h"
#include "audio/sound_format.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace audio {

class SoundPack {
public:
    // 0 to 5 are in progress, 6 to 9 failures, 10 success; above 5 means finished.
    enum Status : std::int32_t {
        NoStatus = 0,
        LookingForFile = 1,
        LoadingSound = 2,
        ReadingAmps = 3,
        ReadingPeaks = 4,
        ReadingNoise = 5,
        FileNotFound = 6,
        PathNotFound = 7,
        InvalidFile = 8,
        LoadFailed = 9,
        Ready = 10,
    };

    // Frames repeated after the end of the samples.
    static constexpr std::size_t GUARD_FRAMES = 10;

    // A placeholder for a load in progress: status NoStatus, default format, no samples.
    explicit SoundPack(std::wstring name);
    // Decodes and analyses the whole file; ends in Ready, or LoadFailed on any exception.
    // Runs on the loading thread; uses no shared mutable state, so loads may run in parallel.
    SoundPack(std::shared_ptr<Soundfile> file, std::wstring name) noexcept;

    SoundPack(const SoundPack&) = delete;
    SoundPack& operator=(const SoundPack&) = delete;
    virtual ~SoundPack() = default;

    SoundFormat format;
    std::wstring name;
    // Written by the loading thread, read by any thread while loading; atomic, so a reader that
    // sees Ready also sees the finished samples and tracks.
    std::atomic<std::int32_t> status{NoStatus};
    Amplitude amplitude;
    Noisiness noisiness;
    Peaks peaks;
    std::uint64_t framecount = 0;
    std::vector<float> samples; // interleaved; framecount + GUARD_FRAMES frames
};

// The name of a status value ("Ready", "InvalidFile", ...), or "unknown".
const char* status_name(std::int32_t status) noexcept;

// The whole load of one file, as the sound loader does it: FileNotFound when there is no file
// at the path (PathNotFound when its folder is missing too), InvalidFile for a file without
// frames, LoadFailed when it cannot be read, else the loaded pack. Never throws except for
// memory exhaustion making the placeholder; any thread.
std::shared_ptr<SoundPack> load_sound_pack(const std::wstring& path);
std::shared_ptr<SoundPack> load_sound_pack(const std::string& path);

} // namespace audio
