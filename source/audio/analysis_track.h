// The analysis tracks of a sound: amplitude envelope, peaks per block and noisiness.
//
//   audio::Amplitude amplitude;
//   amplitude.assign(format, samples);             // interleaved floats, first channel analysed
//   float level = amplitude.values[frame * amplitude.step];
//   float column = amplitude.at_zoom(x, 8.0f);     // mean over 8 values around x
#pragma once

#include "audio/sound_format.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace audio {

class AnalysisTrack {
public:
    virtual ~AnalysisTrack() = default;
    double step = 1.0; // track values per frame of sound
};

// A smoothed (10 Hz one-pole) level envelope, one value per 20 or 100 frames, largest 1.
class Amplitude : public AnalysisTrack {
public:
    template <typename Container>
    void assign(SoundFormat format, const Container& samples)
    {
        assign_samples(format, samples.data(), samples.size());
    }
    // The value at index, or with zoom of 2 or more the mean over zoom values around it.
    float at_zoom(unsigned index, float zoom) const noexcept;

    std::vector<float> values;

private:
    void assign_samples(SoundFormat format, const float* samples, std::size_t count);
};

// Minimum and maximum per block of 20 or 100 frames, for drawing the waveform.
class Peaks : public AnalysisTrack {
public:
    static constexpr float empty_min = 3.4028235e38f;
    static constexpr float empty_max = -3.4028235e38f;

    template <typename Container>
    void assign(SoundFormat format, const Container& samples)
    {
        assign_samples(format, samples.data(), samples.size());
    }
    // The (minimum, maximum) at index, or with zoom of 2 or more folded over zoom values around it.
    std::pair<float, float> at_zoom(unsigned index, float zoom) const noexcept;

    std::vector<std::pair<float, float>> values;
    float min = empty_min; // over all complete blocks
    float max = empty_max;

private:
    void assign_samples(SoundFormat format, const float* samples, std::size_t count);
};

// Spectral change per 64 frames, largest 1 unless the sound is nearly static.
class Noisiness : public AnalysisTrack {
public:
    template <typename Container>
    void assign(SoundFormat format, const Container& samples)
    {
        assign_samples(format, samples.data(), samples.size());
    }

    std::vector<float> values;

    // The analysis window: w[k] = 1 - (0.5 cos(θk) + 0.5), θ0 = 2π/65, each angle 2π/65 on.
    static const double* window() noexcept;

private:
    void assign_samples(SoundFormat format, const float* samples, std::size_t count);
};

} // namespace audio
