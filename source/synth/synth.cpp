// The granular engine: the render loop, the control update, grain starts and sound installs.
#include "synth/synth.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "audio/sound_analysis_pack.h"
#include "synth/param_info.h"

namespace korvel::vimble {

namespace {

// Flushes denormals to zero (and reads them as zero) for the lifetime of the guard.
class DenormalGuard {
 public:
  DenormalGuard() noexcept : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040); }
  ~DenormalGuard() { _mm_setcsr(saved_); }
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

 private:
  unsigned saved_;
};

SoundView view_of(const audio::SoundPack& pack) noexcept {
  SoundView view;
  view.samples = pack.samples.data();
  view.frames = static_cast<int32_t>(pack.framecount);
  view.channels = static_cast<int32_t>(pack.format.channels);
  view.samplerate = pack.format.samplerate;
  return view;
}

// Ids whose modulation a grain start reads, with their slot selector, in the order it reads
// them (the controllers' random walks advance once per read).
struct ModulatedId {
  int id;
  int slot;
};
constexpr ModulatedId GRAIN_MODULATED[] = {{3, -1}, {5, -1}, {7, -1}, {8, -1}, {9, -1},
                                           {10, -1}, {13, 0}, {12, 0}, {11, 0}, {14, 0},
                                           {18, 0}, {16, 0}, {23, 0}, {24, 0}};

}  // namespace

Synth::Synth() : params(*this) {
  for (int i = 0; i < POOL_SIZE; ++i) grains.emplace_back();
  for (Grain& g : grains) {
    g.next = free_head.next;
    free_head.next = &g;
  }
  render_step_ = best_render_step();
  params.load_soundfile = [this](const std::wstring& name, int patch, double changetime,
                                 int group) { load_soundfile(name, nullptr, patch, changetime, group); };
}

Synth::~Synth() { params.load_soundfile = nullptr; }

void Synth::set_framerate(double fr) {
  int expected = 0;
  while (!owner_.compare_exchange_weak(expected, 2, std::memory_order_acquire)) {
    expected = 0;
    std::this_thread::yield();
  }
  framerate = fr;
  if (fr > 0) delay_buffer.resize(static_cast<uint32_t>(10.0 * fr), STEP_FRAMES);
  owner_.store(0, std::memory_order_release);
}

void Synth::start() noexcept {
  restart_.store(true, std::memory_order_release);
  // Installing a sound turns a waiting stream into a running one (take_installs).
  stream.state.store(stream.sound ? 4 : 3);
}

void Synth::stop() noexcept {
  int32_t state = stream.state.load();
  while ((state == 3 || state == 4) && !stream.state.compare_exchange_weak(state, state - 2)) {
  }
}

bool Synth::sound_ready() const noexcept {
  const audio::SoundPack* pack = stream.sound.get();
  return pack && pack->status.load() == audio::SoundPack::Ready;
}

void Synth::midi_event(Midi::Event e) noexcept {
  midi.midi_event(e, sound_ready(), params, framerate);
}

void Synth::midi_value(int a, int b, int c) noexcept { midi.midi_value(a, b, c); }

// --- sounds ---

void Synth::load_soundfile(const std::string& name, ITextReceiver* receiver) {
  load_soundfile(utf8_to_wide_strict(name), receiver, -1, -1.0, EDITOR_LOAD_GROUP);
}

void Synth::load_soundfile(const std::wstring& name, ITextReceiver*, int patch,
                           double changetime, int group) noexcept {
  sounds.request(name, patch, changetime, group);
}

void Synth::set_sound(std::shared_ptr<audio::SoundPack> pack) { sounds.install_direct(std::move(pack)); }

bool Synth::wait_for_loads(int timeout_ms) const {
  return sounds.wait_idle(std::chrono::milliseconds(timeout_ms));
}

void Synth::install_sound(const std::shared_ptr<audio::SoundPack>* ref) noexcept {
  const audio::SoundPack& pack = **ref;
  const double frames = static_cast<double>(pack.framecount);
  stream.sound.set(ref);
  stream.sel_start = 0;
  stream.sel_end = static_cast<int32_t>(pack.framecount);
  stream.pos = 0.0;
  int32_t waiting = 3;
  stream.state.compare_exchange_strong(waiting, 4);
  params.set_sound_range(frames);
  params.changeValue(0, 0.0, 0.0);
  params.changeValue(1, frames, 0.0);
}

