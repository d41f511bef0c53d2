// vimble-render: plays the plug-in offline, through its VST 2.4 entry point, into a WAV file.
//
//   vimble-render                                  the demo: built-in sound, demo patch, a phrase
//   vimble-render --sound loop.wav --notes "60:0-2,67:2-4" -o out.wav
//   vimble-render --state song.json --midi song.mid --seed 7 -o out.wav
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <thread>

#include "demo_material.h"
#include "host/midi_file.h"
#include "host/vst_host.h"
#include "render_options.h"

namespace {

// The plug-in's vendor-specific calls (opcode 50 with index 'Vmbl').
constexpr int32_t VENDOR_INDEX = vst2::fourcc("Vmbl");
constexpr intptr_t VENDOR_LOAD_STATUS = 1;
constexpr intptr_t VENDOR_SET_SEED = 2;

// Load status numbers of the sound analysis pack.
constexpr intptr_t STATUS_LAST_IN_PROGRESS = 5;
constexpr intptr_t STATUS_READY = 10;

// "apply.changetime": the glide time of every parameter change, in seconds.
constexpr int CHANGETIME_ID = 56;

const char* status_name(intptr_t status) {
  static const char* const names[] = {"NoStatus",    "LookingForFile", "LoadingSound",
                                      "ReadingAmps", "ReadingPeaks",   "ReadingNoise",
                                      "FileNotFound", "PathNotFound",  "InvalidFile",
                                      "LoadFailed",  "Ready"};
  return status >= 0 && status <= 10 ? names[status] : "Unknown";
}

struct Fail {
  std::string message;
};

struct ScheduledMidi {
  int64_t frame;
  vsthost::MidiMessage message;
};

struct ChannelStats {
  double peak = 0;
  double sum_squares = 0;
  int64_t nonfinite = 0;
};

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Fail{"cannot read " + path};
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The display text is the parameter's target value in its own unit, eight characters wide.
double display_value(vsthost::Plugin& plugin, int id) {
  const std::string text = plugin.param_display(id);
  if (text == "Huge!") return std::numeric_limits<double>::infinity();
  return std::strtod(text.c_str(), nullptr);
}

// Sets a parameter through the host path (normalised 0..1), finding the normalised value whose
// unit value is closest to the wanted one by bisection on the plug-in's own display: the host
// learns the scaling from the plug-in, as a DAW's automation lane does.
double set_parameter_in_units(vsthost::Plugin& plugin, int id, double wanted) {
  plugin.set_parameter(id, 0.f);
  const double at_zero = display_value(plugin, id);
  plugin.set_parameter(id, 1.f);
  const double at_one = display_value(plugin, id);
  const bool rising = at_one >= at_zero;
  double lo = 0, hi = 1;
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (lo + hi);
    plugin.set_parameter(id, static_cast<float>(mid));
    const bool below = display_value(plugin, id) < wanted;
    if (below == rising) lo = mid; else hi = mid;
  }
  plugin.set_parameter(id, static_cast<float>(0.5 * (lo + hi)));
  return display_value(plugin, id);
}

void apply_parameter(vsthost::Plugin& plugin, const std::string& name, const std::string& text) {
  std::map<std::string, int> ids;
  for (int id = 0; id < plugin.effect()->numParams; ++id) {
    const std::string n = plugin.param_name(id);
    if (!n.empty()) ids.emplace(n, id);
  }
  const auto found = ids.find(name);
  if (found == ids.end()) {
    std::vector<std::pair<size_t, std::string>> nearest;
    for (const auto& [known, id] : ids) nearest.emplace_back(edit_distance(name, known), known);
    std::sort(nearest.begin(), nearest.end());
    std::string list;
    for (size_t i = 0; i < std::min<size_t>(3, nearest.size()); ++i)
      list += (i ? ", " : "") + nearest[i].second;
    throw Fail{"unknown parameter '" + name + "'; nearest: " + list};
  }
  char* end = nullptr;
  const double wanted = std::strtod(text.c_str(), &end);
  if (!end || *end != 0) throw Fail{"parameter " + name + ": '" + text + "' is not a number"};
  if (!plugin.can_be_automated(found->second))
    throw Fail{"parameter " + name + " cannot be set by a host"};
  const double got = set_parameter_in_units(plugin, found->second, wanted);
  if (std::fabs(got - wanted) > 1e-3 * std::max(1.0, std::fabs(wanted)))
    std::fprintf(stderr, "vimble-render: %s set to %g (the nearest value of its range to %g)\n",
                 name.c_str(), got, wanted);
}

