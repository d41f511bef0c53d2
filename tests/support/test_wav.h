// Writes the small 16-bit PCM RIFF/WAVE files that tests load as sounds.
//
//   write_test_wav(path, 44100, 2, 44100, [](int channel, uint32_t frame) {
//     return int16_t(12000 * std::sin(2 * M_PI * 440 * frame / 44100.0));
//   });
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>

// sample(channel, frame) gives each 16-bit sample, channels interleaved.
template <typename SampleFn>
void write_test_wav(const std::filesystem::path& path, uint32_t frames, int channels, uint32_t rate,
                    SampleFn sample) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t frame_bytes = 2 * static_cast<uint32_t>(channels);
  const uint32_t data_bytes = frames * frame_bytes;
  out.write("RIFF", 4);
  u32(36 + data_bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);  // PCM
  u16(static_cast<uint16_t>(channels));
  u32(rate);
  u32(rate * frame_bytes);
  u16(static_cast<uint16_t>(frame_bytes));
  u16(16);
  out.write("data", 4);
  u32(data_bytes);
  for (uint32_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) u16(static_cast<uint16_t>(static_cast<int16_t>(sample(c, i))));
}
