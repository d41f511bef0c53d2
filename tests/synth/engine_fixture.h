// Shared by the engine tests: sounds made in memory and a rendering helper.
#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "synth/synth.h"

namespace korvel::vimble::testing {

// A ready sound of frames frames: a sine per channel (220 Hz left, 330 Hz right) at 44.1 kHz,
// with a little noise, and the guard frames repeating the start as a loaded pack has them.
inline std::shared_ptr<audio::SoundPack> make_sound(size_t frames, unsigned channels = 2,
                                                   double amplitude = 0.4,
                                                   unsigned samplerate = 44100) {
  auto pack = std::make_shared<audio::SoundPack>(L"test.wav");
  pack->format.samplerate = samplerate;
  pack->format.channels = channels;
  pack->framecount = frames;
  pack->samples.resize((frames + audio::SoundPack::GUARD_FRAMES) * channels);
  uint32_t noise = 7;
  for (size_t i = 0; i < frames; ++i) {
    for (unsigned c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double n = (noise >> 8) / double(1 << 24) - 0.5;
      pack->samples[i * channels + c] =
          float(amplitude * std::sin(2 * M_PI * (220 + 110 * c) * i / 44100.0) + 0.05 * n);
    }
  }
  for (size_t i = 0; i < audio::SoundPack::GUARD_FRAMES * channels; ++i)
    pack->samples[frames * channels + i] = pack->samples[i % (frames * channels)];
  pack->status = audio::SoundPack::Ready;
  return pack;
}

struct Rendered {
  std::vector<float> left;
  std::vector<float> right;
};

// Renders frames frames in blocks of block frames (the last may be shorter).
inline Rendered render(Synth& synth, int frames, int block) {
  Rendered out;
  out.left.assign(frames, 0.f);
  out.right.assign(frames, 0.f);
  for (int done = 0; done < frames; done += block) {
    const int n = std::min(block, frames - done);
    float* outputs[2] = {out.left.data() + done, out.right.data() + done};
    synth.generate(nullptr, outputs, n);
  }
  return out;
}

// A started engine at 44.1 kHz playing sound (installed by the first block).
inline std::unique_ptr<Synth> make_engine(std::shared_ptr<audio::SoundPack> sound,
                                          double framerate = 44100.0) {
  auto synth = std::make_unique<Synth>();
  synth->set_framerate(framerate);
  synth->params.set_random_seed(1);
  synth->set_sound(std::move(sound));
  synth->start();
  return synth;
}

}  // namespace korvel::vimble::testing