// Waits until the sound asked for by the state or program change has loaded. Asking for the
// status also lets the plug-in install a finished load, as its editor's idle would.
intptr_t wait_for_sound(vsthost::Plugin& plugin, double timeout_seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int64_t>(timeout_seconds * 1000));
  for (;;) {
    const intptr_t status = plugin.vendor_specific(VENDOR_INDEX, VENDOR_LOAD_STATUS);
    if (status == 0 || status > STATUS_LAST_IN_PROGRESS) return status;
    if (std::chrono::steady_clock::now() > deadline)
      throw Fail{"the sound did not load within " + std::to_string(timeout_seconds) +
                 " s (status " + status_name(status) + ")"};
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string default_plugin_path(const char* argv0) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", ec);
  if (ec) self = argv0;
  // build/bin/vimble-render -> build/vimble.so
  return (self.parent_path().parent_path() / "vimble.so").string();
}

void progress(double fraction) {
  const int width = 40;
  const int filled = static_cast<int>(fraction * width);
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(width - filled), '.').c_str(),
               static_cast<int>(fraction * 100));
  std::fflush(stderr);
}

int run(const render::Options& options_in, const char* argv0) {
  render::Options options = options_in;
  const bool default_render =
      options.sound.empty() && options.state.empty() && options.notes.empty() &&
      options.midi_file.empty() && !options.program;

  const std::string plugin_path = options.plugin.empty() ? default_plugin_path(argv0) : options.plugin;
  std::string error;
  auto plugin = vsthost::Plugin::load(plugin_path, &error);
  if (!plugin) throw Fail{error};
  plugin->set_sample_rate(static_cast<float>(options.rate));
  plugin->set_block_size(options.block);
  if (options.seed) plugin->vendor_specific(VENDOR_INDEX, VENDOR_SET_SEED, nullptr,
                                            static_cast<float>(*options.seed));

  // What is played: a state, a sound through the demo patch, or the demo.
  std::string sound = options.sound;
  if (!sound.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(sound, ec)) throw Fail{"no sound file " + sound};
    sound = std::filesystem::absolute(sound, ec).string();
  } else if (options.state.empty()) {
    sound = render::builtin_source_sound(&error);
    if (sound.empty()) throw Fail{error};
  }
  const std::string chunk =
      options.state.empty() ? render::demo_state(sound) : read_file(options.state);
  plugin->set_chunk(chunk);
  if (default_render) options.notes = render::demo_phrase();

  // Events in frames.
  std::vector<ScheduledMidi> events;
  auto at_frame = [&](double seconds) { return static_cast<int64_t>(std::llround(seconds * options.rate)); };
  double music_end = 0;
  for (const render::NoteSpec& n : options.notes) {
    events.push_back({at_frame(n.start), {0, 0x90, static_cast<uint8_t>(n.note), static_cast<uint8_t>(n.velocity)}});
    events.push_back({at_frame(n.end), {0, 0x80, static_cast<uint8_t>(n.note), 0}});
    music_end = std::max(music_end, n.end);
  }
  if (!options.midi_file.empty()) {
    auto song = vsthost::read_midi_file(options.midi_file, &error);
    if (!song) throw Fail{error};
    for (const vsthost::TimedMidi& m : song->messages)
      events.push_back({at_frame(m.seconds), {0, m.status, m.data1, m.data2}});
    music_end = std::max(music_end, song->length_seconds);
  }
  // Note-offs first where events share a frame, so a repeated note sounds again.
  std::stable_sort(events.begin(), events.end(), [](const ScheduledMidi& a, const ScheduledMidi& b) {
    if (a.frame != b.frame) return a.frame < b.frame;
    const bool a_off = (a.message.status & 0xF0) == 0x80 || ((a.message.status & 0xF0) == 0x90 && a.message.data2 == 0);
    const bool b_off = (b.message.status & 0xF0) == 0x80 || ((b.message.status & 0xF0) == 0x90 && b.message.data2 == 0);
    return a_off && !b_off;
  });

  plugin->resume();
  plugin->start_process();
  if (options.program) plugin->send_midi({{0, 0xC0, static_cast<uint8_t>(*options.program), 0}});
  const intptr_t status = wait_for_sound(*plugin, options.load_timeout);
  if (status != 0 && status != STATUS_READY) {
    const std::string what = options.sound.empty() ? std::string("the sound of the patch") : options.sound;
    throw Fail{"cannot load " + what + ": " + status_name(status)};
  }
  // The plug-in installs a finished load, and applies the patch that asked for it, at the start
  // of its next block: one block of pre-roll, not written, makes the sound current before the
  // parameters of the command line are set and the recorded timeline starts.
  if (status == STATUS_READY) {
    std::vector<float> scratch_left(static_cast<size_t>(options.block)), scratch_right(scratch_left.size());
    plugin->process(scratch_left.data(), scratch_right.data(), options.block);
  }
  if (!options.params.empty()) {
    // Parameters glide over the change time while the instrument plays; the command line's
    // values hold from the first frame, so the change time is 0 while they are set.
    const float changetime = plugin->get_parameter(CHANGETIME_ID);
    plugin->set_parameter(CHANGETIME_ID, 0.f);
    for (const auto& [name, value] : options.params) apply_parameter(*plugin, name, value);
    if (std::none_of(options.params.begin(), options.params.end(),
                     [](const auto& p) { return p.first == "apply.changetime"; }))
      plugin->set_parameter(CHANGETIME_ID, changetime);
  }

  const double body = options.seconds ? *options.seconds : (music_end > 0 ? music_end : 8.0);
  const int64_t total = at_frame(body + options.tail);

  SF_INFO info{};
  info.samplerate = static_cast<int>(std::lround(options.rate));
  info.channels = 2;
  info.format = SF_FORMAT_WAV | (options.float_output ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24);
  const std::string partial = options.output + ".part";
  SNDFILE* out = sf_open(partial.c_str(), SFM_WRITE, &info);
  if (!out) throw Fail{"cannot write " + options.output + ": " + sf_strerror(nullptr)};
  // Samples are written as they are, so that a fault shows in the file; clipping is the host's.
  sf_command(out, SFC_SET_CLIPPING, nullptr, SF_FALSE);

  const bool show_progress = !options.quiet && isatty(STDERR_FILENO);
  std::vector<float> left(static_cast<size_t>(options.block)), right(left.size()),
      interleaved(2 * left.size());
  ChannelStats stats[2];
  size_t next_event = 0;
  double cpu = 0;
  int last_percent = -1;
  for (int64_t at = 0; at < total; at += options.block) {
    const int n = static_cast<int>(std::min<int64_t>(options.block, total - at));
    std::vector<vsthost::MidiMessage> block_events;
    while (next_event < events.size() && events[next_event].frame < at + n) {
      vsthost::MidiMessage m = events[next_event].message;
      m.delta = static_cast<int32_t>(std::max<int64_t>(0, events[next_event].frame - at));
      block_events.push_back(m);
      ++next_event;
    }
    const double started = cpu_seconds();
    if (!block_events.empty()) plugin->send_midi(block_events);
    plugin->process(left.data(), right.data(), n);
    cpu += cpu_seconds() - started;
    for (int i = 0; i < n; ++i) {
      const float frame[2] = {left[static_cast<size_t>(i)], right[static_cast<size_t>(i)]};
      for (int c = 0; c < 2; ++c) {
        const double v = frame[c];
        if (!std::isfinite(v)) {
          ++stats[c].nonfinite;
          continue;
        }
        stats[c].peak = std::max(stats[c].peak, std::fabs(v));
        stats[c].sum_squares += v * v;
        interleaved[2 * static_cast<size_t>(i) + static_cast<size_t>(c)] = frame[c];
      }
    }
    sf_writef_float(out, interleaved.data(), n);
    if (show_progress) {
      const int percent = static_cast<int>(100 * (at + n) / total);
      if (percent != last_percent) progress(static_cast<double>(at + n) / static_cast<double>(total));
      last_percent = percent;
    }
  }
  sf_close(out);
  if (show_progress) std::fprintf(stderr, "\n");
  std::error_code ec;
  std::filesystem::rename(partial, options.output, ec);
  if (ec) throw Fail{"cannot write " + options.output + ": " + ec.message()};

  if (!options.save_state.empty()) {
    std::ofstream state(options.save_state, std::ios::binary | std::ios::trunc);
    const std::string text = plugin->get_chunk();
    state.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!state) throw Fail{"cannot write " + options.save_state};
  }

  const double seconds = static_cast<double>(total) / options.rate;
  const double rms[2] = {std::sqrt(stats[0].sum_squares / std::max<int64_t>(1, total)),
                         std::sqrt(stats[1].sum_squares / std::max<int64_t>(1, total))};
  const double factor = cpu > 0 ? seconds / cpu : 0;
  auto db = [](double v) { return v > 0 ? 20 * std::log10(v) : -std::numeric_limits<double>::infinity(); };
  if (options.json) {
    std::printf("{\n  \"output\": \"%s\",\n  \"sample_rate\": %d,\n  \"format\": \"%s\",\n"
                "  \"duration_seconds\": %.6f,\n  \"peak\": [%.6f, %.6f],\n  \"rms\": [%.6f, %.6f],\n"
                "  \"nonfinite_samples\": %lld,\n  \"sound_status\": \"%s\",\n"
                "  \"cpu_seconds\": %.6f,\n  \"realtime_factor\": %.3f\n}\n",
                options.output.c_str(), info.samplerate, options.float_output ? "float32" : "pcm24",
                seconds, stats[0].peak, stats[1].peak, rms[0], rms[1],
                static_cast<long long>(stats[0].nonfinite + stats[1].nonfinite),
                status_name(status), cpu, factor);
  } else {
    std::printf("rendered    %s (%s, %d Hz, stereo)\n", options.output.c_str(),
                options.float_output ? "32-bit float" : "24-bit", info.samplerate);
    std::printf("sound       %s\n", status == 0 ? "none asked for" : status_name(status));
    std::printf("duration    %.3f s\n", seconds);
    std::printf("peak        L %.4f (%.1f dBFS)   R %.4f (%.1f dBFS)\n", stats[0].peak, db(stats[0].peak),
                stats[1].peak, db(stats[1].peak));
    std::printf("rms         L %.4f (%.1f dBFS)   R %.4f (%.1f dBFS)\n", rms[0], db(rms[0]), rms[1],
                db(rms[1]));
    if (stats[0].nonfinite + stats[1].nonfinite)
      std::printf("non-finite  %lld samples (written as 0)\n",
                  static_cast<long long>(stats[0].nonfinite + stats[1].nonfinite));
    std::printf("cpu         %.3f s\n", cpu);
    std::printf("real-time   %.1fx\n", factor);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = render::parse_options(argc, argv, &error);
  if (!options) {
    if (error.empty()) {
      std::fputs(render::usage(), stdout);
      return 0;
    }
    std::fprintf(stderr, "vimble-render: %s\n", error.c_str());
    return 2;
  }
  try {
    return run(*options, argv[0]);
  } catch (const Fail& fail) {
    std::fprintf(stderr, "vimble-render: %s\n", fail.message.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vimble-render: %s\n", e.what());
  }
  return 1;
}
