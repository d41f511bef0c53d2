// The VST 2.4 host harness: library loading, the host callback and the typed dispatcher helpers.
#include "host/vst_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace vsthost {

namespace {

using EntryPoint = vst2::AEffect* (*)(vst2::HostCallback);

// Callbacks made while the entry point runs come before the record is known to us.
thread_local Plugin* plugin_being_created = nullptr;

constexpr intptr_t HOST_VERSION = 2400;

}  // namespace

EventList::EventList(const std::vector<MidiMessage>& messages) {
  midi_.resize(messages.size());
  for (size_t i = 0; i < messages.size(); ++i) {
    vst2::VstMidiEvent& e = midi_[i];
    std::memset(&e, 0, sizeof(e));
    e.type = vst2::kVstMidiType;
    e.byteSize = sizeof(vst2::VstMidiEvent);
    e.deltaFrames = messages[i].delta;
    e.midiData[0] = static_cast<char>(messages[i].status);
    e.midiData[1] = static_cast<char>(messages[i].data1);
    e.midiData[2] = static_cast<char>(messages[i].data2);
  }
  header_.assign(2 + std::max<size_t>(messages.size(), 2), 0);
  header_[0] = static_cast<intptr_t>(messages.size());
  for (size_t i = 0; i < messages.size(); ++i) header_[2 + i] = reinterpret_cast<intptr_t>(&midi_[i]);
}

std::unique_ptr<Plugin> Plugin::load(const std::string& path, std::string* error) {
  std::unique_ptr<Plugin> plugin(new Plugin());
  plugin->library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!plugin->library_) {
    if (error) *error = "cannot load " + path + ": " + dlerror();
    return nullptr;
  }
  auto entry = reinterpret_cast<EntryPoint>(dlsym(plugin->library_, "VSTPluginMain"));
  if (!entry) {
    if (error) *error = path + " has no VSTPluginMain";
    return nullptr;
  }
  plugin_being_created = plugin.get();
  plugin->effect_ = entry(&Plugin::host_callback);
  plugin_being_created = nullptr;
  if (!plugin->effect_ || plugin->effect_->magic != vst2::kEffectMagic) {
    if (error) *error = path + " did not return a VST 2.4 effect";
    plugin->effect_ = nullptr;
    return nullptr;
  }
  plugin->effect_->user = plugin.get();
  return plugin;
}

Plugin::~Plugin() {
  close();
  if (library_) dlclose(library_);
}

intptr_t Plugin::close() {
  if (!effect_) return 0;
  const intptr_t result = effect_->dispatcher(effect_, vst2::effClose, 0, 0, nullptr, 0);
  effect_ = nullptr;
  return result;
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  if (!effect_) return 0;
  if (opcode == vst2::effClose) return close();
  return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string Plugin::text_call(int32_t opcode, int32_t index, size_t buffer_size) {
  std::vector<char> buffer(buffer_size, 0);
  dispatch(opcode, index, 0, buffer.data());
  buffer.back() = 0;
  return buffer.data();
}

void Plugin::set_program_name(const std::string& name) {
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back(0);
  dispatch(vst2::effSetProgramName, 0, 0, buffer.data());
}

bool Plugin::editor_rect(vst2::ERect* rect) {
  vst2::ERect* answer = nullptr;
  if (!dispatch(vst2::effEditGetRect, 0, 0, &answer) || !answer) return false;
  *rect = *answer;
  return true;
}

std::string Plugin::get_chunk() {
  void* data = nullptr;
  const intptr_t size = dispatch(vst2::effGetChunk, 0, 0, &data);
  if (!data || size <= 0) return {};
  return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

intptr_t Plugin::set_chunk(const std::string& bytes) {
  std::vector<char> copy(bytes.begin(), bytes.end());
  return dispatch(vst2::effSetChunk, 0, static_cast<intptr_t>(copy.size()),
                  copy.empty() ? nullptr : copy.data());
}

void Plugin::send_midi(const std::vector<MidiMessage>& messages) {
  EventList list(messages);
  process_events(list.events());
}

intptr_t Plugin::can_do(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back(0);
  return dispatch(vst2::effCanDo, 0, 0, buffer.data());
}

void Plugin::process(float* left, float* right, int frames) {
  // Inputs are not read by an instrument, but a host always passes them.
  std::vector<float> silence(static_cast<size_t>(std::max(frames, 0)), 0.f);
  float* inputs[2] = {silence.data(), silence.data()};
  float* outputs[2] = {left, right};
  effect_->processReplacing(effect_, inputs, outputs, frames);
}

StereoBuffer Plugin::render(int frames, int block_frames) {
  StereoBuffer out;
  out.left.assign(static_cast<size_t>(frames), 0.f);
  out.right.assign(static_cast<size_t>(frames), 0.f);
  for (int at = 0; at < frames; at += block_frames) {
    const int n = std::min(block_frames, frames - at);
    process(out.left.data() + at, out.right.data() + at, n);
  }
  return out;
}

std::vector<HostCall> Plugin::calls() const {
  std::lock_guard<std::mutex> lock(calls_mutex_);
  return calls_;
}

void Plugin::clear_calls() {
  std::lock_guard<std::mutex> lock(calls_mutex_);
  calls_.clear();
}

int Plugin::count_calls(int32_t opcode) const {
  std::lock_guard<std::mutex> lock(calls_mutex_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const HostCall& c) { return c.opcode == opcode; }));
}

intptr_t Plugin::host_callback(vst2::AEffect* effect, int32_t opcode, int32_t index,
                               intptr_t value, void* ptr, float opt) {
  Plugin* plugin = (effect && effect->user) ? static_cast<Plugin*>(effect->user)
                                            : plugin_being_created;
  if (!plugin) return opcode == vst2::audioMasterVersion ? HOST_VERSION : 0;
  return plugin->answer(opcode, index, value, ptr, opt);
}

intptr_t Plugin::answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  HostCall call{opcode, index, value, opt, {}, std::this_thread::get_id()};
  if (opcode == vst2::audioMasterCanDo && ptr) call.text = static_cast<const char*>(ptr);
  {
    std::lock_guard<std::mutex> lock(calls_mutex_);
    calls_.push_back(call);
  }
  switch (opcode) {
    case vst2::audioMasterVersion: return HOST_VERSION;
    case vst2::audioMasterCanDo: return call.text == "sizeWindow" && can_resize_ ? 1 : 0;
    case vst2::audioMasterSizeWindow: return can_resize_ ? 1 : 0;
    default: return 0;
  }
}

}  // namespace vsthost
