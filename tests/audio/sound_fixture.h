// Small sound files made in memory for the audio tests: WAVE, AIFF and AIFF-C images.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace fixture {

// A byte image written field by field.
struct Bytes {
    std::vector<char> data;

    Bytes& id(const char* four)
    {
        data.insert(data.end(), four, four + 4);
        return *this;
    }
    Bytes& le(std::uint64_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            data.push_back(static_cast<char>(v >> (8 * i)));
        return *this;
    }
    Bytes& be(std::uint64_t v, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            data.push_back(static_cast<char>(v >> (8 * i)));
        return *this;
    }
    Bytes& raw(const std::vector<char>& bytes)
    {
        data.insert(data.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes& zeros(std::size_t n)
    {
        data.insert(data.end(), n, 0);
        return *this;
    }
    std::size_t size() const { return data.size(); }
};

// A chunk: id, size and body, padded to even length.
inline Bytes chunk(const char* id, const std::vector<char>& body, bool little)
{
    Bytes b;
    b.id(id);
    little ? b.le(body.size(), 4) : b.be(body.size(), 4);
    b.raw(body);
    if (body.size() % 2)
        b.zeros(1);
    return b;
}

// Integer samples of the given width, in little- or big-endian order.
inline std::vector<char> integer_samples(std::initializer_list<std::int64_t> values, int bytes, bool little)
{
    Bytes b;
    for (std::int64_t v : values)
        little ? b.le(static_cast<std::uint64_t>(v), bytes) : b.be(static_cast<std::uint64_t>(v), bytes);
    return b.data;
}

template <typename T>
std::vector<char> float_samples(std::initializer_list<T> values, bool little)
{
    Bytes b;
    for (T v : values) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof(T));
        little ? b.le(bits, sizeof(T)) : b.be(bits, sizeof(T));
    }
    return b.data;
}

// The body of a "fmt " chunk: tag, channels, rate, byte rate, block align, bits.
inline std::vector<char> fmt_body(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits)
{
    const unsigned block = channels * ((bits + 7u) / 8u);
    return Bytes().le(tag, 2).le(channels, 2).le(rate, 4).le(rate * block, 4).le(block, 2).le(bits, 2).data;
}

// An extensible "fmt " body with the sub-format tag (1 PCM, 3 float) and the standard GUID.
inline std::vector<char> extensible_fmt_body(std::uint16_t sub_format, std::uint16_t channels, std::uint32_t rate,
                                             std::uint16_t bits)
{
    Bytes b;
    b.raw(fmt_body(0xFFFE, channels, rate, bits)).le(22, 2).le(bits, 2).le(3, 4).le(sub_format, 2);
    const unsigned char tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.data.insert(b.data.end(), tail, tail + 14);
    return b.data;
}

// A RIFF file of the given chunks (already framed).
inline std::vector<char> riff(std::initializer_list<Bytes> chunks)
{
    Bytes body;
    body.id("WAVE");
    for (const Bytes& c : chunks)
        body.raw(c.data);
    Bytes file;
    file.id("RIFF").le(body.size(), 4).raw(body.data);
    return file.data;
}

inline std::vector<char> wave(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                              const std::vector<char>& frames)
{
    return riff({chunk("fmt ", fmt_body(tag, channels, rate, bits), true), chunk("data", frames, true)});
}

// The 80-bit extended float of an integer sample rate.
inline std::vector<char> extended(std::uint32_t rate)
{
    int exponent = 16383 + 31;
    std::uint64_t mantissa = std::uint64_t{rate} << 32;
    while ((mantissa & (std::uint64_t{1} << 63)) == 0) {
        mantissa <<= 1;
        --exponent;
    }
    return Bytes().be(static_cast<std::uint64_t>(exponent), 2).be(mantissa, 8).data;
}

inline std::vector<char> comm_body(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits, std::uint32_t rate)
{
    return Bytes().be(channels, 2).be(frames, 4).be(bits, 2).raw(extended(rate)).data;
}

inline std::vector<char> ssnd_body(const std::vector<char>& frames, std::uint32_t offset = 0)
{
    return Bytes().be(offset, 4).be(0, 4).zeros(offset).raw(frames).data;
}

// A FORM file of the given form type ("AIFF" or "AIFC") and chunks.
inline std::vector<char> form(const char* type, std::initializer_list<Bytes> chunks)
{
    Bytes body;
    body.id(type);
    for (const Bytes& c : chunks)
        body.raw(c.data);
    Bytes file;
    file.id("FORM").be(body.size(), 4).raw(body.data);
    return file.data;
}

inline std::vector<char> aiff(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                              const std::vector<char>& frames, std::uint32_t frame_count = 0)
{
    return form("AIFF", {chunk("COMM", comm_body(channels, frame_count, bits, rate), false),
                         chunk("SSND", ssnd_body(frames), false)});
}

inline std::vector<char> aifc(const char* compression, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                              const std::vector<char>& frames)
{
    Bytes comm;
    comm.raw(comm_body(channels, 0, bits, rate)).id(compression).le(0, 1).le(0, 1); // empty name, padded
    return form("AIFC", {chunk("FVER", Bytes().be(0xA2805140, 4).data, false), chunk("COMM", comm.data, false),
                         chunk("SSND", ssnd_body(frames), false)});
}

inline void write_file(const std::filesystem::path& path, const std::vector<char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A folder of its own under the system's temporary folder, removed with the object.
struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vimble-audio-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

} // namespace fixture
