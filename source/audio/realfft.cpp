// The split-radix real FFT.
#include "audio/realfft.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <utility>

namespace audio {

namespace {

// The rotation factors of one j in one stage: cos a, sin a, cos 3a, sin 3a.
struct Twiddle {
    double cc1, ss1, cc3, ss3;
};

Twiddle twiddle(long L, long j) noexcept
{
    const double phi = 2 * std::numbers::pi / static_cast<double>(L);
    const double a = static_cast<double>(j - 1) * phi;
    return {std::cos(a), std::sin(a), std::cos(3.0 * a), std::sin(3.0 * a)};
}

// The factors of the stages up to length 1024, made once from the same expressions as for the
// longer stages, so a transform gives the same bits whether its factors come from here or not.
// The noisiness analysis runs one transform per 32 frames, and the sines and cosines would
// otherwise be most of its time.
constexpr long TABLE_LENGTH = 1024;

struct TwiddleTable {
    // Stage L, factor j at [L / 8 + j - 2] (the stages' R - 1 entries lie side by side).
    std::array<Twiddle, TABLE_LENGTH / 4> factors{};
    TwiddleTable()
    {
        for (long L = 16; L <= TABLE_LENGTH; L *= 2)
            for (long j = 2; j <= L / 8; ++j)
                factors[static_cast<std::size_t>(L / 8 + j - 2)] = twiddle(L, j);
    }
};

const TwiddleTable& twiddle_table() noexcept
{
    static const TwiddleTable table;
    return table;
}

} // namespace

void realfft_split(double* data, long n) noexcept
{
    constexpr double SQRT2 = 1.4142135623730951;
    const TwiddleTable& table = twiddle_table();

    // Bit-reversal permutation.
    for (long i = 0, j = 0; i < n - 1; ++i) {
        if (i < j)
            std::swap(data[i], data[j]);
        long k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }

    // Length-2 butterflies.
    for (long s = 0, d = 4; s < n; s = 2 * d - 2, d *= 4) {
        for (long i = s; i < n; i += d) {
            double t = data[i];
            data[i] = t + data[i + 1];
            data[i + 1] = t - data[i + 1];
        }
    }

    // L-shaped butterflies, stage lengths 4, 8, ..., n.
    for (long L = 4; L <= n; L *= 2) {
        const long Q = L / 4;
        const long R = L / 8;

        for (long s = 0, d = 2 * L; s < n; s = 2 * d - L, d *= 4) {
            for (long i = s; i < n; i += d) {
                long i1 = i, i2 = i1 + Q, i3 = i2 + Q, i4 = i3 + Q;
                double t1 = data[i4] + data[i3];
                data[i4] = data[i4] - data[i3];
                data[i3] = data[i1] - t1;
                data[i1] = data[i1] + t1;
                if (Q > 1) {
                    i1 += R;
                    i2 += R;
                    i3 += R;
                    i4 += R;
                    t1 = (data[i3] + data[i4]) / SQRT2;
                    double t2 = (data[i3] - data[i4]) / SQRT2;
                    data[i4] = data[i2] - t1;
                    data[i3] = -data[i2] - t1;
                    data[i2] = data[i1] - t2;
                    data[i1] = data[i1] + t2;
                }
            }
        }

        for (long j = 2; j <= R; ++j) {
            const Twiddle t = L <= TABLE_LENGTH ? table.factors[static_cast<std::size_t>(R + j - 2)] : twiddle(L, j);
            const double cc1 = t.cc1, ss1 = t.ss1, cc3 = t.cc3, ss3 = t.ss3;
            for (long s = 0, d = 2 * L; s < n; s = 2 * d - L, d *= 4) {
                for (long i = s; i < n; i += d) {
                    const long i1 = i + j - 1, i2 = i + Q - j + 1;
                    const long i3 = i1 + Q, i4 = i2 + Q, i5 = i3 + Q, i6 = i4 + Q, i7 = i5 + Q, i8 = i6 + Q;
                    double t1 = data[i5] * cc1 + data[i6] * ss1;
                    double t2 = data[i6] * cc1 - data[i5] * ss1;
                    double t3 = data[i7] * cc3 + data[i8] * ss3;
                    double t4 = data[i8] * cc3 - data[i7] * ss3;
                    const double t5 = t1 + t3;
                    const double t6 = t2 + t4;
                    t3 = t1 - t3;
                    t4 = t2 - t4;
                    data[i8] = data[i4] + t6;
                    data[i5] = t6 - data[i4];
                    data[i6] = -data[i3] - t3;
                    data[i7] = data[i3] - t3;
                    data[i4] = data[i1] - t5;
                    data[i1] = data[i1] + t5;
                    const double d2 = data[i2];
                    data[i2] = d2 - t4;
                    data[i3] = d2 + t4;
                }
            }
        }
    }

    // n is a power of two, so multiplying by 1/n gives the same bits as dividing by n.
    const double scale = 1.0 / static_cast<double>(n);
    for (long i = 0; i < n; ++i)
        data[i] *= scale;
}

} // namespace audio
