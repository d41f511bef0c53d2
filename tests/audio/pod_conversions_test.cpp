// The sample conversion table: its shape and the numbers it produces.
#include "audio/pod_conversions.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using audio::PodConversions;
enum { B, S, I, F, D };

template <typename To, typename From>
To convert_one(int plane, int row, int column, From value)
{
    To out{};
    PodConversions[plane][row][column](&value, &out, 1);
    return out;
}

std::array<unsigned char, 3> int24_bytes(int plane, int column, double value)
{
    std::array<unsigned char, 3> out{};
    if (column == F) {
        float v = static_cast<float>(value);
        PodConversions[plane][I][F](&v, out.data(), 1);
    } else {
        PodConversions[plane][I][D](&value, out.data(), 1);
    }
    return out;
}

TEST(PodConversions, TableHasExactlyTheEntriesOfItsThreePlanes)
{
    // 1 marks a conversion, 0 an empty entry; rows are destinations, columns sources.
    const int expected[3][5][5] = {
        {{1, 1, 0, 1, 1}, {1, 1, 1, 1, 1}, {0, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}},
        {{1, 0, 0, 0, 0}, {1, 1, 1, 1, 1}, {0, 0, 0, 0, 0}, {0, 1, 1, 1, 1}, {0, 1, 1, 1, 1}},
        {{0, 0, 0, 0, 0}, {0, 1, 0, 1, 1}, {0, 1, 0, 1, 1}, {0, 1, 0, 1, 1}, {0, 1, 0, 1, 1}},
    };
    for (int plane = 0; plane < 3; ++plane)
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 5; ++column)
                EXPECT_EQ(PodConversions[plane][row][column] != nullptr, expected[plane][row][column] == 1)
                    << "plane " << plane << " row " << row << " column " << column;
}

TEST(PodConversions, IntegersToFloatingPointScaleWithoutClipping)
{
    EXPECT_EQ(convert_one<float>(0, F, S, std::int16_t{32767}), 1.0f);
    EXPECT_FLOAT_EQ(convert_one<float>(0, F, S, std::int16_t{-32768}), -1.0000305f);
    EXPECT_EQ(convert_one<double>(0, D, S, std::int16_t{-32768}), -32768 * (1.0 / 32767));
    EXPECT_FLOAT_EQ(convert_one<float>(0, F, B, std::int8_t{-128}), -1.0078740f);
    EXPECT_EQ(convert_one<float>(0, F, B, std::int8_t{127}), 1.0f);

    // int24 00 00 80 is -2^31 once placed in the top bytes.
    const unsigned char lowest[3] = {0x00, 0x00, 0x80};
    double d = 0;
    float f = 0;
    PodConversions[0][D][I](lowest, &d, 1);
    PodConversions[0][F][I](lowest, &f, 1);
    EXPECT_EQ(d, -2147483648.0 / 2147483647.0);
    EXPECT_DOUBLE_EQ(d, -1.0000000004656613);
    EXPECT_EQ(f, -1.0f);
}

TEST(PodConversions, FloatingPointToIntegersClipsScalesAndRoundsToEven)
{
    struct Case {
        float in;
        std::int16_t out;
    };
    for (Case c : {Case{1.0f, 32766}, {-1.0f, -32766}, {0.5f, 16383}, {2.0f, 32766}, {-7.0f, -32766}, {0.0f, 0}})
        EXPECT_EQ(convert_one<std::int16_t>(0, S, F, c.in), c.out) << c.in;
    EXPECT_EQ(convert_one<std::int8_t>(0, B, F, 1.0f), 126);
    EXPECT_EQ(convert_one<std::int8_t>(0, B, D, -1.0), -126);
    EXPECT_EQ(convert_one<std::int16_t>(0, S, D, 1.0), 32766);
}

