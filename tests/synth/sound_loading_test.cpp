// Loading sounds by name: the cache, load statuses, installs at the start of a block, deferred
// patches, and ending the engine while loads run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "engine_fixture.h"
#include "support/test_wav.h"

namespace korvel::vimble {
namespace {

namespace fs = std::filesystem;
using Status = audio::SoundPack::Status;

// A 16-bit stereo RIFF/WAVE file with a 440 Hz tone.
void write_wav(const fs::path& path, int frames) {
  write_test_wav(path, static_cast<uint32_t>(frames), 2, 44100, [](int, uint32_t i) {
    return static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * static_cast<int>(i) / 44100.0));
  });
}

class SoundLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vimble_loading_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    wav_ = dir_ / "tone.wav";
    write_wav(wav_, 22050);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // One block, which installs what has finished loading.
  static void block(Synth& synth) {
    std::vector<float> left(64), right(64);
    float* outputs[2] = {left.data(), right.data()};
    synth.generate(nullptr, outputs, 64);
  }

  fs::path dir_;
  fs::path wav_;
};

TEST_F(SoundLoading, ALoadedSoundIsInstalledAtTheNextBlock) {
  Synth synth;
  synth.set_framerate(44100);
  EXPECT_EQ(synth.load_status(), 0) << "nothing asked for yet";
  synth.start();
  synth.load_soundfile(wav_.string(), nullptr);
  ASSERT_TRUE(synth.wait_for_loads(10000));
  EXPECT_EQ(synth.load_status(), Status::Ready);
  EXPECT_FALSE(synth.sound_ready()) << "installed by the audio thread, not by the loader";
  block(synth);
  ASSERT_TRUE(synth.sound_ready());
  EXPECT_EQ(synth.stream.state.load(), 4);
  EXPECT_EQ(synth.soundpack()->framecount, 22050u);
  EXPECT_EQ(synth.params.get(0).first, 0.0);
  EXPECT_EQ(synth.params.get(1).first, 22050.0);
  EXPECT_EQ(synth.stream.sel_end.load(), 22050);
  EXPECT_EQ(synth.check_new_soundpack(), 0);
}

TEST_F(SoundLoading, FailuresEndInTheirStatus) {
  std::ofstream(dir_ / "text.wav") << "not a sound file at all";
  struct Case {
    fs::path path;
    int status;
  };
  for (const Case& c : std::vector<Case>{{dir_ / "missing.wav", Status::FileNotFound},
                                         {dir_ / "nowhere" / "missing.wav", Status::PathNotFound},
                                         {dir_ / "text.wav", Status::InvalidFile}}) {
    Synth synth;
    synth.set_framerate(44100);
    synth.start();
    synth.load_soundfile(c.path.string(), nullptr);
    ASSERT_TRUE(synth.wait_for_loads(10000));
    EXPECT_EQ(synth.load_status(), c.status) << c.path;
    block(synth);
    EXPECT_FALSE(synth.sound_ready()) << c.path;
    EXPECT_EQ(synth.stream.state.load(), 3) << "still waiting for a sound";
  }
}

TEST_F(SoundLoading, ASecondRequestIsAnsweredFromTheCache) {
  Synth synth;
  synth.set_framerate(44100);
  synth.start();
  synth.load_soundfile(wav_.string(), nullptr);
  ASSERT_TRUE(synth.wait_for_loads(10000));
  block(synth);
  const audio::SoundPack* first = synth.soundpack().get();
  synth.set_sound(testing::make_sound(1000));
  block(synth);
  ASSERT_EQ(synth.soundpack()->framecount, 1000u);
  synth.load_soundfile(wav_.string(), nullptr);
  ASSERT_TRUE(synth.wait_for_loads(10000));
  block(synth);
  EXPECT_EQ(synth.soundpack().get(), first) << "the same pack, not a new load";
}

// A MIDI program change applies a patch that names a sound not yet loaded: the sound loads,
// is installed, and then the patch is applied, without an editor.
TEST_F(SoundLoading, APatchNamingASoundIsAppliedAfterItsSoundIsInstalled) {
  Synth synth;
  synth.set_framerate(44100);
  synth.start();
  synth.params.resize_patches(8);
  synth.params.patches.edit(5, [this](Patch& patch) {
    patch.soundfile = wav_.wstring();
    patch.params[Patch::TIMESTAMP].value = 1700000000;
    patch.params[5].value = 250;  // grain.length
    patch.params[4].value = 35;   // grain.rate
    patch.params[1].value = 20000;
  });
  synth.params.applyPatch(5, 0.0, 128);  // as a program change does, on the audio thread
  EXPECT_EQ(synth.params.get(5).first, 100.0) << "nothing is applied before the sound is there";
  ASSERT_TRUE(synth.wait_for_loads(10000));
  block(synth);
  ASSERT_TRUE(synth.sound_ready());
  EXPECT_EQ(synth.params.get(5).first, 250.0);
  EXPECT_EQ(synth.params.get(4).first, 35.0);
  EXPECT_EQ(synth.params.get(1).first, 20000.0) << "the patch's selection, with its sound";
}

TEST_F(SoundLoading, ANameThatIsNotUtf8IsRefusedBeforeAnythingStarts) {
  Synth synth;
  EXPECT_THROW(synth.load_soundfile(std::string("bad\xC3\x28name.wav"), nullptr),
               std::invalid_argument);
  EXPECT_EQ(synth.load_status(), 0);
  EXPECT_EQ(synth.check_new_soundpack(), 0);
}

TEST_F(SoundLoading, EndingTheEngineWhileLoadsRunWaitsForThem) {
  write_wav(dir_ / "long.wav", 44100 * 20);
  for (int i = 0; i < 3; ++i) {
    Synth synth;
    synth.set_framerate(44100);
    synth.load_soundfile((dir_ / "long.wav").string(), nullptr);
    synth.load_soundfile(wav_.string(), nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * i));
  }  // destroyed with loads running: no worker outlives the cache
  SUCCEED();
}

}  // namespace
}  // namespace korvel::vimble
