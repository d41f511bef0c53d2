// Loading a sound into a pack: samples with guard frames, the three tracks, load statuses.
#include "audio/sound_analysis_pack.h"

#include "audio/sound_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using audio::SoundPack;

// A pack of 16-bit samples (interleaved), built from bytes in memory.
std::shared_ptr<SoundPack> pack_of(const std::vector<std::int16_t>& samples, std::uint16_t channels,
                                   std::uint32_t rate = 44100)
{
    fixture::Bytes data;
    for (std::int16_t v : samples)
        data.le(static_cast<std::uint16_t>(v), 2);
    auto file = std::make_shared<audio::Soundfile>(
        audio::FileMapping::hold(fixture::wave(1, channels, rate, 16, data.data)));
    return std::make_shared<SoundPack>(file, L"test.wav");
}

std::vector<std::int16_t> ramp(std::size_t frames)
{
    std::vector<std::int16_t> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = static_cast<std::int16_t>(i * 30 % 20000 - 10000);
    return v;
}

TEST(SoundPack, SamplesRepeatTheFirstTenFramesAfterTheEnd)
{
    for (std::size_t frames : {1000u, 25u, 3u}) {
        SCOPED_TRACE(frames);
        std::vector<std::int16_t> stereo;
        for (std::int16_t v : ramp(frames)) {
            stereo.push_back(v);
            stereo.push_back(static_cast<std::int16_t>(-v));
        }
        auto pack = pack_of(stereo, 2);
        ASSERT_EQ(pack->status, SoundPack::Ready);
        EXPECT_EQ(pack->framecount, frames);
        ASSERT_EQ(pack->samples.size(), (frames + 10) * 2);
        std::vector<float> sound(stereo.size());
        for (std::size_t i = 0; i < stereo.size(); ++i)
            sound[i] = static_cast<float>(stereo[i] / 32767.0);
        for (std::size_t i = 0; i < (frames + 10) * 2; ++i) {
            // Short sounds repeat themselves to fill the guard frames.
            const float expected = i < sound.size() ? sound[i] : pack->samples[i - frames * 2];
            ASSERT_EQ(pack->samples[i], expected) << "sample " << i;
        }
        if (frames >= 10) {
            for (std::size_t i = 0; i < 20; ++i)
                EXPECT_EQ(pack->samples[frames * 2 + i], sound[i]);
        }
    }
}

TEST(SoundPack, TrackLengthsOfShortMonoSounds)
{
    // 1000 frames: 1010 in the array, 50 full blocks of 20 plus the final value.
    auto pack = pack_of(ramp(1000), 1);
    ASSERT_EQ(pack->status, SoundPack::Ready);
    EXPECT_EQ(pack->amplitude.values.size(), 51u);
    EXPECT_EQ(pack->amplitude.step, 1.0 / 20);
    ASSERT_EQ(pack->peaks.values.size(), 51u);
    float low = 1, high = -1;
    for (std::size_t k = 1000; k < 1010; ++k) {
        low = std::min(low, pack->samples[k]);
        high = std::max(high, pack->samples[k]);
    }
    EXPECT_EQ(pack->peaks.values.back(), std::make_pair(low, high));
    // Transforms at 0, 32, ..., 992: 31 measures, paired into 16 values.
    EXPECT_EQ(pack->noisiness.values.size(), 16u);
    EXPECT_EQ(pack->noisiness.step, 1.0 / 64);

    // 990 frames fill exactly 50 blocks; the final pair is the empty one.
    auto even = pack_of(ramp(990), 1);
    ASSERT_EQ(even->peaks.values.size(), 51u);
    EXPECT_EQ(even->peaks.values.back(), std::make_pair(audio::Peaks::empty_min, audio::Peaks::empty_max));
    EXPECT_EQ(even->amplitude.values.size(), 51u);
}

TEST(SoundPack, LongSoundsUseBlocksOf100AndPeakExtremes)
{
    std::vector<std::int16_t> v(20000, 0);
    v[12345] = 32767;
    v[500] = -16384;
    auto pack = pack_of(v, 1);
    EXPECT_EQ(pack->amplitude.step, 1.0 / 100);
    EXPECT_EQ(pack->amplitude.values.size(), 20010u / 100 + 1);
    EXPECT_EQ(pack->peaks.values.size(), 20010u / 100 + 1);
    EXPECT_EQ(pack->peaks.max, 1.0f);
    EXPECT_FLOAT_EQ(pack->peaks.min, -16384 / 32767.0f);
    EXPECT_EQ(pack->peaks.values[123].second, 1.0f);
    EXPECT_EQ(pack->peaks.values[5].first, pack->peaks.min);
}