TEST(PodConversions, FloatingPointToInt24RoundsToWholeLowBytes)
{
    using Bytes = std::array<unsigned char, 3>;
    EXPECT_EQ(int24_bytes(0, F, 1.0), (Bytes{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(int24_bytes(0, F, -1.0), (Bytes{0x01, 0x00, 0x80}));
    EXPECT_EQ(int24_bytes(0, D, 1.0), (Bytes{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(int24_bytes(0, D, -1.0), (Bytes{0x01, 0x00, 0x80}));
    EXPECT_EQ(int24_bytes(0, F, 0.0), (Bytes{0x00, 0x00, 0x00}));
    // 0.5 is 0x40000000: exactly 0x400000 in 24 bits; big-endian writing puts it first.
    EXPECT_EQ(int24_bytes(0, F, 0.5), (Bytes{0x00, 0x00, 0x40}));
    EXPECT_EQ(int24_bytes(2, F, 0.5), (Bytes{0x40, 0x00, 0x00}));
    // Half a 24-bit step (bit 7) rounds up.
    EXPECT_EQ(int24_bytes(0, D, 192.0 / 2147483646.5), (Bytes{0x01, 0x00, 0x00}));
}

TEST(PodConversions, FloatToFloatClipsNativelyButPassesBigEndianReads)
{
    EXPECT_EQ(convert_one<float>(0, F, F, 1.5f), 0.99999988f);
    EXPECT_EQ(convert_one<float>(0, F, F, -1.5f), -0.99999988f);
    EXPECT_EQ(convert_one<double>(0, D, D, 2.0), 0.9999999999999998);
    EXPECT_EQ(convert_one<double>(0, D, F, 1.5f), static_cast<double>(0.99999988f));
    EXPECT_TRUE(std::isnan(convert_one<float>(0, F, F, std::numeric_limits<float>::quiet_NaN())));

    // A big-endian 1.5 read through plane 1 passes unchanged.
    const unsigned char big_endian_one_and_a_half[4] = {0x3F, 0xC0, 0x00, 0x00};
    float out = 0;
    PodConversions[1][F][F](big_endian_one_and_a_half, &out, 1);
    EXPECT_EQ(out, 1.5f);
}

TEST(PodConversions, WidenedIntegersKeepTheirBitPatterns)
{
    EXPECT_EQ(convert_one<std::int16_t>(0, S, B, std::int8_t{-128}), std::int16_t(-32768));
    EXPECT_EQ(convert_one<std::int16_t>(0, S, B, std::int8_t{1}), 256);
    std::array<unsigned char, 3> out{};
    const std::int16_t v = -2;
    PodConversions[0][I][S](&v, out.data(), 1);
    EXPECT_EQ(out, (std::array<unsigned char, 3>{0x00, 0xFE, 0xFF}));
    PodConversions[2][I][S](&v, out.data(), 1);
    EXPECT_EQ(out, (std::array<unsigned char, 3>{0xFF, 0xFE, 0x00}));
}

// Writing big-endian through plane 2 and reading back through plane 1 returns the value within
// two steps of the file type (the short scale for writing is 32766.5, for reading 32767).
TEST(PodConversions, BigEndianWriteThenReadRoundTrips)
{
    const std::vector<float> values = {0.0f, 0.25f, -0.5f, 0.999f, -0.999f, 0.123456f};
    struct Case {
        int file_type;
        std::size_t bytes;
        double step;
    };
    for (Case c : {Case{S, 2, 2.0 / 32767}, {I, 3, 1.0 / 8388607}, {F, 4, 0.0}, {D, 8, 0.0}}) {
        std::vector<unsigned char> file(values.size() * c.bytes);
        std::vector<float> back(values.size());
        PodConversions[2][c.file_type][F](values.data(), file.data(), values.size());
        if (c.file_type == I) {
            // No int24 row in plane 1: read the file's int24 as floats.
            PodConversions[1][F][I](file.data(), back.data(), values.size());
        } else {
            PodConversions[1][F][c.file_type](file.data(), back.data(), values.size());
        }
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_NEAR(back[i], values[i], c.step + 1e-7) << "type " << c.file_type << " value " << values[i];
    }
}

TEST(PodConversions, CountZeroLeavesTheDestinationUntouchedAndCopiesMayOverlap)
{
    for (int plane = 0; plane < 3; ++plane)
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 5; ++column) {
                auto convert = PodConversions[plane][row][column];
                if (!convert)
                    continue;
                std::array<unsigned char, 16> source{}, destination;
                destination.fill(0xA5);
                convert(source.data(), destination.data(), 0);
                for (unsigned char b : destination)
                    ASSERT_EQ(b, 0xA5) << "plane " << plane << " row " << row << " column " << column;
            }

    std::int16_t shorts[6] = {1, 2, 3, 4, 5, 6};
    PodConversions[0][S][S](shorts, shorts + 2, 4);
    EXPECT_EQ(std::vector<std::int16_t>(shorts, shorts + 6), (std::vector<std::int16_t>{1, 2, 1, 2, 3, 4}));
}

TEST(PodConversions, ReadsSamplesAtAnyAlignment)
{
    // File data may start at any byte; big-endian shorts 0x4000 = 16384 at an odd address.
    const unsigned char bytes[7] = {0x00, 0x40, 0x00, 0xC0, 0x00, 0x7F, 0xFF};
    float out[3];
    PodConversions[1][F][S](bytes + 1, out, 3);
    EXPECT_FLOAT_EQ(out[0], 16384 / 32767.0f);
    EXPECT_FLOAT_EQ(out[1], -16384 / 32767.0f);
    EXPECT_FLOAT_EQ(out[2], 1.0f);
}

TEST(PodConversions, ExtraReadersDecodeUnsignedBytesAndInt32)
{
    const unsigned char bytes[3] = {0, 128, 255};
    float out[3];
    audio::Unsigned_Byte_Readers[F](bytes, out, 3);
    EXPECT_FLOAT_EQ(out[0], -128 / 127.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 1.0f);

    const std::int32_t native[2] = {2147483647, -1073741824};
    audio::Int32_Readers[0][F](native, out, 2);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_FLOAT_EQ(out[1], -0.5f);
    const unsigned char big[4] = {0xC0, 0x00, 0x00, 0x00};
    double d = 0;
    audio::Int32_Readers[1][D](big, &d, 1);
    EXPECT_DOUBLE_EQ(d, -1073741824 / 2147483647.0);
}

} // namespace
