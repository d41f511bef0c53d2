// Command-line parsing of vimble-render.
#include "render_options.h"

#include <cstdlib>
#include <sstream>

namespace render {

namespace {

bool to_double(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  *out = std::strtod(text.c_str(), &end);
  return end && *end == 0;
}

bool to_int(const std::string& text, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  *out = std::strtol(text.c_str(), &end, 10);
  return end && *end == 0;
}

}  // namespace

const char* usage() {
  return "usage: vimble-render [options]\n"
         "  --plugin PATH         the plug-in (default: vimble.so next to the bin folder)\n"
         "  --sound FILE          WAV or AIFF sound played through the demo patch\n"
         "  --state FILE          a saved state or patch file, handed to the plug-in as its chunk\n"
         "  --program N           a MIDI program change at the start (applies patch N)\n"
         "  --notes LIST          notes as note:start-end[:velocity], seconds, comma-separated\n"
         "  --midi FILE.mid       a Standard MIDI File (type 0 or 1)\n"
         "  --param NAME=VALUE    a parameter by name, in its own units (repeatable)\n"
         "  --seconds S           length before the tail (default: the notes' end, or 8)\n"
         "  --tail S              extra seconds after the last note (default 1.5)\n"
         "  --rate HZ             sample rate (default 44100)\n"
         "  --block FRAMES        host block size (default 512)\n"
         "  --seed N              random seed, for a reproducible render\n"
         "  --float               write 32-bit float instead of 24-bit integer\n"
         "  --load-timeout S      seconds to wait for the sound to load (default 60)\n"
         "  --json                print the summary as JSON\n"
         "  --quiet               no progress bar\n"
         "  --save-state FILE     write the plug-in's state (its chunk) after the render\n"
         "  -o OUT.wav            output file (default vimble-render.wav)\n";
}

std::optional<std::vector<NoteSpec>> parse_notes(const std::string& text, std::string* error) {
  std::vector<NoteSpec> notes;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    if (item.empty()) continue;
    NoteSpec note;
    std::vector<std::string> fields;
    std::stringstream parts(item);
    std::string field;
    while (std::getline(parts, field, ':')) fields.push_back(field);
    const auto dash = fields.size() >= 2 ? fields[1].find('-') : std::string::npos;
    long number = 0, velocity = 100;
    if (fields.size() < 2 || fields.size() > 3 || dash == std::string::npos ||
        !to_int(fields[0], &number) || !to_double(fields[1].substr(0, dash), &note.start) ||
        !to_double(fields[1].substr(dash + 1), &note.end) ||
        (fields.size() == 3 && !to_int(fields[2], &velocity))) {
      *error = "bad note '" + item + "': expected note:start-end[:velocity], e.g. 60:0-2 or 64:1.5-3:100";
      return std::nullopt;
    }
    if (number < 0 || number > 127 || velocity < 1 || velocity > 127 || note.start < 0 ||
        note.end <= note.start) {
      *error = "bad note '" + item + "': note 0..127, velocity 1..127, 0 <= start < end";
      return std::nullopt;
    }
    note.note = static_cast<int>(number);
    note.velocity = static_cast<int>(velocity);
    notes.push_back(note);
  }
  return notes;
}

std::optional<Options> parse_options(int argc, char** argv, std::string* error) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    auto number = [&](double* out, double lo, double hi) {
      std::string text;
      if (!value(&text)) return false;
      if (!to_double(text, out) || *out < lo || *out > hi) {
        *error = "option " + arg + ": '" + text + "' is not a number in " + std::to_string(lo) +
                 ".." + std::to_string(hi);
        return false;
      }
      return true;
    };
    double n = 0;
    std::string text;
    if (arg == "--plugin") {
      if (!value(&o.plugin)) return std::nullopt;
    } else if (arg == "--sound") {
      if (!value(&o.sound)) return std::nullopt;
    } else if (arg == "--state") {
      if (!value(&o.state)) return std::nullopt;
    } else if (arg == "--program") {
      if (!number(&n, 0, 127)) return std::nullopt;
      o.program = static_cast<int>(n);
    } else if (arg == "--notes") {
      if (!value(&text)) return std::nullopt;
      auto notes = parse_notes(text, error);
      if (!notes) return std::nullopt;
      o.notes.insert(o.notes.end(), notes->begin(), notes->end());
    } else if (arg == "--midi") {
      if (!value(&o.midi_file)) return std::nullopt;
    } else if (arg == "--param") {
      if (!value(&text)) return std::nullopt;
      const auto eq = text.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
        *error = "option --param: expected NAME=VALUE, got '" + text + "'";
        return std::nullopt;
      }
      o.params.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    } else if (arg == "--seconds") {
      if (!number(&n, 0.001, 24 * 3600)) return std::nullopt;
      o.seconds = n;
    } else if (arg == "--tail") {
      if (!number(&o.tail, 0, 3600)) return std::nullopt;
    } else if (arg == "--rate") {
      if (!number(&o.rate, 8000, 384000)) return std::nullopt;
    } else if (arg == "--block") {
      if (!number(&n, 1, 65536)) return std::nullopt;
      o.block = static_cast<int>(n);
    } else if (arg == "--seed") {
      if (!number(&n, 0, 16777216)) return std::nullopt;  // exact in the float argument
      o.seed = static_cast<unsigned>(n);
    } else if (arg == "--load-timeout") {
      if (!number(&o.load_timeout, 0.1, 3600)) return std::nullopt;
    } else if (arg == "-o" || arg == "--output") {
      if (!value(&o.output)) return std::nullopt;
    } else if (arg == "--save-state") {
      if (!value(&o.save_state)) return std::nullopt;
    } else if (arg == "--float") {
      o.float_output = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      *error = "";
      return std::nullopt;
    } else {
      *error = "unknown option '" + arg + "' (see --help)";
      return std::nullopt;
    }
  }
  if (!o.sound.empty() && !o.state.empty()) {
    *error = "--sound and --state both choose the sound: give one of them";
    return std::nullopt;
  }
  return o;
}

}  // namespace render
