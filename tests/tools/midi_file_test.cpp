// Standard MIDI File reading: tempo maps, running status, formats and damaged files.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/midi_file.h"

namespace {

// Builds a file from tracks of raw event bytes (deltas included).
std::vector<uint8_t> smf(int format, int division, const std::vector<std::vector<uint8_t>>& tracks) {
  std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, static_cast<uint8_t>(format), 0,
                              static_cast<uint8_t>(tracks.size()),
                              static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)};
  for (const auto& t : tracks) {
    const uint32_t n = static_cast<uint32_t>(t.size());
    out.insert(out.end(), {'M', 'T', 'r', 'k', static_cast<uint8_t>(n >> 24),
                           static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)});
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

const std::vector<uint8_t> END_OF_TRACK = {0x00, 0xFF, 0x2F, 0x00};

std::vector<uint8_t> join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(MidiFile, TypeZeroAtTheDefaultTempo) {
  // 480 ticks per quarter at 120 bpm: 480 ticks = 0.5 s. Running status on the second note-on.
  const auto file = smf(0, 480, {join({0x00, 0x90, 60, 100,       // t=0 note on
                                       0x83, 0x60, 0x80, 60, 0,   // +480: note off
                                       0x00, 0x90, 62, 90,        // t=480 note on
                                       0x83, 0x60, 64, 80},       // +480: running status note on
                                      END_OF_TRACK)});
  std::string error;
  auto song = vsthost::parse_midi_file(file, &error);
  ASSERT_TRUE(song) << error;
  ASSERT_EQ(song->messages.size(), 4u);
  const double expected[] = {0.0, 0.5, 0.5, 1.0};
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(song->messages[i].seconds, expected[i], 1e-9) << i;
  EXPECT_EQ(song->messages[3].status, 0x90);
  EXPECT_EQ(song->messages[3].data1, 64);
  EXPECT_NEAR(song->length_seconds, 1.0, 1e-9);
}

TEST(MidiFile, TypeOneFollowsTheTempoMapOfTheFirstTrack) {
  // Track 0: tempo 120 bpm, at tick 960 (1 s) the tempo becomes 60 bpm (1 000 000 us/quarter).
  const std::vector<uint8_t> tempo = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
                                      0x87, 0x40, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,
                                      0x00, 0xFF, 0x2F, 0x00};
  // Track 1: notes at ticks 480 (0.5 s), 960 (1 s) and 1440 (1 s + 480 ticks at 60 bpm = 2 s).
  const std::vector<uint8_t> notes = {0x83, 0x60, 0x90, 60, 100, 0x83, 0x60, 0x90, 62, 100,
                                      0x83, 0x60, 0x90, 64, 100, 0x00, 0xB0, 1,  64,
                                      0x00, 0xFF, 0x2F, 0x00};
  std::string error;
  auto song = vsthost::parse_midi_file(smf(1, 480, {tempo, notes}), &error);
  ASSERT_TRUE(song) << error;
  ASSERT_EQ(song->messages.size(), 4u);
  EXPECT_NEAR(song->messages[0].seconds, 0.5, 1e-9);
  EXPECT_NEAR(song->messages[1].seconds, 1.0, 1e-9);
  EXPECT_NEAR(song->messages[2].seconds, 2.0, 1e-9);
  EXPECT_EQ(song->messages[3].status, 0xB0);  // controllers pass through
  EXPECT_EQ(song->tracks, 2);
}

TEST(MidiFile, RefusesWhatIsNotAReadableFile) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"wrong magic", {'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 1, 0xE0}},
      {"type 2", smf(2, 480, {END_OF_TRACK})},
      {"no tracks", smf(0, 480, {})},
      {"division zero", smf(0, 0, {END_OF_TRACK})},
      {"data byte without status", smf(0, 480, {{0x00, 0x40, 0x40}})},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(vsthost::parse_midi_file(c.bytes, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(MidiFile, TruncatedTracksKeepWhatWasRead) {
  auto file = smf(0, 480, {{0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0}});
  file.resize(file.size() - 2);  // the chunk length now lies about the bytes left
  std::string error;
  auto song = vsthost::parse_midi_file(file, &error);
  ASSERT_TRUE(song) << error;
  EXPECT_EQ(song->messages.size(), 1u);
}

}  // namespace
