// Reading WAVE, AIFF and AIFF-C files: formats, the chunk walk, and hostile headers.
#include "audio/riff_codec.h"
#include "audio/sound_file.h"

#include "audio/sound_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using audio::SoundFormat;

audio::Soundfile open_bytes(std::vector<char> bytes)
{
    return audio::Soundfile(audio::FileMapping::hold(std::move(bytes)));
}

const audio::RiffCodec& riff_codec(const audio::Soundfile& file)
{
    return dynamic_cast<const audio::RiffCodec&>(*file.codec);
}

std::vector<float> decode(const audio::Soundfile& file)
{
    const audio::Codec& codec = *file.codec;
    std::vector<float> out(file.framecount() * codec.format.channels);
    if (codec.decoders[audio::FLOAT_INDEX])
        codec.decoders[audio::FLOAT_INDEX](codec.frames_begin(), out.data(), out.size());
    return out;
}

struct FormatCase {
    std::string name;
    std::vector<char> bytes;
    SoundFormat format;
    std::vector<float> expected; // decoded interleaved samples
};

std::vector<FormatCase> format_cases()
{
    using namespace fixture;
    const auto le = [](std::initializer_list<std::int64_t> v, int bytes) { return integer_samples(v, bytes, true); };
    const auto be = [](std::initializer_list<std::int64_t> v, int bytes) { return integer_samples(v, bytes, false); };
    const float i24 = float(256 / 2147483647.0); // the smallest 24-bit step
    return {
        {"wave 8-bit unsigned", wave(1, 1, 8000, 8, le({0, 128, 255, 191}, 1)), {8000, 1, SoundFormat::Byte},
         {-128 / 127.0f, 0.0f, 1.0f, 63 / 127.0f}},
        {"wave 16-bit stereo", wave(1, 2, 44100, 16, le({32767, -32768, 16384, 0}, 2)), {44100, 2, SoundFormat::Short},
         {1.0f, float(-32768 / 32767.0), float(16384 / 32767.0), 0.0f}},
        {"wave 24-bit", wave(1, 1, 48000, 24, le({0x7FFFFF, -0x800000, 0x400000}, 3)), {48000, 1, SoundFormat::Int24},
         {1.0f, -1.0f, float(0x40000000 / 2147483647.0)}},
        {"wave 32-bit integer", wave(1, 1, 96000, 32, le({2147483647, -1073741824}, 4)), {96000, 1, SoundFormat::Int32},
         {1.0f, float(-1073741824 / 2147483647.0)}},
        {"wave float", wave(3, 2, 44100, 32, float_samples<float>({0.5f, -0.25f, 2.0f, 0.0f}, true)),
         {44100, 2, SoundFormat::Float}, {0.5f, -0.25f, 0.99999988f, 0.0f}},
        {"wave double", wave(3, 1, 22050, 64, float_samples<double>({0.125, -0.75}, true)),
         {22050, 1, SoundFormat::Double}, {0.125f, -0.75f}},
        {"wave extensible 24-bit",
         riff({chunk("fmt ", extensible_fmt_body(1, 2, 44100, 24), true), chunk("data", le({0x400000, -0x400000}, 3), true)}),
         {44100, 2, SoundFormat::Int24}, {float(0x40000000 / 2147483647.0), float(-0x40000000 / 2147483647.0)}},
        {"wave extensible float",
         riff({chunk("fmt ", extensible_fmt_body(3, 1, 48000, 32), true),
               chunk("data", float_samples<float>({0.75f, -0.5f}, true), true)}),
         {48000, 1, SoundFormat::Float}, {0.75f, -0.5f}},
        {"wave extensible 16-bit",
         riff({chunk("fmt ", extensible_fmt_body(1, 1, 44100, 16), true), chunk("data", le({-16384}, 2), true)}),
         {44100, 1, SoundFormat::Short}, {float(-16384 / 32767.0)}},
        {"aiff 8-bit signed", aiff(1, 44100, 8, be({-128, 0, 127, 64}, 1)), {44100, 1, SoundFormat::Byte},
         {-128 / 127.0f, 0.0f, 1.0f, 64 / 127.0f}},
        {"aiff 16-bit", aiff(2, 44100, 16, be({32767, -16384}, 2)), {44100, 2, SoundFormat::Short},
         {1.0f, float(-16384 / 32767.0)}},
        {"aiff 24-bit", aiff(1, 48000, 24, be({0x7FFFFF, 1}, 3)), {48000, 1, SoundFormat::Int24}, {1.0f, i24}},
        {"aiff 32-bit integer", aiff(1, 8000, 32, be({-2147483647}, 4)), {8000, 1, SoundFormat::Int32}, {-1.0f}},
        {"aiff-c NONE", aifc("NONE", 1, 44100, 16, be({16384, -1}, 2)), {44100, 1, SoundFormat::Short},
         {float(16384 / 32767.0), float(-1 / 32767.0)}},
        {"aiff-c twos 24-bit", aifc("twos", 1, 44100, 24, be({0x400000}, 3)), {44100, 1, SoundFormat::Int24},
         {float(0x40000000 / 2147483647.0)}},
        {"aiff-c sowt 16-bit", aifc("sowt", 2, 44100, 16, le({16384, -32768}, 2)), {44100, 2, SoundFormat::Short},
         {float(16384 / 32767.0), float(-32768 / 32767.0)}},
        {"aiff-c sowt 24-bit", aifc("sowt", 1, 44100, 24, le({-0x400000}, 3)), {44100, 1, SoundFormat::Int24},
         {float(-0x40000000 / 2147483647.0)}},
        {"aiff-c fl32", aifc("fl32", 1, 32000, 32, float_samples<float>({1.5f, -0.25f}, false)),
         {32000, 1, SoundFormat::Float}, {1.5f, -0.25f}},
        {"aiff-c FL32", aifc("FL32", 1, 32000, 32, float_samples<float>({0.5f}, false)), {32000, 1, SoundFormat::Float},
         {0.5f}},
        {"aiff-c fl64", aifc("fl64", 2, 44100, 64, float_samples<double>({0.5, -2.0}, false)),
         {44100, 2, SoundFormat::Double}, {0.5f, -2.0f}},
    };
}

