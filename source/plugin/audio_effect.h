// The effect frame: turns the host's calls through the effect record into virtual operations.
//
// A plug-in derives from AudioEffectX, sets up the record in its constructor (ids, channel
// counts, flags) and overrides what it supports; everything else answers neutrally (0/false).
#pragma once

#include <cstdint>

#include "plugin/aeff_editor.h"
#include "plugin/vst2_abi.h"

class AudioEffect {
 public:
  AudioEffect(vst2::HostCallback host, int32_t programs, int32_t parameters);
  virtual ~AudioEffect();
  AudioEffect(const AudioEffect&) = delete;
  AudioEffect& operator=(const AudioEffect&) = delete;

  virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

  virtual void suspend() {}
  virtual void resume() {}
  virtual void setSampleRate(float rate) { sample_rate_ = rate; }
  virtual void setBlockSize(int32_t frames) { block_size_ = frames; }
  virtual void processReplacing(float** inputs, float** outputs, int32_t frames) = 0;
  virtual void processDoubleReplacing(double**, double**, int32_t) {}

  virtual void setParameter(int32_t, float) {}
  virtual float getParameter(int32_t) { return 0; }
  // Applies the value (setParameter) and reports it to the host as automation.
  virtual void setParameterAutomated(int32_t index, float value);

  virtual int32_t getProgram() { return current_program_; }
  virtual void setProgram(int32_t program) { current_program_ = program; }
  virtual void setProgramName(char*) {}
  virtual void getProgramName(char* name) { *name = 0; }
  virtual void getParameterLabel(int32_t, char* label) { *label = 0; }
  virtual void getParameterDisplay(int32_t, char* text) { *text = 0; }
  virtual void getParameterName(int32_t, char* text) { *text = 0; }
  virtual int32_t getChunk(void** data, bool) {
    *data = nullptr;
    return 0;
  }
  virtual int32_t setChunk(void*, int32_t, bool) { return 0; }

  virtual void setUniqueID(int32_t id) { effect_.uniqueID = id; }
  virtual void setNumInputs(int32_t inputs) { effect_.numInputs = inputs; }
  virtual void setNumOutputs(int32_t outputs) { effect_.numOutputs = outputs; }
  virtual void canProcessReplacing(bool state = true) { set_flag(vst2::effFlagsCanReplacing, state); }
  virtual void canDoubleReplacing(bool state = true) {
    set_flag(vst2::effFlagsCanDoubleReplacing, state);
  }
  virtual void programsAreChunks(bool state = true) { set_flag(vst2::effFlagsProgramChunks, state); }
  virtual vst2::AEffect* getAeffect() { return &effect_; }
  virtual void masterIdle();

  // Attaches the editor, which the frame owns from now on, and sets the has-editor flag.
  void setEditor(AEffEditor* editor);
  AEffEditor* getEditor() const { return editor_; }
  float getSampleRate() const { return sample_rate_; }
  int32_t getBlockSize() const { return block_size_; }
  vst2::HostCallback getHostCallback() const { return host_; }

  // Formats value into exactly eight characters (see the .cpp); at most max_length characters
  // are copied into text, which is terminated at that length.
  static void float2string(float value, char* text, int32_t max_length);

 protected:
  void set_flag(int32_t flag, bool state) {
    effect_.flags = state ? (effect_.flags | flag) : (effect_.flags & ~flag);
  }
  intptr_t call_host(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

  vst2::HostCallback host_;
  AEffEditor* editor_ = nullptr;
  float sample_rate_ = 44100.f;
  int32_t block_size_ = 1024;
  int32_t num_programs_;
  int32_t num_params_;
  int32_t current_program_ = 0;
  vst2::AEffect effect_;
};

class AudioEffectX : public AudioEffect {
 public:
  using AudioEffect::AudioEffect;

  intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;

  virtual bool canParameterBeAutomated(int32_t) { return true; }
  virtual bool getParameterProperties(int32_t, void*) { return false; }
  virtual bool beginEdit(int32_t index);
  virtual bool endEdit(int32_t index);
  virtual int32_t getNumMidiInputChannels() { return 0; }
  virtual int32_t getNumMidiOutputChannels() { return 0; }
  virtual int32_t processEvents(vst2::VstEvents*) { return 0; }
  virtual int32_t startProcess() { return 0; }
  virtual int32_t stopProcess() { return 0; }
  virtual int32_t canHostDo(char* text);
  virtual void isSynth(bool state = true) { set_flag(vst2::effFlagsIsSynth, state); }
  virtual bool getEffectName(char*) { return false; }
  virtual bool getVendorString(char*) { return false; }
  virtual bool getProductString(char*) { return false; }
  virtual int32_t getVendorVersion() { return 0; }
  virtual intptr_t vendorSpecific(int32_t, intptr_t, void*, float) { return 0; }
  virtual int32_t canDo(char*) { return 0; }
  virtual int32_t getVstVersion() { return vst2::kVstVersion; }
  // Asks the host to resize the editor window; false when the host cannot.
  virtual bool sizeWindow(int32_t width, int32_t height);
};

// Made by the plug-in: allocates its effect object for a host.
AudioEffect* createEffectInstance(vst2::HostCallback host);
