// Helpers for the state tests: a temporary folder, a small sine WAVE file, state texts.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace state_fixture {

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vimble-state-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Changes the working directory for the life of the object.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& path) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~WorkingDirectory() {
    std::error_code error;
    std::filesystem::current_path(old_, error);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
}

// A mono 16-bit PCM WAVE file holding a sine of the given frequency at half scale.
inline void write_sine_wav(const std::string& path, int frames, int rate = 44100, double hz = 440) {
  std::string bytes;
  const auto le = [&bytes](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const uint32_t data_size = static_cast<uint32_t>(frames) * 2;
  bytes += "RIFF";
  le(36 + data_size, 4);
  bytes += "WAVEfmt ";
  le(16, 4);
  le(1, 2);  // PCM
  le(1, 2);  // mono
  le(static_cast<uint32_t>(rate), 4);
  le(static_cast<uint32_t>(rate) * 2, 4);
  le(2, 2);
  le(16, 2);
  bytes += "data";
  le(data_size, 4);
  for (int i = 0; i < frames; ++i) {
    const double v = 0.5 * std::sin(2 * std::numbers::pi * hz * i / rate);
    le(static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767))), 2);
  }
  write_file(path, bytes);
}

// The JSON text of a string (for file names in hand-made state texts).
inline std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace state_fixture
