// Standard MIDI Files (type 0 and 1): channel messages with their times in seconds, through the
// file's tempo map.
//
//   std::string error;
//   auto song = vsthost::read_midi_file("phrase.mid", &error);
//   for (const vsthost::TimedMidi& m : song->messages) schedule(m.seconds, m.status, m.data1, m.data2);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vsthost {

struct TimedMidi {
  double seconds = 0;
  uint8_t status = 0;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

struct MidiSong {
  int format = 0;
  int tracks = 0;
  std::vector<TimedMidi> messages;  // channel messages of every track, in time order
  double length_seconds = 0;        // time of the last event of any kind
};

// Parses the bytes of a Standard MIDI File. Empty with *error set when the data is not one.
std::optional<MidiSong> parse_midi_file(const std::vector<uint8_t>& bytes, std::string* error);
std::optional<MidiSong> read_midi_file(const std::string& path, std::string* error);

}  // namespace vsthost
