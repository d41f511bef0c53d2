// MIDI state of the engine: held notes with last-note priority, smoothed inputs, two envelopes.
//
//   MidiStatus midi;
//   midi.midi_event(e, synth.sound_ready(), params, framerate);  // note on / note off
//   midi.midi_value(0xE0, 16383, 0);                             // pitch bend up
//   midi.update(8, framerate);                                   // once per 8-frame step
//   double a = midi.adsr1.level_at(i);                           // i frames into the step
//
// Everything here runs on the host's audio thread: noexcept, no allocation, no locks. The note
// stack lives in fixed storage (16 channels x 128 notes), so no number of note events, stuck or
// repeated notes included, makes it grow.
#pragma once

#include <array>
#include <cstdint>

#include "synth/base_param.h"
#include "synth/midi_event.h"
#include "synth/relaxed.h"

namespace korvel::vimble {

class SynthParams;

class MidiStatus {
 public:
  // Parameter ids of the envelope breakpoints: point P of envelope 1 has its delta at
  // ADSR1_FIRST_ID + 3 * P and its level one above; envelope 2 starts at ADSR2_FIRST_ID.
  static constexpr int ADSR1_FIRST_ID = 25;
  static constexpr int ADSR2_FIRST_ID = 40;

  // One five-point note envelope, run on a clock at twice the speed of its breakpoint times.
  struct ADSR {
    enum State : int32_t { Idle = 0, Waiting = 1, Attack = 2, Decay = 3, Sustain = 4, Release = 5 };

    int32_t state = Idle;
    double time = 0;           // seconds on the envelope clock; negative while waiting
    double attack_end = 0;     // seconds on the envelope clock
    double decay_end = 0;      // seconds on the envelope clock
    double sustain_level = 0;
    double release_end = 0;    // seconds on the envelope clock
    BaseParam output;          // the envelope's level; glide times in frames

    // Advances the envelope by frames output frames (twice as many envelope frames).
    void update(double frames, double framerate) noexcept;
    // The level frames output frames after the last update, on the same double-speed clock, so
    // that values read between updates join up with the next update; held while waiting.
    double level_at(double frames) const noexcept {
      return state == Waiting ? double(output.current) : output.sample_value(2 * frames);
    }
  };

  // The held notes. A key is note + 256 * channel. The sounding note is the most recently
  // pressed key that is still held; releasing it brings back the one pressed before it.
  class NoteStack {
   public:
    static constexpr int CHANNELS = 16;
    static constexpr int NOTES = 128;
    static constexpr int CAPACITY = CHANNELS * NOTES;

    static bool valid_key(int key) noexcept {
      return key >= 0 && (key & 0xFF) < NOTES && (key >> 8) < CHANNELS;
    }

    // Holds key with velocity (a key already held is moved to the top); returns key, or -1 for
    // a key outside 16 channels x 128 notes, which is ignored.
    int note_on(int key, int velocity) noexcept;
    // Releases key. Returns the key that sounds now when the sounding note changed to another
    // held note; -1 when the sounding note does not change or no note is held any more.
    int note_off(int key) noexcept;
    void clear() noexcept;

    bool empty() const noexcept { return count_ == 0; }
    int size() const noexcept { return count_; }
    bool is_held(int key) const noexcept { return valid_key(key) && held_[slot(key)]; }
    int velocity(int key) const noexcept { return is_held(key) ? velocity_[slot(key)] : 0; }
    // The sounding key, or -1 when no note is held.
    int top() const noexcept { return tail_ < 0 ? -1 : key_of(tail_); }

   private:
    static int slot(int key) noexcept { return (key >> 8) * NOTES + (key & 0xFF); }
    static int key_of(int slot) noexcept { return (slot / NOTES) * 256 + slot % NOTES; }
    void unlink(int slot) noexcept;

    // Held keys as a doubly linked list in the order of their latest press (tail = latest).
    // Keys released out of order simply leave the list: a key no longer held can never be the
    // sounding one, so the press order of the held keys is all that decides the result.
    std::array<int16_t, CAPACITY> prev_{};
    std::array<int16_t, CAPACITY> next_{};
    std::array<uint16_t, CAPACITY> velocity_{};
    std::array<bool, CAPACITY> held_{};
    int16_t head_ = -1;
    int16_t tail_ = -1;
    int count_ = 0;
  };

  // Smoothed inputs, 0..1 (bend -1..1); they glide over glide_time seconds.
  BaseParam velocity;
  BaseParam modwheel;
  BaseParam bend;
  ADSR adsr1;
  ADSR adsr2;
  bool enabled = false;     // notes drive the engine (a sound was ready at the last note event)
  double glide_time = 0.2;  // seconds
  double base_note = 60;
  // The sounding note number. Written by the audio thread; the editor's sketch of the grain
  // stream reads it through the MIDI controllers.
  Relaxed<double> note = 60;
  NoteStack notes;

  // A note event from the host: enabled = sound_ready, then note on (0x90) or note off (0x80);
  // other types are ignored. Envelope breakpoints are read from params at their current values.
  void midi_event(Midi::Event e, bool sound_ready, const SynthParams& params,
                  double framerate) noexcept;
  void start_note(Midi::Event e, const SynthParams& params, double framerate) noexcept;
  void end_note(Midi::Event e, const SynthParams& params, double framerate) noexcept;
  // Controller-like input: a = 1 mod wheel (b = value), 0xA0 key pressure (b = note,
  // c = pressure), 0xE0 pitch bend (b = 14-bit value). Anything else is ignored.
  void midi_value(int a, int b, int c) noexcept;
  // Called by the render loop every step (frames = 8): both envelopes, then the three inputs.
  void update(double frames, double framerate) noexcept;

  static int key_of(Midi::Event e) noexcept { return e.note + 256 * e.channel; }
};

}  // namespace korvel::vimble
