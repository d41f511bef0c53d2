// The default render's material: source sound synthesis, demo patch text, demo phrase.
#include "demo_material.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <sstream>

namespace render {

namespace {

constexpr int SOURCE_RATE = 44100;
constexpr double SOURCE_SECONDS = 8.0;
// Bump when the synthesis below changes, so that caches are made anew.
constexpr const char* SOURCE_NAME = "vimble-source-v1.wav";

std::filesystem::path cache_folder() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
    return std::filesystem::path(xdg) / "vimble";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home) / ".cache" / "vimble";
  return std::filesystem::temp_directory_path() / "vimble-cache";
}

// Eight seconds in four sections, so that grains, pitch and filters each have something to show:
// a bright harmonic tone with vibrato, a slowly beating chord, a band of noise sweeping upwards,
// and plucked strings at four pitches.
std::vector<float> synthesise_source() {
  const int frames = static_cast<int>(SOURCE_SECONDS * SOURCE_RATE);
  std::vector<float> stereo(static_cast<size_t>(frames) * 2, 0.f);
  const double two_pi = 2 * std::numbers::pi;
  std::mt19937 noise_generator(20261211);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);

  double phase = 0;
  double band_low = 0, band_mid = 0;  // state-variable band-pass for the noise section
  std::vector<double> string_line;
  size_t string_at = 0;
  int string_note = -1;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / SOURCE_RATE;
    double left = 0, right = 0;
    if (t < 2.0) {
      // Harmonic tone at 220 Hz with 5 Hz vibrato; partials fall off as 1/k.
      const double f = 220.0 * (1.0 + 0.006 * std::sin(two_pi * 5.0 * t));
      phase += f / SOURCE_RATE;
      double s = 0;
      for (int k = 1; k <= 14; ++k) s += std::sin(two_pi * k * phase) / k;
      const double env = std::min(1.0, t / 0.05) * std::min(1.0, (2.0 - t) / 0.05);
      left = right = 0.35 * env * s;
    } else if (t < 4.0) {
      // Three detuned voices of a minor chord, left and right slightly apart.
      const double tt = t - 2.0;
      const double env = std::min(1.0, tt / 0.1) * std::min(1.0, (2.0 - tt) / 0.1);
      for (double f : {261.63, 311.13, 392.0}) {
        left += std::sin(two_pi * f * tt) + 0.3 * std::sin(two_pi * 2 * f * 1.002 * tt);
        right += std::sin(two_pi * f * 1.003 * tt) + 0.3 * std::sin(two_pi * 2 * f * tt);
      }
      left *= 0.18 * env;
      right *= 0.18 * env;
    } else if (t < 5.5) {
      // Noise through a resonant band-pass sweeping from 300 Hz to 6 kHz.
      const double tt = t - 4.0;
      const double fc = 300.0 * std::pow(20.0, tt / 1.5);
      const double f = 2 * std::sin(std::numbers::pi * fc / SOURCE_RATE);
      const double q = 0.15;
      const double input = noise(noise_generator);
      band_low += f * band_mid;
      const double high = input - band_low - q * band_mid;
      band_mid += f * high;
      const double env = std::min(1.0, tt / 0.02) * std::min(1.0, (1.5 - tt) / 0.05);
      left = 0.5 * env * band_mid;
      right = 0.5 * env * band_mid;
    } else {
      // Plucked strings (delay line with averaging), a new pitch every 0.625 s.
      const double tt = t - 5.5;
      const int note = static_cast<int>(tt / 0.625);
      if (note != string_note) {
        string_note = note;
        const double freqs[] = {196.0, 293.66, 246.94, 392.0};
        string_line.assign(static_cast<size_t>(SOURCE_RATE / freqs[note % 4]), 0.0);
        for (double& v : string_line) v = noise(noise_generator);
        string_at = 0;
      }
      const size_t n = string_line.size();
      const double out = string_line[string_at];
      string_line[string_at] = 0.497 * (out + string_line[(string_at + 1) % n]);
      string_at = (string_at + 1) % n;
      const double env = std::min(1.0, (SOURCE_SECONDS - t) / 0.05);
      left = 0.45 * env * out;
      right = 0.4 * env * out;
    }
    stereo[2 * static_cast<size_t>(i)] = static_cast<float>(left);
    stereo[2 * static_cast<size_t>(i) + 1] = static_cast<float>(right);
  }
  // Peak at -1 dBFS whatever the resonances above did.
  float peak = 0;
  for (float v : stereo) peak = std::max(peak, std::fabs(v));
  if (peak > 0)
    for (float& v : stereo) v *= 0.89f / peak;
  return stereo;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string builtin_source_sound(std::string* error) {
  const std::filesystem::path folder = cache_folder();
  const std::filesystem::path path = folder / SOURCE_NAME;
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return path.string();
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    *error = "cannot create the cache folder " + folder.string() + ": " + ec.message();
    return {};
  }
  // Written under a name of its own and renamed, so that a render running at the same time
  // never reads a half-written file.
  const std::filesystem::path partial =
      folder / (std::string(SOURCE_NAME) + ".part" + std::to_string(getpid()));
  SF_INFO info{};
  info.samplerate = SOURCE_RATE;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
  if (!file) {
    *error = "cannot write " + partial.string() + ": " + sf_strerror(nullptr);
    return {};
  }
  const std::vector<float> stereo = synthesise_source();
  sf_writef_float(file, stereo.data(), static_cast<sf_count_t>(stereo.size() / 2));
  sf_close(file);
  std::filesystem::rename(partial, path, ec);
  if (ec) {
    *error = "cannot store " + path.string() + ": " + ec.message();
    return {};
  }
  return path.string();
}

