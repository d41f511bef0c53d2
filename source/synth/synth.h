// The granular engine: renders grains from the current sound on the audio thread.
//
// Real-time rule: everything reachable from generate, midi_event and midi_value is noexcept and
// does not allocate, lock, wait, log, touch files or throw. Memory is fixed before audio runs
// (the 1000-record grain pool, the delay line sized by set_framerate); sounds arrive through
// the sound cache's lock-free hand-over and are installed by the audio thread itself at the
// start of a block; the cache keeps every sound alive, so the audio thread never frees one.
//
//   Synth synth;
//   synth.set_framerate(44100);
//   synth.load_soundfile("/sounds/loop.wav", nullptr);   // UI thread
//   synth.wait_for_loads(5000);                           // tools and tests only
//   synth.start();
//   synth.generate(inputs, outputs, 512);                 // audio thread
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "synth/delay_buffer.h"
#include "synth/grain.h"
#include "synth/grain_render.h"
#include "synth/midi_event.h"
#include "synth/midi_status.h"
#include "synth/relaxed.h"
#include "synth/sound_cache.h"
#include "synth/synth_params.h"

namespace audio {
class SoundPack;
}

namespace korvel::vimble {

class ITextReceiver;

// The sound the stream plays, readable from any thread: it points at a shared pointer owned by
// the sound cache, which never changes once its sound is installed and lives as long as the
// engine. Only the audio thread changes which one it points at.
class InstalledSound {
 public:
  using Pointer = std::shared_ptr<audio::SoundPack>;
  operator Pointer() const { return get_shared(); }
  Pointer get_shared() const {
    const Pointer* ref = ref_.load(std::memory_order_acquire);
    return ref ? *ref : Pointer();
  }
  audio::SoundPack* get() const noexcept {
    const Pointer* ref = ref_.load(std::memory_order_acquire);
    return ref ? ref->get() : nullptr;
  }
  audio::SoundPack* operator->() const noexcept { return get(); }
  explicit operator bool() const noexcept { return get() != nullptr; }
  // The shared pointer itself (audio thread, for grains to copy); null without a sound.
  const Pointer* ref() const noexcept { return ref_.load(std::memory_order_acquire); }
  // Audio thread.
  void set(const Pointer* ref) noexcept { ref_.store(ref, std::memory_order_release); }

 private:
  std::atomic<const Pointer*> ref_{nullptr};
};

class Synth {
 public:
  using Grain = vimble::Grain;
  using DeferredPatch = SoundCache::DeferredPatch;
  static constexpr int POOL_SIZE = 1000;
  static constexpr int CONTROL_FRAMES = 64;  // frames between control updates
  // Patch group bits used here (see ParamInfo::ParamGroup).
  static constexpr int PG_SOUND = 1;
  static constexpr int PG_VALUES_CHANGED = 512;
  // The group of a sound loaded from the editor.
  static constexpr int EDITOR_LOAD_GROUP = 0x20F;

  Synth();
  virtual ~Synth();
  Synth(const Synth&) = delete;
  Synth& operator=(const Synth&) = delete;

  // UI thread (the host's sample-rate call). Sizes the delay line for 10 seconds; waits for a
  // block being rendered to end, and the audio thread renders silence while it resizes.
  void set_framerate(double fr);
  // Any thread: a grain starts in the first step; running when a sound is installed, else
  // waiting for one.
  void start() noexcept;
  // Any thread (the audio thread at the end of a fade-out): running or waiting becomes stopped.
  void stop() noexcept;
  // Audio thread: renders one block into outputs[0] (left) and outputs[1] (right); inputs are
  // not read. Without a running stream the outputs are left untouched.
  void generate(float** inputs, float** outputs, int frames) noexcept;
  // Any thread: a sound is installed and ready.
  bool sound_ready() const noexcept;
  // Audio thread: note on/off and controller-like MIDI input.
  void midi_event(Midi::Event e) noexcept;
  void midi_value(int a, int b, int c) noexcept;

  // Audio thread: the control update (every 64 frames) and the start of one grain.
  void update_synth_params() noexcept;
  void new_grain(int) noexcept;

  // UI thread: loads a sound by its UTF-8 file name for the editor (applies no patch). Throws
  // std::invalid_argument for a name that is not UTF-8, before anything is started.
  void load_soundfile(const std::string& name, ITextReceiver* receiver);
  // Any thread, the audio thread included: asks for the sound of name and applies patch (-1:
  // none) with changetime and group once it is there. Loading and installing happen later
  // (the loader thread, then the audio thread at the start of a block).
  void load_soundfile(const std::wstring& name, ITextReceiver* receiver, int patch,
                      double changetime, int group) noexcept;
  // Any thread but the audio thread: installs pack at the start of the next block.
  void set_sound(std::shared_ptr<audio::SoundPack> pack);
  // UI thread (the editor's idle): the number of loads still pending. Never waits: finished
  // loads are installed by the audio thread.
  int check_new_soundpack() noexcept { return sounds.pending(); }
  // Any thread: the status number (audio::SoundPack::Status) of the sound asked for last;
  // 0 when none was.
  int load_status() const noexcept { return sounds.load_status(); }
  // UI thread, tools and tests: waits until no load is pending; false after timeout_ms.
  bool wait_for_loads(int timeout_ms) const;

  // Any thread.
  std::shared_ptr<audio::SoundPack> soundpack() const { return stream.sound; }
  double play_position() const noexcept { return stream.pos; }
  int active_grain_count() const noexcept { return active_count_.load(std::memory_order_relaxed); }
  // Tests and benchmarks: the renderer (AVX2 when the CPU has it, else the scalar one).
  void set_renderer(RenderStepFn fn) noexcept { render_step_ = fn; }

  // The play stream. state is shared by every thread; pos and the selection are written by the
  // audio thread and may be read anywhere; speed and the grain clock belong to the audio thread.
  struct Stream {
    std::atomic<int32_t> state{0};  // 0 never started, 1/2 stopped, 3 waiting, 4 running
    InstalledSound sound;
    Relaxed<int32_t> sel_start = 0;
    Relaxed<int32_t> sel_end = 0;
    Relaxed<double> pos = 0.0;
    double speed = 0.0;
    double grain_phase = 0.0;
    double grain_step = 0.0;
  };

  MidiStatus midi;
  // Written by set_framerate while the audio thread does not render; read by MIDI events too.
  Relaxed<double> framerate = 0.0;
  int64_t sample_counter = 0;
  int32_t active_grains = 0;
  Grain active_head;
  Grain free_head;
  std::deque<Grain> grains;
  Stream stream;
  DelayBuffer delay_buffer;
  SoundCache sounds;  // `soundpacks` and `deferred_patches` live in the cache's loader thread
  SynthParams params;

 private:
  void render_step(float* left, float* right) noexcept;
  void advance_play_position() noexcept;
  void take_installs() noexcept;
  void install_sound(const std::shared_ptr<audio::SoundPack>* ref) noexcept;
  void retire_finished() noexcept;

  RenderStepFn render_step_ = nullptr;
  Grain* order_[POOL_SIZE] = {};  // the active list as an array, in list order
  double gate_[STEP_FRAMES] = {};
  // Frames of the last step that did not fit into the host's previous block.
  float carry_left_[STEP_FRAMES] = {};
  float carry_right_[STEP_FRAMES] = {};
  int carry_pos_ = STEP_FRAMES;
  std::atomic<bool> restart_{false};
  // 0 free, 1 the audio thread renders, 2 set_framerate resizes.
  std::atomic<int> owner_{0};
  std::atomic<int> active_count_{0};
};

}  // namespace korvel::vimble
