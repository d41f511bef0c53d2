// The editor window of the instrument.
// (Shell: reports the window size; the views are built by the editor layer.)
#pragma once

#include "plugin/aeff_editor.h"

namespace korvel {

class Controller : public AEffEditor {
 public:
  // Window size with the normal font (Arial 12).
  static constexpr int WIDTH = 1040;
  static constexpr int HEIGHT = 573;

  explicit Controller(AudioEffect* effect) : AEffEditor(effect) {
    rect_ = {0, 0, static_cast<short>(HEIGHT), static_cast<short>(WIDTH)};
  }

  bool getRect(vst2::ERect** rect) override {
    *rect = &rect_;
    return true;
  }

 private:
  vst2::ERect rect_;
};

}  // namespace korvel