std::string demo_state(const std::string& sound_path) {
  // A slow scan through the sound with medium grains, random panning, a little jitter of the
  // start position, a gentle band of filtering and an echo.
  std::ostringstream patch;
  patch << "{\n  \"patch.1\": {\n"
        << "    \"sound.start\": 0,\n    \"sound.end\": 0,\n"
        << "    \"sound.play_rate\": 0.9,\n"
        << "    \"sound.play_position.controller.0\": {\"type\": \"random\", \"amount\": 0.25, "
           "\"walk\": 0.5, \"spread\": 0.5},\n"
        << "    \"grain.rate\": 36,\n    \"grain.length\": 140,\n"
        << "    \"grain.freq\": 1,\n    \"grain.gliss\": 0,\n"
        << "    \"grain.attack\": 0.3,\n    \"grain.decay\": 0.6,\n"
        << "    \"grain.amp\": 0.7,\n    \"grain.pan\": 0,\n"
        << "    \"grain.pan.controller.0\": {\"type\": \"random\", \"amount\": 0.8, \"walk\": 0.6, "
           "\"spread\": 0.7},\n"
        << "    \"dist.clip\": 0,\n    \"dist.bitcrush\": 14,\n    \"dist.tone\": 50,\n"
        << "    \"filter.freq\": 1800,\n    \"filter.width\": 0.4,\n"
        << "    \"filter.low\": 0.6,\n    \"filter.mid\": 0.4,\n    \"filter.high\": 0.2,\n"
        << "    \"filter2.freq\": 2400,\n    \"filter2.width\": 0.5,\n"
        << "    \"delay.time\": 330,\n    \"delay.feedback\": 0.3,\n"
        << "    \"adsr1.points\": [\n"
        << "      {\"curve\": 0, \"delta\": 0, \"level\": 0},\n"
        << "      {\"curve\": 0, \"delta\": 12.5, \"level\": 1},\n"
        << "      {\"curve\": 0, \"delta\": 100, \"level\": 0.8},\n"
        << "      {\"curve\": 0, \"delta\": 2700, \"level\": 0.8},\n"
        << "      {\"curve\": 0, \"delta\": 100000, \"level\": 0}\n    ],\n"
        << "    \"adsr2.points\": [\n"
        << "      {\"curve\": 0, \"delta\": 0, \"level\": 0},\n"
        << "      {\"curve\": 0, \"delta\": 800, \"level\": 1},\n"
        << "      {\"curve\": 0, \"delta\": 2700, \"level\": 0.4},\n"
        << "      {\"curve\": 0, \"delta\": 800, \"level\": 0.4},\n"
        << "      {\"curve\": 0, \"delta\": 100000, \"level\": 0}\n    ],\n"
        << "    \"timestamp\": 1,\n"
        << "    \"soundfile\": " << json_string(sound_path) << "\n  }\n}\n";
  return patch.str();
}

std::vector<NoteSpec> demo_phrase() {
  return {{60, 0.0, 1.4, 100}, {63, 1.5, 2.9, 90}, {67, 3.0, 4.4, 100},
          {70, 4.5, 5.2, 80},  {72, 5.25, 7.0, 110}};
}

}  // namespace render