// Finished loads and other installs, in the order install sound, apply patch, notify.
void Synth::take_installs() noexcept {
  SoundCache::Install in;
  while (sounds.take(in)) {
    if (in.sound) install_sound(in.sound);
    switch (in.kind) {
      case SoundCache::LOADED: {
        const double t = in.changetime < 0 ? params.changerate() : in.changetime;
        int code = PG_SOUND;
        if (in.patch >= 0) {
          params.applyPatch(static_cast<size_t>(in.patch), t, in.group);
          code = PG_VALUES_CHANGED | PG_SOUND;
        } else {
          const double frames = static_cast<double>((*in.sound)->framecount);
          params.changeValue(0, 0.0, 0.0);
          params.changeValue(1, frames, 0.0);
        }
        params.notifyListener(0, code);
        break;
      }
      case SoundCache::CACHE_HIT:
      case SoundCache::APPLY_ONLY: {
        int group = in.group | PG_SOUND;
        // A sound still loading is not there to select: the patch is applied without its sound
        // (asking for it again would only repeat this request), and its own request follows.
        if (in.kind == SoundCache::APPLY_ONLY) group &= ~PG_SOUND;
        if (in.patch < 0)
          params.notifyListener(0, in.group | PG_SOUND);
        else
          params.applyPatch(static_cast<size_t>(in.patch), in.changetime, group);
        break;
      }
      case SoundCache::DIRECT:
        break;
    }
  }
}

// --- rendering ---

