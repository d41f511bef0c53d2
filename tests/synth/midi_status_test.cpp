// MIDI state: note priority, smoothed inputs, the two note envelopes and the fixed note storage.
#include "synth/midi_status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "synth/synth.h"

// Allocation counting for this test program: every operator new goes through here, and the
// count grows only while a test has switched counting on for its own thread.
namespace {
std::atomic<long> allocations{0};
thread_local bool counting_allocations = false;

void* counted_alloc(std::size_t size) {
  if (counting_allocations) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

struct AllocationCounter {
  long start;
  AllocationCounter() : start(allocations.load()) { counting_allocations = true; }
  ~AllocationCounter() { counting_allocations = false; }
  long count() const { return allocations.load() - start; }
};
}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace korvel::vimble {
namespace {

constexpr double FRAMERATE = 44100;

Midi::Event note_on(int note, int velocity = 100, int channel = 0, int delta = 0) {
  Midi::Event e;
  e.note = static_cast<uint8_t>(note);
  e.channel = static_cast<uint8_t>(channel);
  e.type = 0x90;
  e.velocity = static_cast<uint8_t>(velocity);
  e.delta = delta;
  return e;
}

Midi::Event note_off(int note, int channel = 0, int delta = 0) {
  Midi::Event e = note_on(note, 0, channel, delta);
  e.type = 0x80;
  return e;
}

// The note stack as the instrument first kept it: a map of held keys and a list of every press,
// a key pressed twice listed twice. The fixed-storage stack must answer exactly like it.
struct GrowingNoteStack {
  std::map<int, int> held;
  std::vector<int> order;

  int note_on(int key, int velocity) {
    held[key] = velocity;
    order.push_back(key);
    return key;
  }
  int note_off(int key) {
    held.erase(key);
    if (held.empty()) {
      order.clear();
      return -1;
    }
    if (order.back() != key) return -1;
    order.pop_back();
    while (!order.empty()) {
      if (held.count(order.back())) return order.back();
      order.pop_back();
    }
    return -1;
  }
};

// A MIDI state with a sound ready, fed from a store holding the default breakpoints.
class MidiStatusTest : public ::testing::Test {
 protected:
  void event(Midi::Event e, bool sound_ready = true) {
    midi.midi_event(e, sound_ready, synth.params, FRAMERATE);
  }
  // Runs 8-frame steps until pred holds; returns the output frames it took, or -1 after limit.
  template <typename Pred>
  long frames_until(Pred pred, long limit_frames) {
    for (long frames = 0; frames <= limit_frames; frames += 8) {
      if (pred()) return frames;
      midi.update(8, FRAMERATE);
    }
    return -1;
  }

  Synth synth;
  MidiStatus midi;
};

TEST_F(MidiStatusTest, LastNotePriority) {
  struct Step {
    Midi::Event e;
    double note;  // the sounding note afterwards
    bool releasing;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"release the top note: the one below comes back, then the last one releases",
       {{note_on(60), 60, false}, {note_on(64), 64, false}, {note_off(64), 60, false},
        {note_off(60), 60, true}}},
      {"release the lower note: the top one keeps sounding",
       {{note_on(60), 60, false}, {note_on(64), 64, false}, {note_off(60), 64, false},
        {note_off(64), 64, true}}},
      {"same number on two channels: two keys",
       {{note_on(60, 100, 0), 60, false}, {note_on(60, 100, 1), 60, false},
        {note_off(60, 1), 60, false}, {note_on(67), 67, false}, {note_off(67), 60, false},
        {note_off(60, 0), 60, true}}},
      {"a key pressed again moves to the top",
       {{note_on(60), 60, false}, {note_on(64), 64, false}, {note_on(60), 60, false},
        {note_off(60), 64, false}, {note_off(64), 64, true}}},
      {"a note-off for a key never pressed changes no note",
       {{note_on(60), 60, false}, {note_off(61), 60, false}, {note_off(60), 60, true}}},
      {"three notes released from the middle",
       {{note_on(60), 60, false}, {note_on(64), 64, false}, {note_on(67), 67, false},
        {note_off(64), 67, false}, {note_off(67), 60, false}, {note_off(60), 60, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MidiStatus fresh;
    midi = fresh;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(i);
      event(c.steps[i].e);
      EXPECT_EQ(midi.note, c.steps[i].note);
      EXPECT_EQ(midi.adsr1.state == MidiStatus::ADSR::Release, c.steps[i].releasing);
      EXPECT_EQ(midi.adsr2.state == MidiStatus::ADSR::Release, c.steps[i].releasing);
    }
    EXPECT_TRUE(midi.notes.empty());
  }
}

TEST(NoteStackTest, AnswersLikeTheGrowingStackOnRandomSequences) {
  std::mt19937 rng(1234);
  for (int run = 0; run < 50; ++run) {
    MidiStatus::NoteStack fixed;
    GrowingNoteStack growing;
    // Few keys so that repeats, stale entries and out-of-order releases are frequent.
    std::uniform_int_distribution<int> pick(0, 7);
    for (int op = 0; op < 2000; ++op) {
      const int key = 60 + pick(rng) % 4 + 256 * (pick(rng) % 2);
      if (pick(rng) < 4) {
        ASSERT_EQ(fixed.note_on(key, op % 128), growing.note_on(key, op % 128));
      } else {
        ASSERT_EQ(fixed.note_off(key), growing.note_off(key)) << "run " << run << " op " << op;
      }
      ASSERT_EQ(fixed.size(), static_cast<int>(growing.held.size()));
    }
  }
}

TEST(NoteStackTest, KeysOutsideTheMidiRangeAreIgnored) {
  MidiStatus::NoteStack stack;
  for (int key : {-1, 128, 256 + 200, 16 * 256, 0xFFFF}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(stack.note_on(key, 100), -1);
    EXPECT_EQ(stack.note_off(key), -1);
    EXPECT_TRUE(stack.empty());
  }
  EXPECT_EQ(stack.note_on(127 + 256 * 15, 5), 127 + 256 * 15);
  EXPECT_EQ(stack.velocity(127 + 256 * 15), 5);
}

TEST_F(MidiStatusTest, TenThousandNoteOnsThenAllNoteOffsHoldNothingAndAllocateNothing) {
  {
    AllocationCounter check;  // the counter sees allocations of this thread
    std::vector<int> one(1);
    ASSERT_EQ(check.count(), 1);
  }
  AllocationCounter counter;
  for (int i = 0; i < 10000; ++i) {
    // Every key of every channel several times over, and one stuck key pressed again and again.
    event(i % 5 == 0 ? note_on(60, 90, 3) : note_on(i % 128, 1 + i % 127, (i / 128) % 16));
  }
  EXPECT_EQ(midi.notes.size(), MidiStatus::NoteStack::CAPACITY);
  for (int channel = 0; channel < 16; ++channel) {
    for (int n = 0; n < 128; ++n) event(note_off(n, channel));
  }
  for (int i = 0; i < 1000; ++i) midi.update(8, FRAMERATE);
  EXPECT_EQ(counter.count(), 0);
  EXPECT_TRUE(midi.notes.empty());
  EXPECT_EQ(midi.notes.top(), -1);
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Release);
}

TEST_F(MidiStatusTest, SmoothedInputs) {
  struct Case {
    int a, b, c;
    double velocity, modwheel, bend;  // targets afterwards
  };
  const double v0 = 100 / 128.0;
  const std::vector<Case> cases = {
      {0xE0, 8192, 0, v0, 0, 0},
      {0xE0, 0, 0, v0, 0, -1},
      {0xE0, 16383, 0, v0, 0, 16383 / 8192.0 - 1},
      {1, 64, 0, v0, 0.5, 0},
      {1, 127, 0, v0, 127 / 128.0, 0},
      {0xA0, 60, 32, 0.25, 0, 0},   // pressure on the sounding note
      {0xA0, 61, 32, v0, 0, 0},     // pressure on another note
      {7, 127, 0, v0, 0, 0},        // volume controller
      {64, 127, 0, v0, 0, 0},       // sustain pedal
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.a << " " << c.b << " " << c.c);
    midi = MidiStatus();
    event(note_on(60, 100));
    midi.midi_value(c.a, c.b, c.c);
    EXPECT_DOUBLE_EQ(midi.velocity.target, c.velocity);
    EXPECT_DOUBLE_EQ(midi.modwheel.target, c.modwheel);
    EXPECT_DOUBLE_EQ(midi.bend.target, c.bend);
  }
}

TEST_F(MidiStatusTest, InputsGlideOverTheGlideTime) {
  midi.midi_value(0xE0, 0, 0);
  EXPECT_EQ(midi.bend.current, 0);
  // Half the glide time: half way.
  for (int i = 0; i < 0.1 * FRAMERATE / 8; ++i) midi.update(8, FRAMERATE);
  EXPECT_NEAR(midi.bend.current, -0.5, 0.01);
  for (int i = 0; i < 0.11 * FRAMERATE / 8; ++i) midi.update(8, FRAMERATE);
  EXPECT_EQ(midi.bend.current, -1);
}

// Default breakpoints of envelope 1: attack 12.5 ms to 1, decay 100 ms to 0.8, release 2700 ms.
// The envelope clock runs at twice the speed, so every stage takes half its breakpoint time.
TEST_F(MidiStatusTest, EnvelopeStagesRunOnTheDoubleSpeedClock) {
  event(note_on(60, 127));
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Attack);
  const double peak = 127 / 128.0;  // level 1 times velocity
  const auto& env = midi.adsr1;

  // Milliseconds of output from the note until each stage is reached.
  double at_peak = -1, at_decay = -1, at_sustain_level = -1, at_sustain = -1;
  for (long frames = 0; frames < FRAMERATE && at_sustain < 0; frames += 8) {
    const double ms = frames / FRAMERATE * 1000;
    if (at_peak < 0 && env.output.current >= peak - 1e-9) at_peak = ms;
    if (at_decay < 0 && env.state == MidiStatus::ADSR::Decay) at_decay = ms;
    if (at_sustain_level < 0 && at_peak >= 0 && env.output.current <= 0.8 + 1e-9)
      at_sustain_level = ms;
    if (at_sustain < 0 && env.state == MidiStatus::ADSR::Sustain) at_sustain = ms;
    midi.update(8, FRAMERATE);
  }
  const double step_ms = 8 / FRAMERATE * 1000;
  EXPECT_NEAR(at_peak, 6.25, step_ms);
  EXPECT_NEAR(at_decay, 6.25, step_ms);
  EXPECT_NEAR(at_sustain_level, 56.25, step_ms);
  EXPECT_NEAR(at_sustain, 56.25, step_ms);
  for (int i = 0; i < 1000; ++i) midi.update(8, FRAMERATE);
  EXPECT_EQ(env.state, MidiStatus::ADSR::Sustain);
  EXPECT_EQ(env.output.current, 0.8);  // the sustain level is not scaled by velocity

  // Release: 2700 ms on the envelope clock, 1.35 s of output, down to point 0's level.
  event(note_off(60));
  EXPECT_EQ(env.state, MidiStatus::ADSR::Release);
  const long to_silence = frames_until([&] { return env.output.current == 0; }, 10 * 44100);
  EXPECT_NEAR(to_silence / FRAMERATE, 1.35, 2 * 8 / FRAMERATE);
  const long to_idle = frames_until([&] { return env.state == MidiStatus::ADSR::Idle; }, 44100);
  EXPECT_GE(to_idle, 0);
  EXPECT_LE(to_idle, 16);
}

TEST_F(MidiStatusTest, LevelsBetweenUpdatesJoinUpWithTheNextUpdate) {
  event(note_on(60, 127));
  const auto& env = midi.adsr1;
  // Attack and release: the level read per frame rises or falls by the same step everywhere,
  // also from the last frame of one update to the first of the next.
  for (bool release : {false, true}) {
    SCOPED_TRACE(release ? "release" : "attack");
    if (release) {
      for (int i = 0; i < 1000; ++i) midi.update(8, FRAMERATE);
      event(note_off(60));
    }
    const double slope = 2 * env.output.rate;  // per output frame
    ASSERT_NE(slope, 0);
    double last = env.level_at(0);
    for (int step = 0; step < 10; ++step) {
      for (int i = step == 0 ? 1 : 0; i < 8; ++i) {
        const double level = env.level_at(i);
        EXPECT_NEAR(level - last, slope, 1e-12) << "step " << step << " frame " << i;
        last = level;
      }
      midi.update(8, FRAMERATE);
    }
  }
}

TEST_F(MidiStatusTest, VelocityScalesThePeakOfBothEnvelopes) {
  for (int velocity : {1, 32, 127}) {
    SCOPED_TRACE(velocity);
    midi = MidiStatus();
    event(note_on(60, velocity));
    EXPECT_DOUBLE_EQ(midi.adsr1.output.target, velocity / 128.0);
    EXPECT_DOUBLE_EQ(midi.adsr2.output.target, velocity / 128.0);
  }
}

TEST_F(MidiStatusTest, ANoteLaterInTheBlockWaitsWithTheOutputHeld) {
  event(note_on(60, 100, 0, 64));
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Waiting);
  EXPECT_LT(midi.adsr1.time, 0);
  midi.update(8, FRAMERATE);
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Waiting);
  EXPECT_EQ(midi.adsr1.output.current, 0);
  // The envelope starts no later than the note's own frame.
  const long waited = frames_until([&] { return midi.adsr1.state != MidiStatus::ADSR::Waiting; }, 64);
  EXPECT_GE(waited, 0);
  midi.update(8, FRAMERATE);
  EXPECT_GT(midi.adsr1.output.current, 0);
}

