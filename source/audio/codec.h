// The base of sound file codecs: format, owned mapping, and the decoders into memory types.
#pragma once

#include "audio/file_mapping.h"
#include "audio/pod_conversions.h"
#include "audio/sound_format.h"

#include <array>
#include <cstdint>
#include <memory>

namespace audio {

class Codec {
public:
    explicit Codec(std::unique_ptr<FileMapping> mapping, std::uint32_t header) noexcept
        : header_type(header), file(std::move(mapping))
    {
    }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
    virtual ~Codec() = default;

    virtual std::uint64_t framecount() const = 0;
    // The first frame; framecount() × channels samples of the file type follow it.
    virtual const char* frames_begin() const = 0;

    std::uint32_t header_type = 0; // Soundfile::WAV or Soundfile::AIFF
    SoundFormat format;
    std::unique_ptr<FileMapping> file;
    // decoders[i] converts file samples into memory type i (0 byte, 1 short, 2 int24, 3 float,
    // 4 double); an entry may be empty.
    std::array<ConversionFunction, SAMPLE_TYPES> decoders{};
};

} // namespace audio
