// MIDI state: note stack, note events, smoothed inputs and the two note envelopes.
#include "synth/midi_status.h"

#include <algorithm>

#include "synth/synth_params.h"

namespace korvel::vimble {

namespace {

// Breakpoint times are stored in milliseconds; the envelopes use seconds, 1 ms .. 60 s.
double breakpoint_seconds(double millis) noexcept {
  return std::clamp(millis / 1000.0, 0.001, 60.0);
}

double current_value(const SynthParams& params, int id) noexcept { return params.get(id).first; }

// Seconds on the envelope clock until the event's frame; 0 without a usable frame rate.
double event_time(Midi::Event e, double framerate) noexcept {
  return framerate > 0 ? -e.delta / framerate : 0.0;
}

void start_envelope(MidiStatus::ADSR& env, int first_id, double velocity, double time,
                    const SynthParams& params, double framerate) noexcept {
  const double attack = breakpoint_seconds(current_value(params, first_id + 3));
  env.time = time;
  env.state = time != 0 ? MidiStatus::ADSR::Waiting : MidiStatus::ADSR::Attack;
  // The glide starts from the present level, so a new note continues a sounding envelope.
  env.output.set_target(current_value(params, first_id + 4) * velocity, attack * framerate);
  env.attack_end = attack;
  env.sustain_level = current_value(params, first_id + 7);
  env.decay_end = attack + breakpoint_seconds(current_value(params, first_id + 6));
}

void release_envelope(MidiStatus::ADSR& env, int first_id, double time, const SynthParams& params,
                      double framerate) noexcept {
  const double release = breakpoint_seconds(current_value(params, first_id + 9));
  env.time = time;
  env.state = MidiStatus::ADSR::Release;
  env.output.set_target(current_value(params, first_id + 1), release * framerate);
  env.release_end = release;
  env.attack_end = 0;
  env.decay_end = 0;
  env.sustain_level = 0;
}

}  // namespace

// ---- NoteStack ----

int MidiStatus::NoteStack::note_on(int key, int velocity) noexcept {
  if (!valid_key(key)) return -1;
  const int s = slot(key);
  if (held_[s]) {
    unlink(s);
  } else {
    held_[s] = true;
    ++count_;
  }
  velocity_[s] = static_cast<uint16_t>(velocity);
  prev_[s] = tail_;
  next_[s] = -1;
  if (tail_ >= 0) {
    next_[tail_] = static_cast<int16_t>(s);
  } else {
    head_ = static_cast<int16_t>(s);
  }
  tail_ = static_cast<int16_t>(s);
  return key;
}

int MidiStatus::NoteStack::note_off(int key) noexcept {
  if (!is_held(key)) return -1;  // the sounding key is always held, so nothing changes
  const int s = slot(key);
  const bool was_sounding = tail_ == s;
  unlink(s);
  held_[s] = false;
  velocity_[s] = 0;
  --count_;
  if (!was_sounding || tail_ < 0) return -1;
  return key_of(tail_);
}

void MidiStatus::NoteStack::clear() noexcept {
  for (int s = head_; s >= 0;) {
    const int after = next_[s];
    held_[s] = false;
    velocity_[s] = 0;
    prev_[s] = -1;
    next_[s] = -1;
    s = after;
  }
  head_ = tail_ = -1;
  count_ = 0;
}

void MidiStatus::NoteStack::unlink(int s) noexcept {
  const int before = prev_[s];
  const int after = next_[s];
  if (before >= 0) {
    next_[before] = static_cast<int16_t>(after);
  } else {
    head_ = static_cast<int16_t>(after);
  }
  if (after >= 0) {
    prev_[after] = static_cast<int16_t>(before);
  } else {
    tail_ = static_cast<int16_t>(before);
  }
  prev_[s] = -1;
  next_[s] = -1;
}

// ---- ADSR ----

void MidiStatus::ADSR::update(double frames, double framerate) noexcept {
  if (state != Waiting) {
    // Two output steps per call: the envelope runs at twice the speed of its breakpoint times.
    output.update(frames);
    output.update(frames);
    if (state == Idle) return;
  }
  if (framerate <= 0) return;
  time += 2 * frames / framerate;
  if (state == Waiting) {
    if (time < 0) return;
    state = Attack;
  }
  switch (state) {
    case Attack:
      if (time > attack_end) {
        state = Decay;
        output.set_target(sustain_level, (decay_end - attack_end) * framerate);
      }
      break;
    case Decay:
      if (time > decay_end) {
        state = Sustain;
        decay_end = 0;
        attack_end = 0;
      }
      break;
    case Release:
      if (time > release_end) {
        state = Idle;
        release_end = 0;
        time = 0;
      }
      break;
    default:
      break;
  }
}

// ---- MidiStatus ----

void MidiStatus::midi_event(Midi::Event e, bool sound_ready, const SynthParams& params,
                            double framerate) noexcept {
  enabled = sound_ready;
  if (e.type == 0x90) {
    start_note(e, params, framerate);
  } else if (e.type == 0x80) {
    end_note(e, params, framerate);
  }
}

void MidiStatus::start_note(Midi::Event e, const SynthParams& params, double framerate) noexcept {
  // Keys outside 16 channels x 128 notes cannot come from a MIDI stream; they are ignored.
  if (notes.note_on(key_of(e), e.velocity) < 0) return;
  note = e.note;
  velocity.set_target(e.velocity / 128.0, glide_time);

  for (ADSR* env : {&adsr1, &adsr2}) {
    env->time = 0;
    env->release_end = 0;
  }
  if (!enabled) {
    adsr1.state = adsr2.state = ADSR::Idle;
    return;
  }
  const double time = event_time(e, framerate);
  start_envelope(adsr1, ADSR1_FIRST_ID, velocity.target, time, params, framerate);
  start_envelope(adsr2, ADSR2_FIRST_ID, velocity.target, time, params, framerate);
}

void MidiStatus::end_note(Midi::Event e, const SynthParams& params, double framerate) noexcept {
  const int now_sounding = notes.note_off(key_of(e));
  if (!enabled) {
    for (ADSR* env : {&adsr1, &adsr2}) {
      env->state = ADSR::Idle;
      env->time = 0;
    }
    return;
  }
  if (notes.empty()) {
    const double time = event_time(e, framerate);
    release_envelope(adsr1, ADSR1_FIRST_ID, time, params, framerate);
    release_envelope(adsr2, ADSR2_FIRST_ID, time, params, framerate);
  } else if (now_sounding >= 0) {
    note = now_sounding & 0xFF;
  }
}

void MidiStatus::midi_value(int a, int b, int c) noexcept {
  switch (a) {
    case 1:  // modulation wheel
      modwheel.set_target(b / 128.0, glide_time);
      break;
    case 0xA0:  // key pressure: only for the sounding note
      if (b == static_cast<double>(note)) velocity.set_target(c / 128.0, glide_time);
      break;
    case 0xE0:  // pitch bend, 14 bits centred on 8192
      bend.set_target((b - 8192) / 8192.0, glide_time);
      break;
    default:  // other controllers (volume, sustain pedal, ...) are not used
      break;
  }
}

void MidiStatus::update(double frames, double framerate) noexcept {
  adsr1.update(frames, framerate);
  adsr2.update(frames, framerate);
  if (framerate <= 0) return;
  const double dt = frames / framerate;
  modwheel.update(dt);
  bend.update(dt);
  velocity.update(dt);
}

}  // namespace korvel::vimble
