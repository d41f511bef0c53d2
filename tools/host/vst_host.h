// A VST 2.4 host for tests and command-line tools: loads a plug-in library, creates an instance
// through its entry point and drives it through the effect record.
//
//   std::string error;
//   auto plugin = vsthost::Plugin::load("build/vimble.so", &error);
//   plugin->set_sample_rate(44100); plugin->set_block_size(512); plugin->resume();
//   plugin->send_midi({{0, 0x90, 60, 100}});
//   vsthost::StereoBuffer out = plugin->render(44100, 512);
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/vst2_abi.h"

namespace vsthost {

// One call the plug-in made to the host callback.
struct HostCall {
  int32_t opcode = 0;
  int32_t index = 0;
  intptr_t value = 0;
  float opt = 0;
  std::string text;  // the text argument of can-do queries
  std::thread::id thread;
};

// One short MIDI message at a frame offset within the next block.
struct MidiMessage {
  int32_t delta = 0;
  uint8_t status = 0;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

// Packs MIDI messages into the VstEvents layout a host hands over with opcode 25.
class EventList {
 public:
  explicit EventList(const std::vector<MidiMessage>& messages);
  vst2::VstEvents* events() { return reinterpret_cast<vst2::VstEvents*>(header_.data()); }

 private:
  std::vector<vst2::VstMidiEvent> midi_;
  std::vector<intptr_t> header_;  // numEvents, reserved, then one pointer per event
};

struct StereoBuffer {
  std::vector<float> left;
  std::vector<float> right;
};

class Plugin {
 public:
  // Loads the library, checks the entry point and creates an instance. Null with *error set when
  // anything fails.
  static std::unique_ptr<Plugin> load(const std::string& path, std::string* error);
  ~Plugin();  // closes the instance (opcode 1) when still open and unloads the library
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  vst2::AEffect* effect() const { return effect_; }
  intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0);

  // Typed helpers, one per dispatcher opcode.
  void open() { dispatch(vst2::effOpen); }
  intptr_t close();  // opcode 1: the instance destroys itself; effect() is null afterwards
  void set_program(int program) { dispatch(vst2::effSetProgram, 0, program); }
  int program() { return static_cast<int>(dispatch(vst2::effGetProgram)); }
  void set_program_name(const std::string& name);
  std::string program_name() { return text_call(vst2::effGetProgramName, 0, 64); }
  std::string param_label(int index) { return text_call(vst2::effGetParamLabel, index, 64); }
  std::string param_display(int index) { return text_call(vst2::effGetParamDisplay, index, 64); }
  std::string param_name(int index) { return text_call(vst2::effGetParamName, index, 64); }
  void set_sample_rate(float rate) { dispatch(vst2::effSetSampleRate, 0, 0, nullptr, rate); }
  void set_block_size(int frames) { dispatch(vst2::effSetBlockSize, 0, frames); }
  void resume() { dispatch(vst2::effMainsChanged, 0, 1); }
  void suspend() { dispatch(vst2::effMainsChanged, 0, 0); }
  bool editor_rect(vst2::ERect* rect);
  intptr_t editor_open(void* window) { return dispatch(vst2::effEditOpen, 0, 0, window); }
  void editor_close() { dispatch(vst2::effEditClose); }
  void editor_idle() { dispatch(vst2::effEditIdle); }
  intptr_t identify() { return dispatch(vst2::effIdentify); }
  std::string get_chunk();
  intptr_t set_chunk(const std::string& bytes);
  intptr_t process_events(vst2::VstEvents* events) {
    return dispatch(vst2::effProcessEvents, 0, 0, events);
  }
  void send_midi(const std::vector<MidiMessage>& messages);
  bool can_be_automated(int index) { return dispatch(vst2::effCanBeAutomated, index) != 0; }
  intptr_t category() { return dispatch(vst2::effGetPlugCategory); }
  std::string effect_name() { return text_call(vst2::effGetEffectName, 0, 256); }
  std::string vendor_string() { return text_call(vst2::effGetVendorString, 0, 256); }
  std::string product_string() { return text_call(vst2::effGetProductString, 0, 256); }
  intptr_t vendor_version() { return dispatch(vst2::effGetVendorVersion); }
  intptr_t vendor_specific(int32_t index, intptr_t value, void* ptr = nullptr, float opt = 0) {
    return dispatch(vst2::effVendorSpecific, index, value, ptr, opt);
  }
  intptr_t can_do(const std::string& text);
  intptr_t vst_version() { return dispatch(vst2::effGetVstVersion); }
  intptr_t start_process() { return dispatch(vst2::effStartProcess); }
  intptr_t stop_process() { return dispatch(vst2::effStopProcess); }
  intptr_t midi_input_channels() { return dispatch(vst2::effGetNumMidiInputChannels); }
  intptr_t midi_output_channels() { return dispatch(vst2::effGetNumMidiOutputChannels); }

  // Parameters through the record's function pointers.
  void set_parameter(int index, float value) { effect_->setParameter(effect_, index, value); }
  float get_parameter(int index) { return effect_->getParameter(effect_, index); }

  // One processReplacing call on two-channel buffers of at least frames floats each.
  void process(float* left, float* right, int frames);
  // Renders frames frames in blocks of block_frames (the last block may be shorter).
  StereoBuffer render(int frames, int block_frames);

  // What the plug-in asked of the host so far (thread-safe copy).
  std::vector<HostCall> calls() const;
  void clear_calls();
  int count_calls(int32_t opcode) const;
  // Answer the host gives to audioMasterCanDo "sizeWindow" and audioMasterSizeWindow.
  void set_can_resize(bool can) { can_resize_ = can; }

 private:
  Plugin() = default;
  static intptr_t host_callback(vst2::AEffect* effect, int32_t opcode, int32_t index,
                                intptr_t value, void* ptr, float opt);
  intptr_t answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  std::string text_call(int32_t opcode, int32_t index, size_t buffer_size);

  void* library_ = nullptr;
  vst2::AEffect* effect_ = nullptr;
  bool can_resize_ = true;
  mutable std::mutex calls_mutex_;  // the host side may lock; the plug-in never does
  std::vector<HostCall> calls_;
};

}  // namespace vsthost
