// The three analyses of a sound and their zoomed reads.
#include "audio/analysis_track.h"

#include "audio/realfft.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace audio {

namespace {

// Block length of the amplitude and peak tracks: 20 frames for short sounds, else 100.
std::size_t block_length(std::size_t sample_count) noexcept
{
    return sample_count < 10000 ? 20 : 100;
}

// A bound of a zoomed range: truncated toward zero, then limited to 0 .. count (NaN gives 0).
std::size_t range_bound(double position, std::size_t count) noexcept
{
    if (!(position >= 1.0))
        return 0;
    if (position >= static_cast<double>(count))
        return count;
    return static_cast<std::size_t>(position);
}

struct ZoomRange {
    std::size_t begin, end;
};
ZoomRange zoom_range(unsigned index, float zoom, std::size_t count) noexcept
{
    const double half = static_cast<double>(zoom) / 2;
    return {range_bound(static_cast<double>(index) - half, count),
            range_bound(static_cast<double>(index) + half + 0.5, count)};
}

} // namespace

void Amplitude::assign_samples(SoundFormat format, const float* samples, std::size_t count)
{
    values.clear();
    const std::size_t channels = format.channels;
    if (channels == 0)
        return;
    const std::size_t frames = count / channels;
    const std::size_t B = block_length(count);
    step = 1.0 / static_cast<double>(B);
    values.reserve(count / (B * channels));

    // One-pole smoothing at 10 Hz.
    const double omega = 20 * std::numbers::pi / format.samplerate;
    const double x = 2 - std::cos(omega);
    const double b = x - std::sqrt(x * x - 1);
    double s = 0;

    // Warm up on the sound's end, which leads into its start when it loops. A sound with
    // fewer frames than that warms up on all of them.
    if (count > 2 * B) {
        for (std::size_t k = frames > 2 * B ? frames - 2 * B : 0; k < frames; ++k) {
            const double v = samples[k * channels];
            s = b * s + (1 - b) * v * v;
        }
    }

    float largest = 0;
    for (std::size_t k = 0, in_block = 0; k < frames; ++k) {
        const double v = samples[k * channels];
        s = b * s + (1 - b) * v * v;
        if (++in_block == B) {
            in_block = 0;
            const auto level = static_cast<float>(std::sqrt(s));
            values.push_back(level);
            largest = std::max(largest, level);
        }
    }
    values.push_back(static_cast<float>(std::sqrt(s)));

    if (largest > 0) {
        const double scale = 1.0 / largest;
        for (float& v : values)
            v = static_cast<float>(v * scale);
    }
}

float Amplitude::at_zoom(unsigned index, float zoom) const noexcept
{
    if (values.empty())
        return 0;
    if (zoom < 2) {
        // Indices before the start count back from the end; past the end they wrap.
        const auto last = static_cast<std::int64_t>(values.size()) - 1;
        if (last == 0)
            return values[0];
        std::int64_t i = static_cast<std::int32_t>(index);
        if (i < 0)
            i += last;
        if (i < 0 || i > last) {
            i %= last;
            if (i < 0)
                i += last;
        }
        return values[static_cast<std::size_t>(i)];
    }
    // Missing values beyond the ends count as 0.
    const ZoomRange range = zoom_range(index, zoom, values.size());
    if (range.begin >= range.end)
        return 0;
    double sum = 0;
    for (std::size_t i = range.begin; i < range.end; ++i)
        sum += values[i];
    return static_cast<float>(sum / zoom);
}

void Peaks::assign_samples(SoundFormat format, const float* samples, std::size_t count)
{
    values.clear();
    min = empty_min;
    max = empty_max;
    const std::size_t channels = format.channels;
    if (channels == 0)
        return;
    const std::size_t frames = count / channels;
    const std::size_t B = block_length(count);
    step = 1.0 / static_cast<double>(B);
    values.reserve(count / (B * channels));

    float low = empty_min;
    float high = empty_max;
    for (std::size_t k = 0, in_block = 0; k < frames; ++k) {
        const float v = samples[k * channels];
        if (v <= low)
            low = v;
        if (v >= high)
            high = v;
        if (++in_block == B) {
            in_block = 0;
            values.emplace_back(low, high);
            min = std::min(min, low);
            max = std::max(max, high);
            low = empty_min;
            high = empty_max;
        }
    }
    // The incomplete last block; after a complete one this is the empty pair.
    values.emplace_back(low, high);
}

std::pair<float, float> Peaks::at_zoom(unsigned index, float zoom) const noexcept
{
    if (zoom < 2)
        return index < values.size() ? values[index] : std::pair<float, float>(0.0f, 0.0f);
    const ZoomRange range = zoom_range(index, zoom, values.size());
    std::pair<float, float> folded(empty_min, empty_max);
    for (std::size_t i = range.begin; i < range.end; ++i) {
        folded.first = std::min(folded.first, values[i].first);
        folded.second = std::max(folded.second, values[i].second);
    }
    return folded;
}

const double* Noisiness::window() noexcept
{
    // Built once, thread-safely, and never changed after.
    static const std::array<double, 64> w = [] {
        std::array<double, 64> table{};
        const double delta = 2 * std::numbers::pi / 65;
        double theta = delta;
        for (double& v : table) {
            v = 1 - (0.5 * std::cos(theta) + 0.5);
            theta += delta;
        }
        return table;
    }();
    return w.data();
}

void Noisiness::assign_samples(SoundFormat format, const float* samples, std::size_t count)
{
    constexpr std::size_t N = 64;    // transform length
    constexpr std::size_t HOP = 32;  // frames between transforms
    constexpr std::size_t BINS = 32; // real parts of bins 0 .. 31 are compared
    values.clear();
    const std::size_t channels = format.channels;
    if (channels == 0)
        return;
    step = 1.0 / 64;
    values.reserve(count / (64 * channels) + 1);
    const std::size_t frames = count / channels;
    const double* w = window();

    std::array<double, N> previous{};
    std::array<double, N> current{};
    double largest = 0;
    std::size_t transform = 0;
    for (std::size_t p = 0; p < frames; p += HOP, ++transform) {
        for (std::size_t k = 0; k < N; ++k)
            current[k] = p + k < frames ? samples[(p + k) * channels] * w[k] : 0.0;
        realfft_split(current.data(), N);

        if (transform > 0) {
            int loud = 0;
            double largest_difference = 0;
            double sum_of_squares = 0;
            for (std::size_t k = 0; k < BINS; ++k) {
                if (std::abs(current[k]) > 0.02)
                    ++loud;
                const double d = previous[k] - current[k];
                largest_difference = std::max(largest_difference, std::abs(d));
                sum_of_squares += d * d;
            }
            const double measure = (1 + loud) * (largest_difference + sum_of_squares);
            // Two measures per value: odd transforms start a value, even ones complete it.
            if (transform % 2 == 1) {
                values.push_back(static_cast<float>(measure));
            } else {
                values.back() += static_cast<float>(measure);
                largest = std::max<double>(largest, values.back());
            }
        }
        std::swap(previous, current);
    }

    if (largest > 0.0001) {
        const double scale = 1.0 / largest;
        for (float& v : values)
            v = static_cast<float>(v * scale);
    }
}

} // namespace audio
