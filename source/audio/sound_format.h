// The format of a sound: sample rate, channels and the sample type stored in the file.
#pragma once

#include <cstdint>

namespace audio {

struct SoundFormat {
    // The low four bits of a value are the bytes per sample. Int32 carries a high bit of its
    // own so that 32-bit integer files are not taken for float files of the same width.
    enum DataType : std::uint32_t {
        Byte = 1,     // signed 8-bit integer
        Short = 2,    // 16-bit integer
        Int24 = 3,    // 24-bit integer, three bytes
        Float = 4,    // 32-bit IEEE float
        Double = 8,   // 64-bit IEEE float
        Int32 = 0x14, // 32-bit integer
    };

    std::uint32_t samplerate = 44100; // frames per second
    std::uint32_t channels = 2;       // samples per frame, interleaved
    DataType type = Short;

    friend bool operator==(const SoundFormat&, const SoundFormat&) = default;
};

// Bytes one sample of the type takes in a file.
constexpr unsigned bytes_per_sample(SoundFormat::DataType type) noexcept
{
    return static_cast<unsigned>(type) & 0xFu;
}

// "Short", "Int24", ... ; "unknown" for any other value.
const char* data_type_name(SoundFormat::DataType type) noexcept;

} // namespace audio
