// The engine under four kinds of thread at once: the audio thread renders (with MIDI notes),
// the host thread automates parameters, the editor thread applies patches, loads sounds and
// reads the engine's state, and the loader's workers finish loads that the audio thread then
// installs. Run in the ThreadSanitizer build, where any unsynchronised access is a failure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "synth/synth.h"
#include "support/test_wav.h"

namespace korvel::vimble {
namespace {

namespace fs = std::filesystem;

void write_wav(const fs::path& path, int frames, double hz, int channels) {
  write_test_wav(path, uint32_t(frames), channels, 44100, [hz](int c, uint32_t i) {
    return int16_t(10000 * std::sin(2 * M_PI * hz * (c + 1) * int(i) / 44100));
  });
}

TEST(EngineStress, RenderAutomateApplyAndLoadAtOnce) {
  const fs::path dir = fs::temp_directory_path() / ("vimble_stress_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<std::string> files;
  for (int k = 0; k < 4; ++k) {
    files.push_back((dir / ("s" + std::to_string(k) + ".wav")).string());
    write_wav(files.back(), 8000 + 3000 * k, 200 + 100 * k, 1 + k % 2);
  }

  Synth synth;
  synth.set_framerate(44100);
  SynthParams& params = synth.params;
  params.resize_patches(16);
  for (int slot = 2; slot < 6; ++slot) {
    params.patches.edit(slot, [&](Patch& p) {
      p.soundfile = fs::path(files[slot - 2]).wstring();
      p.params[Patch::TIMESTAMP].value = 1;
      p.params[4].value = 100 + 50 * slot;  // grain.rate
      p.params[5].value = 30 + 10 * slot;   // grain.length
      p.params[18].value = 0.2;             // filter.low
      p.params[24].value = 0.3;             // delay.feedback
      p.params[23].value = 40;              // delay.time
    });
  }
  synth.load_soundfile(files[0], nullptr);
  synth.start();

  std::atomic<bool> stop{false};
  std::atomic<int> blocks{0};
  std::atomic<bool> sounded{false};
  std::thread audio([&] {
    std::vector<float> left(192), right(192);
    float* outputs[2] = {left.data(), right.data()};
    int n = 0;
    while (!stop.load()) {
      if (n % 40 == 0) synth.midi_event({uint8_t(60 + n % 12), 0, 0x90, 90, 0});
      if (n % 40 == 20) synth.midi_event({uint8_t(60 + (n - 20) % 12), 0, 0x80, 0, 0});
      if (n % 7 == 0) synth.midi_value(0xE0, (n * 97) % 16384, 0);
      synth.generate(nullptr, outputs, 64 + (n * 37) % 129);
      for (float v : left) {
        ASSERT_TRUE(std::isfinite(v));
        if (v != 0.f) sounded.store(true, std::memory_order_relaxed);
      }
      ++n;
      blocks.store(n);
    }
  });
  std::thread host([&] {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0, 1);
    while (!stop.load()) {
      for (int id : {4, 5, 7, 9, 12, 13, 14, 16, 18, 23, 24, 83, 84, 103, 104})
        params.setNormalValue(id, unit(random));
      (void)params.getNormalValue(5);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::thread editor([&] {
    int n = 0;
    while (!stop.load()) {
      switch (n % 6) {
        case 0: params.applyPatch(2 + (n / 6) % 4, 0.05, 128); break;
        case 1: synth.load_soundfile(files[(n / 6) % 4], nullptr); break;
        case 2: params.changeValue(15, double(n % 100), 0.02); break;
        case 3: (void)synth.check_new_soundpack(); break;
        case 4:
          if (n % 60 == 4) synth.stop(), synth.start();
          break;
        default: {
          const auto sound = synth.soundpack();
          if (sound) {
            EXPECT_EQ(sound->status.load(), audio::SoundPack::Ready);
          }
          (void)synth.play_position();
          (void)synth.sound_ready();
          (void)synth.load_status();
          (void)synth.active_grain_count();
        }
      }
      ++n;
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });

  std::this_thread::sleep_for(std::chrono::seconds(3));
  stop = true;
  audio.join();
  host.join();
  editor.join();
  EXPECT_GT(blocks.load(), 100);
  EXPECT_TRUE(sounded.load()) << "loaded sounds were installed and played";
  EXPECT_TRUE(synth.sound_ready());
  EXPECT_TRUE(synth.wait_for_loads(20000));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace korvel::vimble