TEST(SoundPack, StereoTracksFollowTheLeftChannelOnly)
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int> noise(-20000, 20000);
    const std::vector<std::int16_t> left = ramp(3000);
    std::vector<std::int16_t> quiet_right, noisy_right;
    for (std::int16_t v : left) {
        quiet_right.insert(quiet_right.end(), {v, 0});
        noisy_right.insert(noisy_right.end(), {v, static_cast<std::int16_t>(noise(random))});
    }
    auto a = pack_of(quiet_right, 2);
    auto b = pack_of(noisy_right, 2);
    auto mono = pack_of(left, 1);
    EXPECT_EQ(a->amplitude.values, b->amplitude.values);
    EXPECT_EQ(a->peaks.values, b->peaks.values);
    EXPECT_EQ(a->noisiness.values, b->noisiness.values);
    // Both sample counts are below 10000, so the block length is 20 for either.
    EXPECT_EQ(mono->amplitude.values, a->amplitude.values);
    EXPECT_EQ(mono->peaks.values, a->peaks.values);
    EXPECT_EQ(mono->noisiness.values, a->noisiness.values);
}

TEST(SoundPack, SilenceHasZeroTracks)
{
    auto pack = pack_of(std::vector<std::int16_t>(5000, 0), 1);
    ASSERT_EQ(pack->status, SoundPack::Ready);
    for (float v : pack->amplitude.values)
        EXPECT_EQ(v, 0.0f);
    ASSERT_FALSE(pack->noisiness.values.empty());
    for (float v : pack->noisiness.values)
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(pack->peaks.min, 0.0f);
    EXPECT_EQ(pack->peaks.max, 0.0f);
}

TEST(SoundPack, AmplitudeFollowsTheLevelAndIsNormalised)
{
    // A 440 Hz tone, loud for a second, then a tenth as loud for a second.
    std::vector<std::int16_t> v(88200);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::int16_t>((i < 44100 ? 30000 : 3000) * std::sin(2 * std::numbers::pi * 440 * i / 44100));
    auto pack = pack_of(v, 1);
    const auto& a = pack->amplitude.values;
    EXPECT_EQ(*std::max_element(a.begin(), a.end()), 1.0f);
    // The smoothed level of a sine is its RMS; late in each half the ratio of the levels is 10.
    EXPECT_NEAR(a[400] / a[860], 10.0, 0.2);
    for (float x : a)
        EXPECT_GE(x, 0.0f);
}

TEST(SoundPack, NoisinessIsHigherForNoiseThanForASteadyTone)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> noise(-20000, 20000);
    std::vector<std::int16_t> v(64 * 200);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = i < v.size() / 2 ? static_cast<std::int16_t>(20000 * std::sin(2 * std::numbers::pi * i / 16))
                                : static_cast<std::int16_t>(noise(random));
    auto pack = pack_of(v, 1);
    const auto& n = pack->noisiness.values;
    ASSERT_EQ(n.size(), (v.size() + 10 + 31) / 32 / 2); // transforms / 2
    EXPECT_EQ(*std::max_element(n.begin(), n.end() - 1), 1.0f);
    double tone = 0, hiss = 0;
    for (std::size_t i = 10; i < 90; ++i)
        tone += n[i];
    for (std::size_t i = 110; i < 190; ++i)
        hiss += n[i];
    EXPECT_GT(hiss, 20 * tone);
}

