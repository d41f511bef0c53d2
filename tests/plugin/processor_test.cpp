// The plug-in object itself: start and stop fades, MIDI decoding, program changes. The object is
// driven through its effect record, as a host drives it, but linked into the test so that its
// engine can be inspected.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "host/vst_host.h"
#include "plugin/processor.h"

namespace fs = std::filesystem;

namespace {

intptr_t host(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

// A one-second 440 Hz sine, written once for the whole test program.
const std::string& sine_file() {
  static const std::string path = [] {
    const fs::path p = fs::temp_directory_path() / ("vimble-processor-test-" + std::to_string(::getpid()) + ".wav");
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
    std::vector<float> sine(44100);
    for (size_t i = 0; i < sine.size(); ++i)
      sine[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440.0 * i / 44100.0));
    sf_writef_float(f, sine.data(), static_cast<sf_count_t>(sine.size()));
    sf_close(f);
    return p.string();
  }();
  return path;
}

class ProcessorTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { fs::remove(sine_file()); }

  // An instance with the sine loaded (installed at the start of its next block) and a fixed seed.
  static std::unique_ptr<korvel::Processor> make() {
    auto p = std::make_unique<korvel::Processor>(&host);
    vst2::AEffect* e = p->getAeffect();
    e->dispatcher(e, vst2::effSetSampleRate, 0, 0, nullptr, 44100.f);
    e->dispatcher(e, vst2::effSetBlockSize, 0, 512, nullptr, 0);
    p->getSynth().params.set_random_seed(7);
    p->getSynth().load_soundfile(sine_file(), nullptr);
    EXPECT_TRUE(p->getSynth().wait_for_loads(10000));
    return p;
  }

  static void process(korvel::Processor& p, std::vector<float>& l, std::vector<float>& r) {
    vst2::AEffect* e = p.getAeffect();
    std::vector<float> silence(l.size());
    float* in[2] = {silence.data(), silence.data()};
    float* out[2] = {l.data(), r.data()};
    e->processReplacing(e, in, out, static_cast<int32_t>(l.size()));
  }

  static void send(korvel::Processor& p, const std::vector<vsthost::MidiMessage>& messages) {
    vsthost::EventList list(messages);
    vst2::AEffect* e = p.getAeffect();
    e->dispatcher(e, vst2::effProcessEvents, 0, 0, list.events(), 0);
  }
};

// The raised-cosine gain of frame i of a fade over d frames.
double fade_gain(int i, int d, bool fade_in) {
  const double step = std::numbers::pi / d;
  const double angle = (fade_in ? step - std::numbers::pi : step) - i * step;
  return 0.5 * std::cos(angle) + 0.5;
}

// Two instances render the same stream; one fades, the other was set playing without a fade.
// Their ratio is the fade's gain curve.
TEST_F(ProcessorTest, FadeInAndFadeOutShapes) {
  for (int block : {512, 20}) {
    auto faded = make(), plain = make();
    faded->resume();
    plain->resume();
    plain->playstate(korvel::Processor::PLAYING);
    std::vector<float> fl(block), fr(block), pl(block), pr(block);
    process(*faded, fl, fr);
    process(*plain, pl, pr);
    EXPECT_EQ(faded->playstate(), korvel::Processor::PLAYING);
    const int d = std::min(block, 64);
    int compared = 0;
    for (int i = 0; i < block; ++i) {
      const double expected = i < d ? fade_gain(i, d, true) : 1.0;
      if (std::fabs(pl[i]) > 1e-6) {
        EXPECT_NEAR(fl[i] / pl[i], expected, 1e-4) << "block " << block << " frame " << i;
        ++compared;
      } else {
        EXPECT_NEAR(fl[i], 0.f, 1e-6);
      }
    }
    EXPECT_GT(compared, block / 2) << "the reference stream is silent";

    // Keep both running, then stop one of them: its next block ends with the falling curve.
    for (int i = 0; i < 3; ++i) {
      process(*faded, fl, fr);
      process(*plain, pl, pr);
    }
    faded->suspend();
    EXPECT_EQ(faded->playstate(), korvel::Processor::STOPPING);
    process(*faded, fl, fr);
    process(*plain, pl, pr);
    EXPECT_EQ(faded->playstate(), korvel::Processor::STOPPED);
    for (int i = 0; i < block; ++i) {
      const int from_end = block - d;
      const double expected = i < from_end ? 1.0 : fade_gain(i - from_end, d, false);
      if (std::fabs(pl[i]) > 1e-6) {
        EXPECT_NEAR(fl[i] / pl[i], expected, 1e-4) << "block " << block << " frame " << i;
      }
    }
    // Afterwards nothing is rendered, and the host's buffer is cleared, not left stale.
    std::fill(fl.begin(), fl.end(), 0.25f);
    process(*faded, fl, fr);
    for (float v : fl) ASSERT_EQ(v, 0.f);
  }
}

