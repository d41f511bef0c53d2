// Loading a sound into memory and analysing it.
#include "audio/sound_analysis_pack.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace audio {

SoundPack::SoundPack(std::wstring name)
    : name(std::move(name))
{
}

SoundPack::SoundPack(std::shared_ptr<Soundfile> file, std::wstring name) noexcept
{
    try {
        this->name = std::move(name);
        const Codec* codec = file ? file->codec.get() : nullptr;
        if (codec)
            format = codec->format;
        status = LoadingSound;

        const std::size_t channels = format.channels;
        framecount = file ? file->framecount() : 0;
        samples.assign((framecount + GUARD_FRAMES) * channels, 0.0f);

        std::uint64_t n = 0;
        if (codec && codec->framecount() > 0) {
            n = std::min(codec->framecount(), framecount);
            if (ConversionFunction decode = codec->decoders[FLOAT_INDEX])
                decode(codec->frames_begin(), samples.data(), n * channels);
            else
                n = 0;
        }
        // The guard frames repeat the first frames. Copied forwards one sample at a time, so that
        // a sound shorter than the guard repeats itself, as a reader that wraps would see it.
        for (std::size_t i = 0; i < GUARD_FRAMES * channels; ++i)
            samples[n * channels + i] = samples[i];

        status = ReadingAmps;
        amplitude.assign(format, samples);
        status = ReadingPeaks;
        peaks.assign(format, samples);
        status = ReadingNoise;
        noisiness.assign(format, samples);
        status = Ready;
    } catch (...) {
        status = LoadFailed;
    }
}

const char* status_name(std::int32_t status) noexcept
{
    static constexpr const char* NAMES[] = {"NoStatus",     "LookingForFile", "LoadingSound", "ReadingAmps",
                                            "ReadingPeaks", "ReadingNoise",   "FileNotFound", "PathNotFound",
                                            "InvalidFile",  "LoadFailed",     "Ready"};
    return status >= 0 && status <= SoundPack::Ready ? NAMES[status] : "unknown";
}

namespace {

std::shared_ptr<SoundPack> load_at(const boost::filesystem::path& file_path, const std::wstring& name)
{
    auto placeholder = std::make_shared<SoundPack>(name);
    try {
        placeholder->status = SoundPack::LookingForFile;
        boost::system::error_code error;
        if (!boost::filesystem::exists(file_path, error) || error) {
            boost::system::error_code parent_error;
            const auto parent = file_path.parent_path();
            const bool parent_exists = parent.empty() || boost::filesystem::exists(parent, parent_error);
            placeholder->status = parent_exists ? SoundPack::FileNotFound : SoundPack::PathNotFound;
            return placeholder;
        }
        placeholder->status = SoundPack::LoadingSound;
        auto file = std::make_shared<Soundfile>(FileMapping::map(file_path));
        if (file->framecount() == 0) {
            placeholder->status = SoundPack::InvalidFile;
            return placeholder;
        }
        return std::make_shared<SoundPack>(std::move(file), name);
    } catch (...) {
        placeholder->status = SoundPack::LoadFailed;
        return placeholder;
    }
}

} // namespace

std::shared_ptr<SoundPack> load_sound_pack(const std::wstring& path)
{
    std::string narrow;
    try {
        narrow = wide_to_utf8(path);
    } catch (const std::invalid_argument&) {
        auto failed = std::make_shared<SoundPack>(path);
        failed->status = SoundPack::LoadFailed;
        return failed;
    }
    return load_at(boost::filesystem::path(narrow), path);
}

std::shared_ptr<SoundPack> load_sound_pack(const std::string& path)
{
    return load_at(boost::filesystem::path(path), utf8_to_wide(path));
}

} // namespace audio
