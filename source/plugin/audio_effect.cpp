// The effect frame: entry point, record set-up, C trampolines and opcode forwarding.
#include "plugin/audio_effect.h"

#include <cmath>
#include <cstring>

namespace {

AudioEffect* instance_of(vst2::AEffect* effect) {
  return effect ? static_cast<AudioEffect*>(effect->object) : nullptr;
}

intptr_t dispatchEffectClass(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                             void* ptr, float opt) {
  AudioEffect* instance = instance_of(effect);
  if (!instance) return 0;
  if (opcode == vst2::effClose) {
    instance->dispatcher(opcode, index, value, ptr, opt);
    delete instance;
    return 1;
  }
  return instance->dispatcher(opcode, index, value, ptr, opt);
}

// The deprecated accumulating process call: hosts of this decade never use it.
void processClass(vst2::AEffect*, float**, float**, int32_t) {}

void processReplacingClass(vst2::AEffect* effect, float** inputs, float** outputs, int32_t frames) {
  if (AudioEffect* instance = instance_of(effect)) instance->processReplacing(inputs, outputs, frames);
}

void processDoubleReplacingClass(vst2::AEffect* effect, double** inputs, double** outputs,
                                 int32_t frames) {
  if (AudioEffect* instance = instance_of(effect))
    instance->processDoubleReplacing(inputs, outputs, frames);
}

void setParameterClass(vst2::AEffect* effect, int32_t index, float value) {
  if (AudioEffect* instance = instance_of(effect)) instance->setParameter(index, value);
}

float getParameterClass(vst2::AEffect* effect, int32_t index) {
  AudioEffect* instance = instance_of(effect);
  return instance ? instance->getParameter(index) : 0.f;
}

// Copies at most max_length characters and terminates at that length (the host's buffer holds
// max_length + 1 bytes).
void copy_text(char* dst, const char* src, int32_t max_length) {
  if (!dst || max_length < 0) return;
  std::strncpy(dst, src, static_cast<size_t>(max_length));
  dst[max_length] = 0;
}

}  // namespace

AudioEffect::AudioEffect(vst2::HostCallback host, int32_t programs, int32_t parameters)
    : host_(host), num_programs_(programs), num_params_(parameters) {
  std::memset(&effect_, 0, sizeof(effect_));
  effect_.magic = vst2::kEffectMagic;
  effect_.dispatcher = dispatchEffectClass;
  effect_.process = processClass;
  effect_.setParameter = setParameterClass;
  effect_.getParameter = getParameterClass;
  effect_.numPrograms = programs;
  effect_.numParams = parameters;
  effect_.numInputs = 1;
  effect_.numOutputs = 2;
  effect_.ioRatio = 1.f;
  effect_.object = this;
  effect_.uniqueID = vst2::fourcc("NoEf");
  effect_.version = 1;
  effect_.processReplacing = processReplacingClass;
  effect_.processDoubleReplacing = processDoubleReplacingClass;
}

AudioEffect::~AudioEffect() { delete editor_; }

void AudioEffect::setEditor(AEffEditor* editor) {
  delete editor_;
  editor_ = editor;
  set_flag(vst2::effFlagsHasEditor, editor != nullptr);
}

