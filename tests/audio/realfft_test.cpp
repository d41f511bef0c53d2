// The real FFT against known spectra and a direct discrete Fourier transform.
#include "audio/realfft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double PI = std::numbers::pi;

TEST(RealFft, KnownSpectraOfLength64)
{
    struct Case {
        const char* name;
        double (*signal)(int);
        int bin;      // the one nonzero output value
        double value;
    };
    const Case cases[] = {
        {"constant", [](int) { return 1.0; }, 0, 1.0},
        {"cosine at bin 4", [](int j) { return std::cos(2 * PI * 4 * j / 64); }, 4, 0.5},
        {"sine at bin 4", [](int j) { return std::sin(2 * PI * 4 * j / 64); }, 60, -0.5},
        {"nyquist", [](int j) { return j % 2 ? -1.0 : 1.0; }, 32, 1.0},
    };
    for (const Case& c : cases) {
        std::vector<double> data(64);
        for (int j = 0; j < 64; ++j)
            data[j] = c.signal(j);
        audio::realfft_split(data.data(), 64);
        for (int k = 0; k < 64; ++k)
            EXPECT_NEAR(data[k], k == c.bin ? c.value : 0.0, 1e-12) << c.name << ", value " << k;
    }
}

TEST(RealFft, LengthTwoIsSumAndDifferenceHalved)
{
    double data[2] = {3.0, -1.0};
    audio::realfft_split(data, 2);
    EXPECT_EQ(data[0], 1.0);
    EXPECT_EQ(data[1], 2.0);
}

// Every length from 2 to 2048 against the direct transform, in the documented layout (past
// 1024 the rotation factors are computed afresh rather than taken from the table).
TEST(RealFft, MatchesDirectTransformForAllLengths)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (long n = 2; n <= 2048; n *= 2) {
        std::vector<double> x(n);
        for (double& v : x)
            v = uniform(random);
        std::vector<double> data = x;
        audio::realfft_split(data.data(), n);
        for (long k = 0; k <= n / 2; ++k) {
            double re = 0, im = 0;
            for (long j = 0; j < n; ++j) {
                re += x[j] * std::cos(2 * PI * double(j * k) / double(n));
                im -= x[j] * std::sin(2 * PI * double(j * k) / double(n));
            }
            EXPECT_NEAR(data[k], re / double(n), 1e-12) << "n " << n << " Re bin " << k;
            if (k > 0 && k < n / 2) {
                EXPECT_NEAR(data[n - k], im / double(n), 1e-12) << "n " << n << " Im bin " << k;
            }
        }
    }
}

} // namespace
