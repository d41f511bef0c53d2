// The granular engine: renders grains from the current sound on the audio thread.
// (Shell: renders nothing yet; the engine fills it in.)
#pragma once

#include <cstdint>
#include <memory>

#include "synth/midi_event.h"
#include "synth/synth_params.h"

namespace audio {
class SoundPack;
}

namespace korvel::vimble {

class Synth {
 public:
  Synth() : params(*this) {}
  virtual ~Synth() = default;
  Synth(const Synth&) = delete;
  Synth& operator=(const Synth&) = delete;

  // UI thread (host's sample-rate call).
  void set_framerate(double fr) { framerate = fr; }
  void start() {}
  void stop() {}
  // Audio thread: renders one block into outputs[0] (left) and outputs[1] (right).
  void generate(float**, float**, int) noexcept {}
  bool sound_ready() const { return false; }
  void midi_event(Midi::Event) noexcept {}
  void midi_value(int, int, int) noexcept {}

  // The play stream: the current sound, the selection the play position loops in, the clocks.
  struct Stream {
    int32_t state = 0;  // 0 never started, 1/2 stopped, 3 waiting for a sound, 4 running
    std::shared_ptr<audio::SoundPack> sound;
    int32_t sel_start = 0;
    int32_t sel_end = 0;
    double pos = 0;
    double speed = 0;
    double grain_phase = 0;
    double grain_step = 0;
  };

  double framerate = 0;
  Stream stream;
  SynthParams params;
};

}  // namespace korvel::vimble