intptr_t AudioEffect::call_host(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                float opt) {
  return host_ ? host_(&effect_, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setParameterAutomated(int32_t index, float value) {
  setParameter(index, value);
  call_host(vst2::audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::masterIdle() { call_host(vst2::audioMasterIdle, 0, 0, nullptr, 0); }

intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                 float opt) {
  switch (opcode) {
    case vst2::effOpen: return 0;
    case vst2::effClose: return 0;
    case vst2::effSetProgram:
      if (value >= 0 && value < num_programs_) setProgram(static_cast<int32_t>(value));
      return 0;
    case vst2::effGetProgram: return getProgram();
    case vst2::effSetProgramName: setProgramName(static_cast<char*>(ptr)); return 0;
    case vst2::effGetProgramName: getProgramName(static_cast<char*>(ptr)); return 0;
    case vst2::effGetParamLabel: getParameterLabel(index, static_cast<char*>(ptr)); return 0;
    case vst2::effGetParamDisplay: getParameterDisplay(index, static_cast<char*>(ptr)); return 0;
    case vst2::effGetParamName: getParameterName(index, static_cast<char*>(ptr)); return 0;
    case vst2::effSetSampleRate: setSampleRate(opt); return 0;
    case vst2::effSetBlockSize: setBlockSize(static_cast<int32_t>(value)); return 0;
    case vst2::effMainsChanged:
      if (value) resume(); else suspend();
      return 0;
    case vst2::effEditGetRect:
      return editor_ ? editor_->getRect(static_cast<vst2::ERect**>(ptr)) : 0;
    case vst2::effEditOpen: return editor_ ? editor_->open(ptr) : 0;
    case vst2::effEditClose:
      if (editor_) editor_->close();
      return 0;
    case vst2::effEditIdle:
      if (editor_) editor_->idle();
      return 0;
    case vst2::effIdentify: return vst2::kIdentifyAnswer;
    case vst2::effGetChunk: return getChunk(static_cast<void**>(ptr), index != 0);
    case vst2::effSetChunk: return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    default: return 0;
  }
}

intptr_t AudioEffectX::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                  float opt) {
  switch (opcode) {
    case vst2::effProcessEvents: return processEvents(static_cast<vst2::VstEvents*>(ptr));
    case vst2::effCanBeAutomated: return canParameterBeAutomated(index) ? 1 : 0;
    case vst2::effGetPlugCategory:
      return (effect_.flags & vst2::effFlagsIsSynth) ? vst2::kPlugCategorySynth : 0;
    case vst2::effGetEffectName: return getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case vst2::effGetVendorString: return getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case vst2::effGetProductString: return getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case vst2::effGetVendorVersion: return getVendorVersion();
    case vst2::effVendorSpecific: return vendorSpecific(index, value, ptr, opt);
    case vst2::effCanDo: return ptr ? canDo(static_cast<char*>(ptr)) : 0;
    case vst2::effGetParameterProperties: return getParameterProperties(index, ptr) ? 1 : 0;
    case vst2::effGetVstVersion: return getVstVersion();
    case vst2::effEditKeyDown:
    case vst2::effEditKeyUp: {
      if (!editor_) return 0;
      vst2::VstKeyCode key{index, static_cast<unsigned char>(value), static_cast<unsigned char>(opt)};
      return (opcode == vst2::effEditKeyDown ? editor_->onKeyDown(key) : editor_->onKeyUp(key)) ? 1
                                                                                                : 0;
    }
    case vst2::effSetEditKnobMode:
      return editor_ ? editor_->setKnobMode(static_cast<int>(value)) : 0;
    case vst2::effStartProcess: return startProcess();
    case vst2::effStopProcess: return 0;
    case vst2::effGetNumMidiInputChannels: return getNumMidiInputChannels();
    case vst2::effGetNumMidiOutputChannels: return getNumMidiOutputChannels();
    default: return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
  }
}

bool AudioEffectX::beginEdit(int32_t index) {
  return host_ && call_host(vst2::audioMasterBeginEdit, index, 0, nullptr, 0) != 0;
}

bool AudioEffectX::endEdit(int32_t index) {
  return host_ && call_host(vst2::audioMasterEndEdit, index, 0, nullptr, 0) != 0;
}

int32_t AudioEffectX::canHostDo(char* text) {
  return host_ && call_host(vst2::audioMasterCanDo, 0, 0, text, 0) != 0 ? 1 : 0;
}

bool AudioEffectX::sizeWindow(int32_t width, int32_t height) {
  return host_ && call_host(vst2::audioMasterSizeWindow, width, height, nullptr, 0) != 0;
}

// Eight characters in all: sign, integer digits from the units upwards (leading digits that do
// not fit are dropped), the point, then the fraction truncated (not rounded) to what is left.
void AudioEffect::float2string(float value, char* text, int32_t max_length) {
  if (static_cast<double>(value) < -9999999.0 || static_cast<double>(value) > 99999999.0) {
    copy_text(text, "Huge!", max_length);
    return;
  }
  const bool negative = value < 0;
  const double v = std::fabs(static_cast<double>(value));
  constexpr int kWidth = 8;

  char integer_text[16];
  char* s = integer_text + sizeof(integer_text) - 1;
  *s = 0;
  *--s = '.';
  int used = negative ? 2 : 1;
  double integer = std::floor(v);
  *--s = static_cast<char>('0' + static_cast<int>(std::fmod(integer, 10.0)));
  integer /= 10.0;
  ++used;
  while (integer >= 1.0 && used < kWidth) {
    *--s = static_cast<char>('0' + static_cast<int>(std::fmod(integer, 10.0)));
    integer /= 10.0;
    ++used;
  }
  if (negative) *--s = '-';

  char out[32];
  std::strcpy(out, s);
  if (used < kWidth) {
    char fraction[kWidth + 1];
    const int digits = kWidth - used;
    double m = std::fmod(v, 1.0) * std::pow(10.0, digits);
    fraction[digits] = 0;
    for (int i = digits - 1; i >= 0; --i) {
      if (m <= 0) {
        fraction[i] = '0';
      } else {
        fraction[i] = static_cast<char>('0' + static_cast<int>(std::fmod(m, 10.0)));
        m /= 10.0;
      }
    }
    std::strcat(out, fraction);
  }
  copy_text(text, out, max_length);
}

// The one exported symbol: a host calls it with its callback and gets the effect record.
extern "C" __attribute__((visibility("default"))) vst2::AEffect* VSTPluginMain(
    vst2::HostCallback host) {
  if (!host || host(nullptr, vst2::audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
  AudioEffect* effect = createEffectInstance(host);
  return effect ? effect->getAeffect() : nullptr;
}
