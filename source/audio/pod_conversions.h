// Conversions of sample runs between the five sample types, in native and big-endian order.
//
// audio::PodConversions[plane][row][column] holds the converter or nullptr:
//   plane 0: native to native, row = destination type, column = source type;
//   plane 1: reading big-endian files, row = memory type, column = file type;
//   plane 2: writing big-endian files, row = file type, column = memory type.
// Types in table order: 0 byte (signed 8-bit), 1 short, 2 int24 (three bytes), 3 float, 4 double.
//
//   float out[256];
//   audio::PodConversions[0][3][1](file_bytes, out, 256); // 256 native shorts to floats
#pragma once

#include <cstddef>

namespace audio {

// Converts count samples from source to destination (distinct buffers; the identity copies
// also accept overlapping ones). Runs on any thread; no allocation.
using ConversionFunction = void (*)(const void* source, void* destination, std::size_t count);

inline constexpr int CONVERSION_PLANES = 3;
inline constexpr int SAMPLE_TYPES = 5;

// Table indices of the sample types.
enum SampleIndex : int { BYTE_INDEX = 0, SHORT_INDEX = 1, INT24_INDEX = 2, FLOAT_INDEX = 3, DOUBLE_INDEX = 4 };

extern const ConversionFunction PodConversions[CONVERSION_PLANES][SAMPLE_TYPES][SAMPLE_TYPES];

// Readers for file sample types that the table has no column for, one per memory type
// (same row order as the table; an entry may be empty).
// Unsigned 8-bit samples with 128 as zero (8-bit WAVE files).
extern const ConversionFunction Unsigned_Byte_Readers[SAMPLE_TYPES];
// 32-bit two's complement integers, [0] native and [1] big-endian, scaled by 1/2147483647.
extern const ConversionFunction Int32_Readers[2][SAMPLE_TYPES];

// Clip bounds: the largest float and double below 1 but one.
inline constexpr float FLOAT_CLIP = 0.99999988f;           // bits 0x3F7FFFFE
inline constexpr double DOUBLE_CLIP = 0.9999999999999998;  // bits 0x3FEFFFFFFFFFFFFE

} // namespace audio
