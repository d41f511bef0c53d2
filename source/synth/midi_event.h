// The note record the plug-in shell hands to the engine.
#pragma once

#include <cstdint>

namespace Midi {

// Eight bytes passed by value. The key of a note is note + 256 * channel (the low two bytes).
struct Event {
  uint8_t note = 0;      // 0..127
  uint8_t channel = 0;   // 0..15
  uint8_t type = 0;      // 0x90 note on, 0x80 note off (a note on with velocity 0 arrives as 0x80)
  uint8_t velocity = 0;  // 0..127
  int32_t delta = 0;     // frame offset of the event within the current block
};
static_assert(sizeof(Event) == 8);

}  // namespace Midi