TEST_F(MidiStatusTest, ANewNoteContinuesFromTheEnvelopesPresentLevel) {
  event(note_on(60, 127));
  frames_until([&] { return midi.adsr1.state == MidiStatus::ADSR::Sustain; }, 44100);
  event(note_off(60));
  for (int i = 0; i < 100; ++i) midi.update(8, FRAMERATE);
  const double level = midi.adsr1.output.current;
  ASSERT_GT(level, 0.1);
  ASSERT_LT(level, 0.8);
  event(note_on(62, 127));
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Attack);
  EXPECT_EQ(midi.adsr1.output.current, level);
  midi.update(8, FRAMERATE);
  EXPECT_GT(midi.adsr1.output.current, level);
}

TEST_F(MidiStatusTest, WithoutASoundNotesTransposeButDoNotStartTheEnvelopes) {
  event(note_on(72, 100), false);
  EXPECT_FALSE(midi.enabled);
  EXPECT_EQ(midi.note, 72);
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Idle);
  EXPECT_EQ(midi.adsr2.state, MidiStatus::ADSR::Idle);
  for (int i = 0; i < 100; ++i) midi.update(8, FRAMERATE);
  EXPECT_EQ(midi.adsr1.output.current, 0);

  // A sound becomes ready while a note sounds: the next note starts the envelopes.
  event(note_on(74, 100), true);
  EXPECT_TRUE(midi.enabled);
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Attack);
  // The sound goes away: a note-off stops both envelopes at once.
  event(note_off(74), false);
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Idle);
  EXPECT_EQ(midi.adsr1.time, 0);
}

