// Fuzzing the sound loader: a sound file from arbitrary bytes, decoded and analysed into a pack.
#include "audio/sound_analysis_pack.h"
#include "audio/sound_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Held in a buffer of exactly the input's size, so any read past the file's end is caught.
    std::vector<char> bytes(data, data + size);
    auto file = std::make_shared<audio::Soundfile>(audio::FileMapping::hold(std::move(bytes)));
    audio::SoundPack pack(file, L"fuzz");
    if (pack.status != audio::SoundPack::Ready)
        __builtin_trap();

    // The guard frames must be there for readers that run past the end.
    const std::size_t channels = pack.format.channels;
    if (pack.samples.size() != (pack.framecount + audio::SoundPack::GUARD_FRAMES) * channels)
        __builtin_trap();
    volatile float sink = 0;
    for (std::size_t c = 0; c < channels; ++c)
        sink = sink + pack.samples[(pack.framecount + audio::SoundPack::GUARD_FRAMES - 1) * channels + c];

    // Zoomed reads at the track ends and past them, as the waveform view makes them.
    const unsigned n = static_cast<unsigned>(pack.amplitude.values.size());
    for (unsigned index : {0u, n / 2, n, n + 7, 0xFFFFFFFFu})
        for (float zoom : {1.0f, 2.0f, 7.5f, 1e9f}) {
            sink = sink + pack.amplitude.at_zoom(index, zoom);
            sink = sink + pack.peaks.at_zoom(index, zoom).first;
        }
    return 0;
}
