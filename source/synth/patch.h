// A patch: the stored settings of the instrument (sound file, parameters, controllers, envelopes).
#pragma once

#include <string>

#include "synth/base_param.h"

namespace korvel::vimble {

// Known to the store as SynthParams::Patch.
struct Patch {
  static constexpr int NUM_PARAMS = 62;  // ids 0..61
  static constexpr int TIMESTAMP = 55;   // seconds since 1970; 0 marks an empty slot

  void clear();
  bool empty() const { return params[TIMESTAMP].value == 0; }

  std::wstring soundfile;  // the sound's path; empty when none
  PatchParam params[NUM_PARAMS];
};

}  // namespace korvel::vimble