TEST_F(MidiStatusTest, EventsOtherThanNotesAreIgnored) {
  Midi::Event e = note_on(60);
  e.type = 0xA0;
  event(e);
  EXPECT_TRUE(midi.notes.empty());
  EXPECT_EQ(midi.adsr1.state, MidiStatus::ADSR::Idle);
  EXPECT_TRUE(midi.enabled);
}

}  // namespace
}  // namespace korvel::vimble

namespace korvel::vimble {
namespace {

// The engine gates its grains with the square of the first envelope: over a constant sound the
// output during the attack follows that curve sample by sample, without steps at the updates.
TEST(MidiGateTest, TheAttackGatesTheGrainsWithoutSteps) {
  auto pack = std::make_shared<audio::SoundPack>(L"constant");
  const size_t frames = 44100;
  pack->format.samplerate = 44100;
  pack->format.channels = 2;
  pack->framecount = frames;
  pack->samples.assign((frames + audio::SoundPack::GUARD_FRAMES) * 2, 0.5f);
  pack->status = audio::SoundPack::Ready;

  auto synth = std::make_unique<Synth>();
  synth->set_framerate(FRAMERATE);
  synth->set_sound(pack);
  synth->start();
  std::vector<float> left(256), right(256);
  auto render = [&] {
    std::fill(left.begin(), left.end(), 0.f);
    std::fill(right.begin(), right.end(), 0.f);
    float* outputs[2] = {left.data(), right.data()};
    synth->generate(outputs, outputs, 256);
  };
  for (int block = 0; block < 100; ++block) render();
  ASSERT_GT(std::fabs(left[100]), 0.05);

  synth->midi_event(note_on(60, 127));
  render();
  // The attack takes 275 frames on the double-speed clock; look at its first 240.
  double largest = 0;
  for (size_t i = 2; i < 240; ++i) {
    largest = std::max(largest, std::fabs(double(left[i]) - 2 * left[i - 1] + left[i - 2]));
  }
  EXPECT_LT(largest, 1e-3);
  EXPECT_GT(left[239], left[100]);
}

}  // namespace
}  // namespace korvel::vimble
