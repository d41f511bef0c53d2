// The sample conversion functions and their table.
#include "audio/pod_conversions.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace audio {

namespace {

static_assert(std::endian::native == std::endian::little, "native sample order is little-endian");

// Scales of integer samples to floating point (rule: multiply in double precision, no clipping).
struct BYTE_SCALE {
    static constexpr double value = 1.0 / 127; // 0.007874015748031496
};
struct SHORT_SCALE {
    static constexpr double value = 1.0 / 32767; // 3.051850947599719e-05
};
struct INT32_SCALE {
    static constexpr double value = 1.0 / 2147483647; // 4.656612875245797e-10, also int24 placed high
};

template <typename T>
T byte_reversed(T value) noexcept
{
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
        unsigned char t = bytes[i];
        bytes[i] = bytes[sizeof(T) - 1 - i];
        bytes[sizeof(T) - 1 - i] = t;
    }
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

// Sample types: how one sample is read from and written to memory in either byte order.
// Loads and stores go through memcpy, since file data need not be aligned.
template <typename V>
struct Plain {
    using value = V;
    static constexpr std::size_t size = sizeof(V);
    template <bool Swap>
    static V load(const unsigned char* p) noexcept
    {
        V v;
        std::memcpy(&v, p, sizeof(V));
        if constexpr (Swap)
            v = byte_reversed(v);
        return v;
    }
    template <bool Swap>
    static void store(unsigned char* p, V v) noexcept
    {
        if constexpr (Swap)
            v = byte_reversed(v);
        std::memcpy(p, &v, sizeof(V));
    }
};
using ByteType = Plain<std::int8_t>;
using ShortType = Plain<std::int16_t>;
using FloatType = Plain<float>;
using DoubleType = Plain<double>;

// 24-bit integers are held as a 32-bit integer with the 24 bits on top and a zero low byte.
struct Int24Type {
    using value = std::int32_t;
    static constexpr std::size_t size = 3;
    template <bool Swap>
    static std::int32_t load(const unsigned char* p) noexcept
    {
        std::uint32_t low = Swap ? p[2] : p[0];
        std::uint32_t high = Swap ? p[0] : p[2];
        return static_cast<std::int32_t>(low << 8 | std::uint32_t{p[1]} << 16 | high << 24);
    }
    template <bool Swap>
    static void store(unsigned char* p, std::int32_t v) noexcept
    {
        auto bits = static_cast<std::uint32_t>(v);
        auto low = static_cast<unsigned char>(bits >> 8);
        auto middle = static_cast<unsigned char>(bits >> 16);
        auto high = static_cast<unsigned char>(bits >> 24);
        p[0] = Swap ? high : low;
        p[1] = middle;
        p[2] = Swap ? low : high;
    }
};

struct Int32Type : Plain<std::int32_t> {};

// Unsigned 8-bit samples with 128 as zero, read as the signed byte they stand for.
struct UnsignedByteType {
    using value = std::int8_t;
    static constexpr std::size_t size = 1;
    template <bool>
    static std::int8_t load(const unsigned char* p) noexcept
    {
        return static_cast<std::int8_t>(int{p[0]} - 128);
    }
};

// One conversion: a loop over count samples applying Op to each.
template <typename From, typename To, bool SwapIn, bool SwapOut, auto Op>
void convert(const void* source, void* destination, std::size_t count)
{
    auto* in = static_cast<const unsigned char*>(source);
    auto* out = static_cast<unsigned char*>(destination);
    for (std::size_t i = 0; i < count; ++i)
        To::template store<SwapOut>(out + i * To::size, Op(From::template load<SwapIn>(in + i * From::size)));
}

// Identity copies move memory, so overlapping buffers are allowed.
template <std::size_t Size>
void copy(const void* source, void* destination, std::size_t count)
{
    if (count > 0)
        std::memmove(destination, source, count * Size);
}

// Clip to the bounds; NaN passes unchanged.
constexpr float clip_float(float v) noexcept
{
    return v > FLOAT_CLIP ? FLOAT_CLIP : (v < -FLOAT_CLIP ? -FLOAT_CLIP : v);
}
constexpr double clip_double(double v) noexcept
{
    return v > DOUBLE_CLIP ? DOUBLE_CLIP : (v < -DOUBLE_CLIP ? -DOUBLE_CLIP : v);
}

// Integer to floating point.
template <typename R, typename Scale>
R integer_to(std::int32_t v) noexcept
{
    return static_cast<R>(static_cast<double>(v) * Scale::value);
}

// Floating point to byte or short: clip, scale in the source's precision, round to nearest even.
// lrint keeps NaN defined (it gives an unspecified value instead of undefined behaviour).
template <typename R, typename F>
R to_byte(F v) noexcept
{
    F clipped = std::is_same_v<F, float> ? F(clip_float(float(v))) : F(clip_double(double(v)));
    return static_cast<R>(std::lrint(clipped * F(126.5)));
}
template <typename R, typename F>
R to_short(F v) noexcept
{
    F clipped = std::is_same_v<F, float> ? F(clip_float(float(v))) : F(clip_double(double(v)));
    return static_cast<R>(std::lrint(clipped * F(32766.5)));
}

// Floating point to int24: scale to 32 bits, round the magnitude to a multiple of 256 (the
// low byte is dropped when stored), keep the sign. The largest magnitude stored is 0x7FFFFF.
std::int32_t round_to_int24(long rounded) noexcept
{
    std::int64_t m = rounded < 0 ? -std::int64_t{rounded} : std::int64_t{rounded};
    if (m <= 0x7FFFFF00 && (m & 0x80) != 0)
        m += 256;
    m &= ~std::int64_t{0xFF};
    return static_cast<std::int32_t>(rounded < 0 ? -m : m);
}
std::int32_t float_to_int24(float v) noexcept
{
    return round_to_int24(std::lrint(clip_float(v) * 2147483648.0f));
}
std::int32_t double_to_int24(double v) noexcept
{
    return round_to_int24(std::lrint(clip_double(v) * 2147483646.5));
}

template <typename V>
constexpr V same(V v) noexcept
{
    return v;
}
std::int16_t byte_to_short(std::int8_t v) noexcept { return static_cast<std::int16_t>(v * 256); }
std::int32_t short_to_int24(std::int16_t v) noexcept { return std::int32_t{v} * 65536; }
// Narrowing integer conversions truncate (keep the high bits).
std::int8_t short_to_byte(std::int16_t v) noexcept { return static_cast<std::int8_t>(v >> 8); }
std::int16_t int24_to_short(std::int32_t v) noexcept { return static_cast<std::int16_t>(v >> 16); }
std::int8_t unsigned_byte(std::int8_t v) noexcept { return v; }

float clip_then_narrow(double v) noexcept { return static_cast<float>(clip_double(v)); }
double clip_then_widen(float v) noexcept { return static_cast<double>(clip_float(v)); }
float narrow(double v) noexcept { return static_cast<float>(v); }
double widen(float v) noexcept { return static_cast<double>(v); }
float narrow_then_clip(double v) noexcept { return clip_float(static_cast<float>(v)); }
double widen_then_clip(float v) noexcept { return clip_double(static_cast<double>(v)); }

using B = ByteType;
using S = ShortType;
using I = Int24Type;
using F = FloatType;
using D = DoubleType;

template <typename From, typename To, auto Op>
constexpr ConversionFunction native = &convert<From, To, false, false, Op>;
template <typename From, typename To, auto Op>
constexpr ConversionFunction reading = &convert<From, To, true, false, Op>;
template <typename From, typename To, auto Op>
constexpr ConversionFunction writing = &convert<From, To, false, true, Op>;

} // namespace