TEST(SoundPack, AmplitudeAtZoom)
{
    audio::Amplitude a;
    a.values = {1, 2, 3, 4, 5, 6};
    const struct {
        int index;
        float zoom;
        float expected;
    } cases[] = {
        {0, 4, (1 + 2) / 4.0f},       // range 0 .. 2.5 truncated
        {3, 4, (2 + 3 + 4 + 5) / 4.0f}, // 1 .. 5
        {5, 4, (4 + 5 + 6) / 4.0f},     // 3 .. 7.5 cut to 6: missing values count as 0
        {100, 4, 0.0f},                 // empty range
        {2, 1, 3},
        {-1, 1, 5},    // -1 + last (5) = 4
        {7, 1, 3},     // 7 mod 5 = 2
        {5, 1, 6},     // last itself
        {-20, 1, 1},   // -20 + 5 = -15, mod 5 = 0
        {-22, 1, 4},   // -17 mod 5 = -2, + 5 = 3
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(a.at_zoom(static_cast<unsigned>(c.index), c.zoom), c.expected)
            << "index " << c.index << " zoom " << c.zoom;

    audio::Amplitude one;
    one.values = {0.5f};
    EXPECT_EQ(one.at_zoom(9, 1), 0.5f);
    EXPECT_EQ(audio::Amplitude().at_zoom(3, 1), 0.0f);
    EXPECT_EQ(a.at_zoom(2, std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_EQ(a.at_zoom(2, std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST(SoundPack, PeaksAtZoom)
{
    audio::Peaks p;
    p.values = {{-1, 1}, {-3, 0}, {0, 5}, {-2, 2}};
    using Pair = std::pair<float, float>;
    EXPECT_EQ(p.at_zoom(1, 1), Pair(-3, 0));
    EXPECT_EQ(p.at_zoom(4, 1), Pair(0, 0));
    EXPECT_EQ(p.at_zoom(1, 2), Pair(-3, 1));  // range 0 .. 2
    EXPECT_EQ(p.at_zoom(2, 4), Pair(-3, 5));  // range 0 .. 4
    EXPECT_EQ(p.at_zoom(3, 2), Pair(-2, 5));  // range 2 .. 4
    EXPECT_EQ(p.at_zoom(50, 4), Pair(audio::Peaks::empty_min, audio::Peaks::empty_max));
}

TEST(SoundPack, FilesWithoutSamplesLoadAsSilenceOfTheirLength)
{
    // A file without codec still makes a pack: silent, default format, ten guard frames.
    audio::SoundPack placeholder(L"x.wav");
    EXPECT_EQ(placeholder.status, SoundPack::NoStatus);
    EXPECT_EQ(placeholder.format, audio::SoundFormat{});
    EXPECT_TRUE(placeholder.samples.empty());

    auto no_codec = std::make_shared<audio::Soundfile>(audio::FileMapping::hold({'a', 'b', 'c', 'd', 'e'}));
    SoundPack silent(no_codec, L"notes.txt");
    EXPECT_EQ(silent.status, SoundPack::Ready);
    EXPECT_EQ(silent.framecount, 0u);
    EXPECT_EQ(silent.samples.size(), 20u);
    EXPECT_EQ(silent.format, audio::SoundFormat{});
    EXPECT_EQ(silent.name, L"notes.txt");
}

TEST(SoundPack, LoadReportsWhyAFileDoesNotSound)
{
    fixture::TempDir dir;
    fixture::write_file(dir.path / "good.wav", fixture::wave(1, 1, 44100, 16, std::vector<char>(200, 1)));
    fixture::write_file(dir.path / "text.wav", {'h', 'e', 'l', 'l', 'o'});
    fixture::write_file(dir.path / "adpcm.wav", fixture::wave(2, 1, 44100, 4, std::vector<char>(200, 1)));
    const auto at = [&](const char* name) { return (dir.path / name).string(); };
    const struct {
        std::string path;
        SoundPack::Status status;
    } cases[] = {
        {at("good.wav"), SoundPack::Ready},
        {at("missing.wav"), SoundPack::FileNotFound},
        {at("no-folder/missing.wav"), SoundPack::PathNotFound},
        {at("text.wav"), SoundPack::InvalidFile},
        {at("adpcm.wav"), SoundPack::InvalidFile},
        {dir.path.string(), SoundPack::LoadFailed},
    };
    for (const auto& c : cases) {
        auto pack = audio::load_sound_pack(c.path);
        EXPECT_EQ(pack->status, c.status) << c.path << ": " << audio::status_name(pack->status);
        auto wide = audio::load_sound_pack(audio::utf8_to_wide(c.path));
        EXPECT_EQ(wide->status, c.status) << c.path;
    }
    EXPECT_EQ(audio::load_sound_pack(at("good.wav"))->framecount, 100u);
    EXPECT_STREQ(audio::status_name(SoundPack::ReadingNoise), "ReadingNoise");
    EXPECT_STREQ(audio::status_name(42), "unknown");
}

TEST(SoundPack, LoadsRunInParallelWithEqualResults)
{
    fixture::TempDir dir;
    fixture::Bytes data;
    for (std::int16_t v : ramp(30000))
        data.le(static_cast<std::uint16_t>(v), 2);
    fixture::write_file(dir.path / "a.wav", fixture::wave(1, 2, 48000, 16, data.data));
    std::vector<std::shared_ptr<SoundPack>> packs(4);
    std::vector<std::thread> workers;
    for (auto& slot : packs)
        workers.emplace_back([&slot, &dir] { slot = audio::load_sound_pack((dir.path / "a.wav").string()); });
    for (auto& w : workers)
        w.join();
    for (const auto& p : packs) {
        ASSERT_EQ(p->status, SoundPack::Ready);
        EXPECT_EQ(p->samples, packs[0]->samples);
        EXPECT_EQ(p->noisiness.values, packs[0]->noisiness.values);
        EXPECT_EQ(p->amplitude.values, packs[0]->amplitude.values);
    }
}

} // namespace