void Synth::generate(float**, float** outputs, int frames) noexcept {
  if (frames <= 0) return;
  int expected = 0;
  if (!owner_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return;
  DenormalGuard denormals;
  take_installs();
  if (restart_.exchange(false, std::memory_order_acquire)) {
    stream.grain_phase = 1.0;
    carry_pos_ = STEP_FRAMES;
  }
  if (stream.state.load() == 3 && stream.sound) {
    int32_t waiting = 3;
    stream.state.compare_exchange_strong(waiting, 4);
  }
  if (stream.state.load() < 4 || framerate <= 0) {
    owner_.store(0, std::memory_order_release);
    return;
  }
  float* left = outputs[0];
  float* right = outputs[1];
  std::fill_n(left, frames, 0.f);
  std::fill_n(right, frames, 0.f);

  // Whole 8-frame steps only: a step that does not fit is carried into the next block, so the
  // output is the same sample stream whatever the host's block lengths.
  int done = 0;
  while (carry_pos_ < STEP_FRAMES && done < frames) {
    left[done] = carry_left_[carry_pos_];
    right[done] = carry_right_[carry_pos_];
    ++carry_pos_;
    ++done;
  }
  for (; done + STEP_FRAMES <= frames; done += STEP_FRAMES) render_step(left + done, right + done);
  if (done < frames) {
    std::fill_n(carry_left_, STEP_FRAMES, 0.f);
    std::fill_n(carry_right_, STEP_FRAMES, 0.f);
    render_step(carry_left_, carry_right_);
    carry_pos_ = 0;
    while (done < frames) {
      left[done] = carry_left_[carry_pos_];
      right[done] = carry_right_[carry_pos_];
      ++carry_pos_;
      ++done;
    }
  }
  // The host never gets a sample that is not a number.
  for (int i = 0; i < frames; ++i) {
    if (!std::isfinite(left[i])) left[i] = 0.f;
    if (!std::isfinite(right[i])) right[i] = 0.f;
  }
  active_count_.store(active_grains, std::memory_order_relaxed);
  owner_.store(0, std::memory_order_release);
}

void Synth::render_step(float* left, float* right) noexcept {
  // Control updates fall on multiples of 64 rendered frames.
  if (sample_counter % CONTROL_FRAMES == 0) update_synth_params();
  midi.update(STEP_FRAMES, framerate);
  advance_play_position();

  stream.grain_phase += STEP_FRAMES * stream.grain_step;
  if (stream.grain_phase >= 1.0 && stream.state.load(std::memory_order_relaxed) >= 4) {
    new_grain(0);
    stream.grain_phase -= 1.0;
  }

  const double* gate = nullptr;
  if (midi.enabled) {
    // The first envelope gates the grains: its value i samples into the step, squared. Its
    // clock runs at twice the output's speed (an 8-frame update advances it by 16 frames), so
    // i output samples are 2i frames of its glide; so the gate continues without steps.
    const MidiStatus::ADSR& adsr = midi.adsr1;
    for (int i = 0; i < STEP_FRAMES; ++i) {
      const double a = adsr.state == MidiStatus::ADSR::Waiting ? double(adsr.output.current)
                                                               : adsr.output.sample_value(2.0 * i);
      gate_[i] = a * a;
    }
    gate = gate_;
  }
  render_step_(order_, static_cast<size_t>(active_grains), gate, left, right);
  retire_finished();
  delay_buffer.output(left, right, STEP_FRAMES);
  sample_counter += STEP_FRAMES;
}

void Synth::advance_play_position() noexcept {
  double pos = stream.pos.load() + STEP_FRAMES * stream.speed;
  const double lo = stream.sel_start.load(), hi = stream.sel_end.load();
  double p = pos < 0.0 ? pos + hi : pos;
  if (p < lo || p > hi) {
    p = std::fmod(p - lo, hi - lo);
    p += p < 0.0 ? hi : lo;
  }
  stream.pos = std::isnan(p) ? 0.0 : p;
}

// order_ mirrors the active list, so the list is unlinked without walking its pointers.
void Synth::retire_finished() noexcept {
  Grain* prev = &active_head;
  int kept = 0;
  for (int k = 0; k < active_grains; ++k) {
    Grain* g = order_[k];
    if (g->finished()) {
      prev->next = g->next;
      g->next = free_head.next;
      free_head.next = g;
    } else {
      order_[kept++] = g;
      prev = g;
    }
  }
  active_grains = kept;
}

void Synth::update_synth_params() noexcept {
  params.update_params(CONTROL_FRAMES / framerate);
  params.update_density();
  Param& compensation = params.params[57];
  compensation.set_now(compensation.target);
  stream.sel_start = static_cast<int32_t>(params.get(0).first);
  stream.sel_end = static_cast<int32_t>(params.get(1).first);
  const audio::SoundPack* sound = stream.sound.get();
  const double samplerate = sound ? sound->format.samplerate : 0.0;
  {
    const auto [v, m] = params.get_modulated_value(2, -1);
    stream.speed = samplerate * (v + 4.0 * m) / framerate;
    if (!std::isfinite(stream.speed)) stream.speed = 0.0;
  }
  {
    const auto [v, m] = params.get_modulated_value(4, -1);
    const double r = std::clamp(v + 10.0 * m + 0.5 * v * m, 1.0 / 60.0, 2000.0);
    stream.grain_step = std::isfinite(r) ? r / framerate : 0.0;
  }
}

void Synth::new_grain(int) noexcept {
  Grain* g = free_head.next;
  const std::shared_ptr<audio::SoundPack>* sound = stream.sound.ref();
  if (!g || !sound || !*sound || (*sound)->framecount == 0) return;  // a full pool drops it

  GrainInputs in;
  for (int id = 0; id < GrainInputs::COUNT; ++id) in.v[id] = params.get(id).first;
  for (const ModulatedId& mod : GRAIN_MODULATED) {
    const auto [v, m] = params.get_modulated_value(mod.id, mod.slot);
    in.v[mod.id] = v;
    in.m[mod.id] = m;
  }
  for (int id = 0; id < GrainInputs::COUNT; ++id) {
    if (!std::isfinite(in.v[id])) in.v[id] = 0.0;
    if (!std::isfinite(in.m[id])) in.m[id] = 0.0;
  }
  in.density = params.density;
  in.compensation = params.get(57).first;
  in.framerate = framerate;
  in.sel_end = stream.sel_end;
  in.stream_pos = stream.pos;
  in.note_semitones = midi.enabled ? midi.note - midi.base_note : 0.0;

  free_head.next = g->next;
  g->sound = *sound;  // the previous reference is never the last: the cache holds every sound
  start_grain(*g, in, view_of(**sound), &delay_buffer);
  g->next = active_head.next;
  active_head.next = g;
  std::copy_backward(order_, order_ + active_grains, order_ + active_grains + 1);
  order_[0] = g;
  ++active_grains;
}

}  // namespace korvel::vimble
