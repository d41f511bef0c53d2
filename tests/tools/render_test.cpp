// vimble-render end to end: the real tool driving the real plug-in, checked on the files it writes.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

struct Audio {
  int rate = 0;
  std::vector<float> left, right;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class RenderTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vimble-render-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // Runs the tool with its cache folder inside the test's folder.
  ToolRun render(const std::string& args) {
    const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    const std::string command = "cd '" + dir_.string() + "' && XDG_CACHE_HOME='" +
                                (dir_ / "cache").string() + "' '" VIMBLE_BIN_DIR "/vimble-render' " +
                                args + " >'" + out.string() + "' 2>'" + err.string() + "'";
    ToolRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
  }

  Audio read(const std::string& name) {
    Audio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open((dir_ / name).c_str(), SFM_READ, &info);
    if (!file) {
      ADD_FAILURE() << "cannot read " << name;
      return audio;
    }
    std::vector<float> frames(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    audio.rate = info.samplerate;
    for (sf_count_t i = 0; i < info.frames; ++i) {
      audio.left.push_back(frames[static_cast<size_t>(i * info.channels)]);
      audio.right.push_back(frames[static_cast<size_t>(i * info.channels + info.channels - 1)]);
    }
    return audio;
  }

  fs::path dir_;
};

double rms(const std::vector<float>& v, size_t from = 0, size_t to = SIZE_MAX) {
  to = std::min(to, v.size());
  if (to <= from) return 0;
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(v[i]) * v[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

TEST_F(RenderTool, DefaultRenderIsAudibleFiniteAndBounded) {
  const ToolRun run = render("--seed 1 --json -o demo.wav");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"realtime_factor\""), std::string::npos) << run.out;
  const Audio audio = read("demo.wav");
  ASSERT_GT(audio.left.size(), 44100u * 5);
  for (const auto* channel : {&audio.left, &audio.right}) {
    for (float v : *channel) {
      ASSERT_TRUE(std::isfinite(v));
      ASSERT_LE(std::fabs(v), 1.0f);
    }
    EXPECT_GT(rms(*channel), 1e-3) << "the demo is silent";
  }
}

TEST_F(RenderTool, TheSameSeedGivesTheSameFile) {
  for (const char* name : {"a.wav", "b.wav"})
    ASSERT_EQ(render(std::string("--seed 42 --seconds 2 --tail 0 -o ") + name).status, 0);
  const std::string a = slurp(dir_ / "a.wav"), b = slurp(dir_ / "b.wav");
  ASSERT_GT(a.size(), 1000u);
  EXPECT_TRUE(a == b) << "two renders with one seed differ";
}

TEST_F(RenderTool, ASavedStateReproducesTheSession) {
  const std::string notes = "--notes 60:0-1,67:1-2 --seed 9 --tail 0.5 ";
  const ToolRun first = render(notes + "--save-state session.json -o first.wav");
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string state = slurp(dir_ / "session.json");
  EXPECT_NE(state.find("\"patch.1\""), std::string::npos) << state.substr(0, 400);
  const ToolRun second = render(notes + "--state session.json -o second.wav");
  ASSERT_EQ(second.status, 0) << second.err;
  const Audio a = read("first.wav"), b = read("second.wav");
  ASSERT_EQ(a.left.size(), b.left.size());
  ASSERT_GT(rms(a.left), 1e-3);
  // The state text keeps six significant digits, so the two may differ in the last bits.
  std::vector<float> difference(a.left.size());
  for (size_t i = 0; i < a.left.size(); ++i) difference[i] = a.left[i] - b.left[i];
  EXPECT_LT(rms(difference), 0.01 * rms(a.left));
}

TEST_F(RenderTool, ErrorsAreOneClearLine) {
  struct Case {
    std::string args;
    std::string message;
  };
  const Case cases[] = {
      {"--sound missing.wav", "no sound file"},
      {"--param grain.rat=3", "unknown parameter 'grain.rat'; nearest: grain.rate"},
      {"--notes 60:2-1", "bad note"},
      {"--state nowhere.json", "cannot read nowhere.json"},
      {"--midi nowhere.mid", "cannot open MIDI file"},
      {"--frobnicate", "unknown option"},
  };
  for (const Case& c : cases) {
    const ToolRun run = render(c.args + " -o x.wav");
    EXPECT_NE(run.status, 0) << c.args;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "x.wav")) << c.args;
  }
}

TEST_F(RenderTool, ASoundThePluginCannotLoadNamesTheLoaderStatus) {
  std::ofstream(dir_ / "text.wav") << "this is not a sound file, only some words in a row";
  const ToolRun run = render("--sound text.wav -o x.wav");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("InvalidFile"), std::string::npos) << run.err;
}

// Notes of a MIDI file at 100 beats per minute start where the tempo map puts them.
TEST_F(RenderTool, MidiFileNotesLandAtTheirTimes) {
  // 96 ticks per quarter, 600 000 us per quarter: one tick is 6.25 ms. Notes at ticks 0, 240
  // and 400 (0, 1.5 and 2.5 s), each 32 ticks (0.2 s) long.
  const std::vector<uint8_t> events = {
      0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0,             // tempo
      0x00, 0x90, 60,   100,  0x20, 0x80, 60,   0,          // ticks 0 .. 32
      0x81, 0x50, 0x90, 62,   100,  0x20, 0x80, 62,   0,    // 240 .. 272 (delta 208)
      0x81, 0x00, 0x90, 64,   100,  0x20, 0x80, 64,   0,    // 400 .. 432 (delta 128)
      0x00, 0xFF, 0x2F, 0x00};
  std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                               'M', 'T', 'r', 'k', 0, 0, 0, static_cast<uint8_t>(events.size())};
  file.insert(file.end(), events.begin(), events.end());
  std::ofstream(dir_ / "notes.mid", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

  // Short release, no echoes: between the notes the instrument is silent.
  const ToolRun run = render(
      "--midi notes.mid --seed 5 --tail 0.5 --param delay.feedback=0 --param delay.time=0 "
      "--param adsr1.points.3.delta=60 --param grain.length=40 --param grain.rate=400 -o m.wav");
  ASSERT_EQ(run.status, 0) << run.err;
  const Audio audio = read("m.wav");
  const double rate = audio.rate;
  const double loud = rms(audio.left, static_cast<size_t>(1.55 * rate), static_cast<size_t>(1.65 * rate));
  ASSERT_GT(loud, 1e-3);
  for (double expected : {1.5, 2.5}) {
    // Silent just before the note, audible right after its onset.
    const size_t from = static_cast<size_t>((expected - 0.3) * rate);
    size_t onset = from;
    while (onset < audio.left.size() && std::fabs(audio.left[onset]) < 0.05 * loud) ++onset;
    EXPECT_NEAR(static_cast<double>(onset) / rate, expected, 0.015) << "note at " << expected << " s";
  }
}

}  // namespace
