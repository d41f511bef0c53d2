// A sound file on disk, memory-mapped read-only, with the codec that knows its frames.
//
//   audio::Soundfile file("loop.wav");
//   if (file.framecount() > 0) {
//       const audio::Codec& codec = *file.codec;
//       std::vector<float> samples(file.framecount() * codec.format.channels);
//       codec.decoders[audio::FLOAT_INDEX](codec.frames_begin(), samples.data(), samples.size());
//   }
#pragma once

#include "audio/codec.h"

#include <cstdint>
#include <memory>
#include <string>

namespace audio {

class Soundfile {
public:
    enum HeaderType : std::uint32_t { WAV = 0x10000, AIFF = 0x20000 };

    // Map the whole file read-only and read its header. Throw when the file cannot be opened or
    // mapped (or a wide path is not valid Unicode); a file that is not a RIFF or FORM file opens
    // without a codec. Any thread.
    explicit Soundfile(const std::string& path);
    explicit Soundfile(const std::wstring& path);
    // A sound file from bytes already in memory.
    explicit Soundfile(std::unique_ptr<FileMapping> mapping);

    Soundfile(const Soundfile&) = delete;
    Soundfile& operator=(const Soundfile&) = delete;

    std::uint64_t framecount() const { return codec ? codec->framecount() : 0; }
    std::uint64_t size() const { return codec ? codec->file->size() : 0; }

    std::unique_ptr<Codec> codec; // absent for files of another kind

private:
    void create_decoder(std::unique_ptr<FileMapping> mapping);
};

// The UTF-8 form of a wide (UTF-32) string. Throws std::invalid_argument for a value that is
// not a Unicode scalar value.
std::string wide_to_utf8(const std::wstring& text);
// The wide form of a UTF-8 string; bytes that are not valid UTF-8 become U+FFFD.
std::wstring utf8_to_wide(const std::string& text);

} // namespace audio