const ConversionFunction PodConversions[CONVERSION_PLANES][SAMPLE_TYPES][SAMPLE_TYPES] = {
    // Plane 0: native. Row = destination, column = source: byte, short, int24, float, double.
    {
        {&copy<1>, native<S, B, short_to_byte>, nullptr,
         native<F, B, to_byte<std::int8_t, float>>, native<D, B, to_byte<std::int8_t, double>>},
        {native<B, S, byte_to_short>, &copy<2>, native<I, S, int24_to_short>,
         native<F, S, to_short<std::int16_t, float>>, native<D, S, to_short<std::int16_t, double>>},
        {nullptr, native<S, I, short_to_int24>, &copy<3>, native<F, I, float_to_int24>,
         native<D, I, double_to_int24>},
        {native<B, F, integer_to<float, BYTE_SCALE>>, native<S, F, integer_to<float, SHORT_SCALE>>,
         native<I, F, integer_to<float, INT32_SCALE>>, native<F, F, clip_float>, native<D, F, clip_then_narrow>},
        {native<B, D, integer_to<double, BYTE_SCALE>>, native<S, D, integer_to<double, SHORT_SCALE>>,
         native<I, D, integer_to<double, INT32_SCALE>>, native<F, D, clip_then_widen>,
         native<D, D, clip_double>},
    },
    // Plane 1: reading big-endian files. Row = memory type, column = file type.
    {
        {&copy<1>, nullptr, nullptr, nullptr, nullptr},
        {native<B, S, byte_to_short>, reading<S, S, same<std::int16_t>>, reading<I, S, int24_to_short>,
         reading<F, S, to_short<std::int16_t, float>>, reading<D, S, to_short<std::int16_t, double>>},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {nullptr, reading<S, F, integer_to<float, SHORT_SCALE>>, reading<I, F, integer_to<float, INT32_SCALE>>,
         reading<F, F, same<float>>, reading<D, F, narrow>},
        {nullptr, reading<S, D, integer_to<double, SHORT_SCALE>>, reading<I, D, integer_to<double, INT32_SCALE>>,
         reading<F, D, widen>, reading<D, D, same<double>>},
    },
    // Plane 2: writing big-endian files. Row = file type, column = memory type.
    {
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {nullptr, writing<S, S, same<std::int16_t>>, nullptr, writing<F, S, to_short<std::int16_t, float>>,
         writing<D, S, to_short<std::int16_t, double>>},
        {nullptr, writing<S, I, short_to_int24>, nullptr, writing<F, I, float_to_int24>,
         writing<D, I, double_to_int24>},
        {nullptr, writing<S, F, integer_to<float, SHORT_SCALE>>, nullptr, writing<F, F, clip_float>,
         writing<D, F, narrow_then_clip>},
        {nullptr, writing<S, D, integer_to<double, SHORT_SCALE>>, nullptr, writing<F, D, widen_then_clip>,
         writing<D, D, clip_double>},
    },
};

const ConversionFunction Unsigned_Byte_Readers[SAMPLE_TYPES] = {
    native<UnsignedByteType, B, unsigned_byte>,
    native<UnsignedByteType, S, byte_to_short>,
    nullptr,
    native<UnsignedByteType, F, integer_to<float, BYTE_SCALE>>,
    native<UnsignedByteType, D, integer_to<double, BYTE_SCALE>>,
};

const ConversionFunction Int32_Readers[2][SAMPLE_TYPES] = {
    {nullptr, nullptr, nullptr, native<Int32Type, F, integer_to<float, INT32_SCALE>>,
     native<Int32Type, D, integer_to<double, INT32_SCALE>>},
    {nullptr, nullptr, nullptr, reading<Int32Type, F, integer_to<float, INT32_SCALE>>,
     reading<Int32Type, D, integer_to<double, INT32_SCALE>>},
};


} // namespace audio