TEST(RiffCodec, DecodesEveryUncompressedFormat)
{
    for (const FormatCase& c : format_cases()) {
        SCOPED_TRACE(c.name);
        audio::Soundfile file = open_bytes(c.bytes);
        ASSERT_TRUE(file.codec);
        EXPECT_EQ(file.codec->format, c.format);
        ASSERT_EQ(file.framecount() * c.format.channels, c.expected.size());
        const std::vector<float> got = decode(file);
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_FLOAT_EQ(got[i], c.expected[i]) << "sample " << i;
    }
}

TEST(RiffCodec, UndecodableEncodingsGiveNoFrames)
{
    using namespace fixture;
    const std::vector<char> frames(64, 0x11);
    const struct {
        std::string name;
        std::vector<char> bytes;
    } cases[] = {
        {"wave ADPCM", wave(2, 1, 44100, 4, frames)},
        {"wave mu-law", wave(7, 1, 8000, 8, frames)},
        {"wave float of 24 bits", wave(3, 1, 44100, 24, frames)},
        {"wave PCM of 40 bits", wave(1, 1, 44100, 40, frames)},
        {"wave PCM of 0 bits", wave(1, 1, 44100, 0, frames)},
        {"wave no channels", wave(1, 0, 44100, 16, frames)},
        {"wave rate 0", wave(1, 1, 0, 16, frames)},
        {"wave extensible of unknown sub-format", riff({chunk("fmt ", extensible_fmt_body(2, 1, 44100, 16), true),
                                                        chunk("data", frames, true)})},
        {"wave extensible cut short", riff({chunk("fmt ", fmt_body(0xFFFE, 1, 44100, 16), true), chunk("data", frames, true)})},
        {"aiff-c ulaw", aifc("ulaw", 1, 8000, 16, frames)},
        {"aiff-c ima4", aifc("ima4", 1, 44100, 16, frames)},
        {"aiff rate 0", form("AIFF", {chunk("COMM", Bytes().be(1, 2).be(32, 4).be(16, 2).zeros(10).data, false),
                                      chunk("SSND", ssnd_body(frames), false)})},
        {"aiff negative rate", form("AIFF", {chunk("COMM", Bytes().be(1, 2).be(32, 4).be(16, 2).be(0xC00E, 2).be(0xAC44, 2).zeros(6).data, false),
                                             chunk("SSND", ssnd_body(frames), false)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        audio::Soundfile file = open_bytes(c.bytes);
        ASSERT_TRUE(file.codec);
        EXPECT_EQ(file.framecount(), 0u);
        for (auto decoder : file.codec->decoders)
            EXPECT_EQ(decoder, nullptr);
    }
}

TEST(RiffCodec, ChunkWalkSkipsOtherAndOddChunks)
{
    using namespace fixture;
    const std::vector<char> frames = integer_samples({1, 2, 3, 4, 5, 6, 7, 8}, 2, true);
    // fmt, a list chunk, an odd-sized chunk with its pad byte, then data.
    const std::vector<char> bytes = riff({chunk("fmt ", fmt_body(1, 2, 44100, 16), true),
                                          chunk("LIST", std::vector<char>(26, 'x'), true),
                                          chunk("odd ", std::vector<char>(3, 'y'), true), chunk("data", frames, true)});
    audio::Soundfile file = open_bytes(bytes);
    const audio::RiffCodec& codec = riff_codec(file);
    ASSERT_EQ(codec.chunks.size(), 4u);
    EXPECT_EQ(std::string(codec.chunks[2].id.data(), 4), "odd ");
    EXPECT_EQ(codec.chunks[2].size, 3u);
    EXPECT_EQ(codec.chunks[3].offset, 12u + 24 + 34 + 12);
    EXPECT_EQ(codec.frames_offset, codec.data_chunk.offset + 8);
    EXPECT_EQ(codec.framecount(), frames.size() / 4);
    EXPECT_EQ(file.size(), bytes.size());
    EXPECT_FLOAT_EQ(decode(file)[7], 8 / 32767.0f);
}

TEST(RiffCodec, LaterChunkOfTheSameIdReplacesTheEarlier)
{
    using namespace fixture;
    const std::vector<char> bytes = riff({chunk("fmt ", fmt_body(1, 1, 8000, 8), true),
                                          chunk("fmt ", fmt_body(1, 2, 44100, 16), true),
                                          chunk("data", std::vector<char>(8, 0), true)});
    audio::Soundfile file = open_bytes(bytes);
    EXPECT_EQ(file.codec->format, (SoundFormat{44100, 2, SoundFormat::Short}));
    EXPECT_EQ(file.framecount(), 2u);
}

TEST(RiffCodec, DataLongerThanTheFileIsCutToWholeFrames)
{
    using namespace fixture;
    std::vector<char> bytes = wave(1, 2, 44100, 16, std::vector<char>(40, 0));
    // Claim a huge data chunk and cut the file in the middle of a frame.
    const std::size_t data_size_at = bytes.size() - 40 - 4;
    for (int i = 0; i < 4; ++i)
        bytes[data_size_at + i] = static_cast<char>(0xFF);
    bytes.pop_back();
    bytes.pop_back();
    audio::Soundfile file = open_bytes(bytes);
    EXPECT_EQ(file.framecount(), 9u); // 38 bytes hold 9 whole stereo frames
}

TEST(RiffCodec, SsndOffsetMovesTheFirstFrame)
{
    using namespace fixture;
    const std::vector<char> frames = integer_samples({16384, -16384}, 2, false);
    const std::vector<char> bytes =
        form("AIFF", {chunk("COMM", comm_body(1, 2, 16, 44100), false), chunk("SSND", ssnd_body(frames, 4), false)});
    audio::Soundfile file = open_bytes(bytes);
    const audio::RiffCodec& codec = riff_codec(file);
    EXPECT_EQ(codec.frames_offset, codec.data_chunk.offset + 16 + 4);
    ASSERT_EQ(file.framecount(), 2u);
    EXPECT_FLOAT_EQ(decode(file)[1], -16384 / 32767.0f);
}

TEST(RiffCodec, ReadsTheSampleRateFromItsExtendedFloat)
{
    for (std::uint32_t rate : {8000u, 11025u, 22050u, 44100u, 48000u, 88200u, 96000u, 192000u, 1u, 2147483647u}) {
        const std::vector<char> bytes = fixture::aiff(1, rate, 16, std::vector<char>(4, 0));
        EXPECT_EQ(open_bytes(bytes).codec->format.samplerate, rate);
    }
    // 44100 as stored by the usual writers.
    const std::vector<char> stored = {0x40, 0x0E, char(0xAC), 0x44, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(fixture::extended(44100), stored);
}

TEST(RiffCodec, FilesOfOtherKindsOpenWithoutCodec)
{
    for (const std::string& start : {std::string("fLaC\0\0\0\"", 8), std::string("ID3\x04\0\0\0\0", 8),
                                     std::string("RIF"), std::string()}) {
        audio::Soundfile file = open_bytes(std::vector<char>(start.begin(), start.end()));
        EXPECT_FALSE(file.codec);
        EXPECT_EQ(file.framecount(), 0u);
        EXPECT_EQ(file.size(), 0u);
    }
}

TEST(RiffCodec, HostileHeadersStayInsideTheFile)
{
    using namespace fixture;
    const std::vector<char> good = wave(1, 1, 44100, 16, std::vector<char>(20, 0));
    // Every prefix of a good file: a format chunk cut anywhere, a data chunk cut anywhere.
    for (std::size_t n = 0; n < good.size(); ++n) {
        audio::Soundfile file = open_bytes(std::vector<char>(good.begin(), good.begin() + n));
        EXPECT_LE(file.framecount(), n > 44 ? (n - 44) / 2 : 0) << "prefix " << n;
    }
    const struct {
        std::string name;
        std::vector<char> bytes;
    } cases[] = {
        {"format chunk shorter than its fields",
         riff({chunk("fmt ", Bytes().le(1, 2).le(1, 2).le(44100, 4).data, true), chunk("data", std::vector<char>(8, 0), true)})},
        {"chunk size that would wrap",
         riff({chunk("fmt ", fmt_body(1, 1, 44100, 16), true), Bytes().id("junk").le(0xFFFFFFFF, 4),
               chunk("data", std::vector<char>(8, 0), true)})},
        {"COMM shorter than its fields",
         form("AIFF", {chunk("COMM", Bytes().be(1, 2).be(0, 4).data, false), chunk("SSND", ssnd_body({1, 2}), false)})},
        {"AIFF-C COMM without compression",
         form("AIFC", {chunk("COMM", comm_body(1, 1, 16, 44100), false), chunk("SSND", ssnd_body({1, 2}), false)})},
        {"SSND offset beyond the file",
         form("AIFF", {chunk("COMM", comm_body(1, 1, 16, 44100), false),
                       chunk("SSND", Bytes().be(0x7FFFFFF0, 4).be(0, 4).be(0x1234, 2).data, false)})},
        {"SSND cut before its offset word", [] {
             auto b = form("AIFF", {chunk("COMM", comm_body(1, 1, 16, 44100), false)});
             Bytes tail;
             tail.id("SSND").be(100, 4).be(0, 2);
             b.insert(b.end(), tail.data.begin(), tail.data.end());
             return b;
         }()},
        {"SSND smaller than its own header", form("AIFF", {chunk("COMM", comm_body(1, 1, 16, 44100), false),
                                                           chunk("SSND", Bytes().be(12, 4).be(0, 4).zeros(8).data, false)})},
        {"odd data size at the end of the file", riff({chunk("fmt ", fmt_body(1, 1, 44100, 16), true),
                                                       Bytes().id("data").le(5, 4).le(0x0102, 2).le(0x03, 1)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        audio::Soundfile file = open_bytes(c.bytes);
        ASSERT_TRUE(file.codec);
        std::uint64_t frames = file.framecount();
        const audio::RiffCodec& codec = riff_codec(file);
        if (frames > 0) {
            EXPECT_LE(codec.frames_offset + frames * 2, c.bytes.size());
        }
        EXPECT_LE(frames, 1u);
        decode(file);
    }
}

TEST(RiffCodec, OpensFilesByNarrowAndWidePathAndEmptyFilesWithoutCodec)
{
    fixture::TempDir dir;
    const std::vector<char> bytes = fixture::wave(1, 1, 44100, 16, fixture::integer_samples({100, -100}, 2, true));
    fixture::write_file(dir.path / "plain.wav", bytes);
    fixture::write_file(dir.path / "klang-\xC3\xA4\xE2\x99\xAA.wav", bytes);
    fixture::write_file(dir.path / "empty.wav", {});

    audio::Soundfile narrow((dir.path / "plain.wav").string());
    EXPECT_EQ(narrow.framecount(), 2u);
    audio::Soundfile wide(dir.path.wstring() + L"/klang-\u00E4\u266A.wav");
    EXPECT_EQ(wide.framecount(), 2u);
    EXPECT_EQ(decode(wide), decode(narrow));
    audio::Soundfile empty((dir.path / "empty.wav").string());
    EXPECT_FALSE(empty.codec);
    EXPECT_ANY_THROW(audio::Soundfile((dir.path / "missing.wav").string()));
}

} // namespace

namespace {

TEST(SoundFileNames, ConvertBetweenUtf8AndWide)
{
    const struct {
        std::string utf8;
        std::wstring wide;
    } valid[] = {
        {"plain.wav", L"plain.wav"},
        {"\xC3\xA4\xE2\x99\xAA\xF0\x9F\x8E\xB9", L"\u00E4\u266A\U0001F3B9"},
        {"", L""},
    };
    for (const auto& c : valid) {
        EXPECT_EQ(audio::utf8_to_wide(c.utf8), c.wide) << c.utf8;
        EXPECT_EQ(audio::wide_to_utf8(c.wide), c.utf8) << c.utf8;
    }
    // Bytes that are not UTF-8 each become U+FFFD: a lone continuation, a cut sequence, an
    // overlong form, an encoded surrogate.
    EXPECT_EQ(audio::utf8_to_wide("a\x80z"), L"a\uFFFDz");
    EXPECT_EQ(audio::utf8_to_wide("a\xE2\x99"), L"a\uFFFD\uFFFD");
    EXPECT_EQ(audio::utf8_to_wide("\xC0\xAF"), L"\uFFFD\uFFFD");
    EXPECT_EQ(audio::utf8_to_wide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
    EXPECT_THROW(audio::wide_to_utf8(std::wstring(1, static_cast<wchar_t>(0xD800))), std::invalid_argument);
    EXPECT_THROW(audio::wide_to_utf8(std::wstring(1, static_cast<wchar_t>(0x110000))), std::invalid_argument);
}

} // namespace
