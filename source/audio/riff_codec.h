// The codec of RIFF/WAVE (little-endian) and FORM/AIFF or AIFF-C (big-endian) files.
#pragma once

#include "audio/codec.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace audio {

class RiffCodec : public Codec {
public:
    struct Chunk {
        std::uint64_t offset = 0;           // position of the chunk's 8-byte header
        std::array<char, 4> id{};           // as stored in the file: "fmt ", "data", "COMM", ...
        std::uint32_t size = 0;             // the size field, in host order
    };

    // Reads the header of the mapped file. Never reads outside the mapping: a file it cannot
    // read gives a codec with no frames and no decoders.
    RiffCodec(std::unique_ptr<FileMapping> mapping, std::uint32_t header);

    std::uint64_t framecount() const override { return frame_count; }
    const char* frames_begin() const override;

    bool little_endian = false;
    Chunk format_chunk; // "fmt " or "COMM"; offset 0 when there is none
    Chunk data_chunk;   // "data" or "SSND"
    std::uint64_t frames_offset = 0;
    std::uint64_t frame_count = 0;
    std::vector<Chunk> chunks;

    // What the header said, for diagnostics.
    std::array<char, 4> form_type{};   // "WAVE", "AIFF", "AIFC"
    std::uint16_t format_tag = 0;      // WAVE format tag (0xFFFE for extensible files)
    std::uint16_t sub_format = 0;      // the sub-format tag of an extensible WAVE file
    std::array<char, 4> compression{}; // AIFF-C compression type
    std::uint16_t bits = 0;            // bits per sample as stored in the header
    bool supported = false;            // whether the sample encoding is one the codec decodes
};

// Makes a RiffCodec for the mapping (header Soundfile::WAV or Soundfile::AIFF); owns the mapping.
std::unique_ptr<Codec> Get_RIFF_Reader(std::unique_ptr<FileMapping> mapping, std::uint32_t header);

} // namespace audio
