// The plug-in object the host talks to: rendering, MIDI, parameters, programs, state chunk.
#pragma once

#include <atomic>
#include <string>

#include "plugin/audio_effect.h"
#include "synth/synth.h"

namespace korvel {

// True only while setParameterAutomated runs on this thread: the host's echo of an editor change
// must not be applied a second time. Thread-local, so that one instance's editor change never
// swallows a host change made at the same moment on another thread or for another instance.
extern thread_local bool update_from_gui;

class Processor : public AudioEffectX {
 public:
  static constexpr int NUM_PROGRAMS = 96;
  static constexpr int NUM_PARAMS = 180;
  static constexpr int FADE_FRAMES = 64;

  // Play states: stopped, starting (fade-in due), playing, stopping (fade-out due).
  enum PlayState { STOPPED = 0, STARTING = 1, PLAYING = 2, STOPPING = 3 };

  explicit Processor(vst2::HostCallback host);
  ~Processor() override;

  void setSampleRate(float rate) override;
  void suspend() override;
  void resume() override;
  int32_t startProcess() override { return 1; }

  // Audio thread.
  void processReplacing(float** inputs, float** outputs, int32_t frames) override;
  void processDoubleReplacing(double** inputs, double** outputs, int32_t frames) override;
  int32_t processEvents(vst2::VstEvents* events) override;

  void setParameter(int32_t index, float value) override;
  float getParameter(int32_t index) override;
  void setParameterAutomated(int32_t index, float value) override;
  void getParameterDisplay(int32_t index, char* text) override;
  void getParameterName(int32_t index, char* text) override;
  void getParameterLabel(int32_t index, char* text) override;
  bool canParameterBeAutomated(int32_t index) override;
  bool getParameterProperties(int32_t, void*) override { return false; }

  int32_t getProgram() override { return current_program_; }
  void setProgram(int32_t) override {}
  void setProgramName(char*) override {}
  void getProgramName(char* text) override;

  int32_t getChunk(void** data, bool preset) override;
  int32_t setChunk(void* data, int32_t size, bool preset) override;

  int32_t getNumMidiInputChannels() override { return 1; }
  int32_t getNumMidiOutputChannels() override { return 0; }
  bool getEffectName(char* text) override;
  bool getProductString(char* text) override;
  bool getVendorString(char* text) override;
  int32_t getVendorVersion() override { return 100; }
  int32_t canDo(char* text) override;
  intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) override;

  // Editor: sets the play state (1 starts the fade-in); a negative state is never changed.
  void playstate(int state);
  int playstate() const { return play_state_.load(); }

  vimble::Synth& getSynth() { return synth_; }

 private:
  void fade(float** outputs, int32_t frames, bool fade_in);

  vimble::Synth synth_;
  std::atomic<int> play_state_{STOPPED};  // written by the UI and audio threads
  std::string chunk_;  // the last chunk handed to the host; valid until the next getChunk
};

}  // namespace korvel