TEST_F(ProcessorTest, NoFadeIsSpentBeforeASoundIsReady) {
  auto p = std::make_unique<korvel::Processor>(&host);
  p->getAeffect()->dispatcher(p->getAeffect(), vst2::effSetSampleRate, 0, 0, nullptr, 44100.f);
  p->resume();
  std::vector<float> l(128, 1.f), r(128, 1.f);
  process(*p, l, r);
  EXPECT_EQ(p->playstate(), korvel::Processor::STARTING);
  for (float v : l) ASSERT_EQ(v, 0.f);
}

TEST_F(ProcessorTest, MidiMessagesReachTheEngineDecoded) {
  auto p = make();
  p->resume();
  std::vector<float> l(64), r(64);
  process(*p, l, r);  // installs the sound: notes now drive the engine
  auto& midi = p->getSynth().midi;

  send(*p, {{0, 0x90, 64, 100}, {0, 0x91, 64, 90}});  // the same note on two channels: two keys
  EXPECT_EQ(midi.notes.size(), 2);
  EXPECT_EQ(midi.note.load(), 64);
  send(*p, {{0, 0x90, 64, 0}});  // a note-on with velocity 0 is a note-off
  EXPECT_EQ(midi.notes.size(), 1);
  EXPECT_TRUE(midi.notes.is_held(64 + 256));
  send(*p, {{0, 0x81, 64, 0}});
  EXPECT_TRUE(midi.notes.empty());

  struct Bend {
    uint8_t d1, d2;
    double target;
  };
  for (const Bend& b : {Bend{0, 64, 0.0}, Bend{0, 0, -1.0}, Bend{0x7F, 0x7F, 16383.0 / 8192 - 1}}) {
    send(*p, {{0, 0xE3, b.d1, b.d2}});
    EXPECT_DOUBLE_EQ(midi.bend.target.load(), b.target) << int(b.d1) << " " << int(b.d2);
  }
  send(*p, {{0, 0xB0, 1, 64}});  // modulation wheel
  EXPECT_DOUBLE_EQ(midi.modwheel.target.load(), 0.5);
  send(*p, {{0, 0xB0, 7, 127}, {0, 0xD0, 100, 0}, {0, 0xF8, 0, 0}});  // volume, pressure, clock
  EXPECT_DOUBLE_EQ(midi.modwheel.target.load(), 0.5);
  EXPECT_TRUE(midi.notes.empty());
}

TEST_F(ProcessorTest, AProgramChangeAppliesThatPatch) {
  auto p = make();
  auto& params = p->getSynth().params;
  constexpr int GRAIN_RATE = 4;
  const double before = params.get(GRAIN_RATE).second;
  params.changeValue(GRAIN_RATE, 123.0, 0);
  params.storeCurrentPatch(5, korvel::vimble::PatchParam::Mode_Target, 127);
  params.changeValue(GRAIN_RATE, before, 0);
  send(*p, {{0, 0xC5, 5, 0}});
  EXPECT_DOUBLE_EQ(params.get(GRAIN_RATE).second, 123.0);
}

}  // namespace
