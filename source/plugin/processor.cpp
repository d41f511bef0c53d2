// The plug-in object: host calls translated into calls on the engine and its parameter store.
#include "plugin/processor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "gui/controller.h"

namespace korvel {

thread_local bool update_from_gui = false;

namespace {

constexpr int32_t UNIQUE_ID = vst2::fourcc("Vmbl");
constexpr int32_t VENDOR_INDEX = vst2::fourcc("Vmbl");
constexpr intptr_t VENDOR_LOAD_STATUS = 1;
constexpr intptr_t VENDOR_SET_SEED = 2;
constexpr const char* EFFECT_NAME = "Quintera";
constexpr const char* VENDOR_NAME = "Helmrick";
// Patch group bits meaning "the store's current apply mask".
constexpr int PG_APPLY_MASK = vimble::ParamInfo::PG_ApplyMask;

void copy_text(char* dst, const char* src, size_t max_length) {
  std::strncpy(dst, src, max_length);
  dst[max_length] = 0;
}

}  // namespace

Processor::Processor(vst2::HostCallback host) : AudioEffectX(host, NUM_PROGRAMS, NUM_PARAMS) {
  setUniqueID(UNIQUE_ID);
  setNumInputs(2);
  setNumOutputs(2);
  canProcessReplacing(true);
  canDoubleReplacing(false);
  programsAreChunks(true);
  isSynth(true);
  setSampleRate(sample_rate_);

  auto& params = synth_.params;
  params.resize_patches(130);
  params.load_patch_file(params.patch_file);
  params.automate = [this](int index, float value) { setParameterAutomated(index, value); };
  suspend();
  setEditor(new Controller(this));
}

Processor::~Processor() { synth_.params.automate = nullptr; }

void Processor::setSampleRate(float rate) {
  AudioEffectX::setSampleRate(rate);
  synth_.set_framerate(static_cast<double>(rate));
}

void Processor::suspend() {
  int state = play_state_.load();
  while (state == STARTING || state == PLAYING) {
    // The engine keeps rendering until the fade-out block has run, so that the fade shapes the
    // sound itself; processReplacing stops it afterwards.
    if (play_state_.compare_exchange_weak(state, STOPPING)) return;
  }
  synth_.stop();
}

void Processor::resume() {
  int state = play_state_.load();
  while (state == STOPPED || state == STOPPING) {
    if (play_state_.compare_exchange_weak(state, STARTING)) break;
  }
  synth_.start();
}

void Processor::playstate(int state) {
  int current = play_state_.load();
  while (current >= 0 && !play_state_.compare_exchange_weak(current, state)) {
  }
}

void Processor::processReplacing(float** inputs, float** outputs, int32_t frames) {
  if (frames <= 0) return;
  // A host must never hear its own stale buffer: whatever is not rendered is silence.
  std::fill_n(outputs[0], frames, 0.f);
  std::fill_n(outputs[1], frames, 0.f);
  const int state = play_state_;
  if (state < STARTING) return;
  synth_.generate(inputs, outputs, frames);
  if (!synth_.sound_ready()) return;
  // A state changed by the UI thread during this block wins over the end of the fade.
  if (state == STARTING) {
    fade(outputs, frames, true);
    int expected = STARTING;
    play_state_.compare_exchange_strong(expected, PLAYING);
  } else if (state == STOPPING) {
    fade(outputs, frames, false);
    int expected = STOPPING;
    if (play_state_.compare_exchange_strong(expected, STOPPED)) synth_.stop();
  }
}

// Raised-cosine fade over the first (fade-in) or last (fade-out) min(frames, 64) frames.
void Processor::fade(float** outputs, int32_t frames, bool fade_in) {
  const int d = std::min<int32_t>(frames, FADE_FRAMES);
  const double step = std::numbers::pi / d;
  double angle = fade_in ? step - std::numbers::pi : step;
  const int first = fade_in ? 0 : frames - d;
  for (int i = first; i < first + d; ++i) {
    const double gain = 0.5 * std::cos(angle) + 0.5;
    outputs[0][i] = static_cast<float>(outputs[0][i] * gain);
    outputs[1][i] = static_cast<float>(outputs[1][i] * gain);
    angle -= step;
  }
}

void Processor::processDoubleReplacing(double** inputs, double** outputs, int32_t frames) {
  if (frames <= 0) return;
  std::copy_n(inputs[0], frames, outputs[0]);
  std::copy_n(inputs[1], frames, outputs[1]);
}

int32_t Processor::processEvents(vst2::VstEvents* events) {
  if (!events) return 0;
  for (int32_t i = 0; i < events->numEvents; ++i) {
    const vst2::VstEvent* event = events->events[i];
    if (!event || event->type != vst2::kVstMidiType) continue;
    const auto* midi = reinterpret_cast<const vst2::VstMidiEvent*>(event);
    const int status = static_cast<uint8_t>(midi->midiData[0]);
    const int d1 = midi->midiData[1] & 0x7F;
    const int d2 = midi->midiData[2] & 0x7F;
    switch (status & 0xF0) {
      case 0x80:
      case 0x90: {
        Midi::Event e;
        e.note = static_cast<uint8_t>(d1);
        e.channel = static_cast<uint8_t>(status & 0x0F);
        e.type = static_cast<uint8_t>(d2 == 0 ? 0x80 : status & 0xF0);
        e.velocity = static_cast<uint8_t>(d2);
        e.delta = midi->deltaFrames;
        synth_.midi_event(e);
        break;
      }
      case 0xA0: synth_.midi_value(0xA0, d1, d2); break;
      case 0xB0: synth_.midi_value(d1, d2, 0); break;
      case 0xC0: synth_.params.applyPatch(d1, -1.0, PG_APPLY_MASK); break;
      case 0xE0: synth_.midi_value(0xE0, d2 * 128 + d1, 0); break;
      default: break;  // channel pressure and system messages
    }
  }
  return 0;
}

void Processor::setParameter(int32_t index, float value) {
  if (index < 0 || index >= NUM_PARAMS) return;
  if (value < 0.f || value > 1.f || update_from_gui) return;
  synth_.params.setNormalValue(index, value);
}

float Processor::getParameter(int32_t index) {
  if (index < 0 || index >= NUM_PARAMS) return 0.f;
  return static_cast<float>(synth_.params.getNormalValue(index));
}

void Processor::setParameterAutomated(int32_t index, float value) {
  update_from_gui = true;
  AudioEffectX::setParameterAutomated(index, value);
  update_from_gui = false;
}

void Processor::getParameterDisplay(int32_t index, char* text) {
  const double target = (index >= 0 && index < NUM_PARAMS) ? synth_.params.get(index).second : 0.0;
  float2string(static_cast<float>(target), text, vst2::kMaxParamStrLen);
}

void Processor::getParameterName(int32_t index, char* text) {
  // The name key fills up to 40 bytes without a terminator; the host gets at most 39 characters.
  const auto& info = vimble::ParamInfo::getParamInfo(index);
  const size_t length = strnlen(info.name, sizeof info.name);
  const size_t n = std::min<size_t>(length, 39);
  std::memcpy(text, info.name, n);
  text[n] = 0;
}

void Processor::getParameterLabel(int32_t index, char* text) {
  copy_text(text, vimble::ParamInfo::getParamInfo(index).unit, vst2::kMaxParamStrLen);
}

bool Processor::canParameterBeAutomated(int32_t index) {
  return vimble::ParamInfo::getParamInfo(index).is_automatable();
}

void Processor::getProgramName(char* text) {
  std::snprintf(text, vst2::kMaxProgNameLen + 1, "Patch %i", static_cast<int>(current_program_));
}

int32_t Processor::getChunk(void** data, bool) {
  chunk_ = synth_.params.dumps();
  *data = chunk_.data();
  return static_cast<int32_t>(chunk_.size());
}

int32_t Processor::setChunk(void* data, int32_t size, bool) {
  if (data && size > 0) synth_.params.loads(std::string(static_cast<const char*>(data), size));
  return size;
}

bool Processor::getEffectName(char* text) {
  copy_text(text, EFFECT_NAME, vst2::kMaxEffectNameLen);
  return true;
}

bool Processor::getProductString(char* text) {
  copy_text(text, EFFECT_NAME, vst2::kMaxProductStrLen);
  return true;
}

bool Processor::getVendorString(char* text) {
  copy_text(text, VENDOR_NAME, vst2::kMaxVendorStrLen);
  return true;
}

int32_t Processor::canDo(char* text) {
  for (const char* known : {"receiveVstEvents", "receiveVstMidiEvent", "midiProgramNames"})
    if (std::strcmp(text, known) == 0) return 1;
  return -1;
}

// Host extension for offline hosts (index 'Vmbl'): 1 asks for the load status of the sound being
// loaded or played, 2 sets the random seed of the modulation to the float argument.
intptr_t Processor::vendorSpecific(int32_t index, intptr_t value, void*, float opt) {
  if (index != VENDOR_INDEX) return 0;
  switch (value) {
    case VENDOR_LOAD_STATUS: return synth_.load_status();
    case VENDOR_SET_SEED:
      if (!(opt >= 0.f && opt < 4294967296.f)) return 0;  // a whole number a seed can hold
      synth_.params.set_random_seed(static_cast<uint32_t>(opt));
      return 1;
    default: return 0;
  }
}

}  // namespace korvel

AudioEffect* createEffectInstance(vst2::HostCallback host) { return new korvel::Processor(host); }
