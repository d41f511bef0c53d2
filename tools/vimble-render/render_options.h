// Command line of vimble-render.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace render {

// One note of --notes: "60:0-2" or "64:1.5-3:100" (note:start-end seconds[:velocity]).
struct NoteSpec {
  int note = 60;
  double start = 0;
  double end = 0;
  int velocity = 100;
};

struct Options {
  std::string plugin;
  std::string sound;
  std::string state;
  std::optional<int> program;
  std::vector<NoteSpec> notes;
  std::string midi_file;
  std::vector<std::pair<std::string, std::string>> params;  // name, value text
  std::optional<double> seconds;
  double tail = 1.5;
  double rate = 44100;
  int block = 512;
  std::optional<unsigned> seed;
  std::string output = "vimble-render.wav";
  std::string save_state;  // the plug-in's chunk after the render, for --state later
  bool float_output = false;
  bool json = false;
  double load_timeout = 60;
  bool quiet = false;
};

// Parses argv; on a bad command line returns nothing and sets *error to one line.
std::optional<Options> parse_options(int argc, char** argv, std::string* error);
std::optional<std::vector<NoteSpec>> parse_notes(const std::string& text, std::string* error);
const char* usage();

}  // namespace render
