// The editor base of the effect frame: the window the host hands over and the editor callbacks.
#pragma once

#include "plugin/vst2_abi.h"

class AudioEffect;

class AEffEditor {
 public:
  explicit AEffEditor(AudioEffect* effect) : effect_(effect) {}
  virtual ~AEffEditor() = default;
  AEffEditor(const AEffEditor&) = delete;
  AEffEditor& operator=(const AEffEditor&) = delete;

  virtual AudioEffect* getEffect() { return effect_; }
  // Stores the editor's rectangle in *rect; false when it has none.
  virtual bool getRect(vst2::ERect** rect) {
    *rect = nullptr;
    return false;
  }
  // Host window (an X11 window id on Linux). The base keeps it and reports no editor shown.
  virtual bool open(void* window) {
    system_window_ = window;
    return false;
  }
  virtual void close() { system_window_ = nullptr; }
  virtual bool isOpen() { return system_window_ != nullptr; }
  virtual void idle() {}
  virtual bool onKeyDown(vst2::VstKeyCode&) { return false; }
  virtual bool onKeyUp(vst2::VstKeyCode&) { return false; }
  virtual bool onWheel(float) { return false; }
  virtual bool setKnobMode(int) { return false; }

 protected:
  AudioEffect* effect_;
  void* system_window_ = nullptr;
};
