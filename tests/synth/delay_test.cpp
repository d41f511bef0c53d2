// The shared delay line and the grains' sends into it.
#include <gtest/gtest.h>

#include <vector>

#include "synth/delay.h"
#include "synth/delay_buffer.h"

namespace korvel::vimble {
namespace {

TEST(DelayBuffer, ResizeRoundsToWholeStepsAndKeepsValues) {
  DelayBuffer line;
  line.resize(100, 8);
  EXPECT_EQ(line.size, 208u);
  EXPECT_EQ(line.data.size(), 214u);
  line.data[10] = 0.5;
  line.resize(200, 8);
  EXPECT_EQ(line.size, 400u);
  EXPECT_EQ(line.data[10], 0.5);
  EXPECT_EQ(line.data[300], 0.0);
}

TEST(DelayBuffer, ShrinkingBringsAReadPositionOutsideTheRingBackToZero) {
  DelayBuffer line;
  line.resize(1000, 8);
  line.pos = 1600;
  line.resize(400, 8);
  EXPECT_EQ(line.pos, 0u);
  float left[8] = {}, right[8] = {};
  line.output(left, right, 8);  // reads inside the ring
  EXPECT_EQ(line.pos, 16u);
}

TEST(DelayBuffer, IsReadOnceAndCleared) {
  DelayBuffer line;
  line.resize(16, 8);
  line.data[2] = 0.5;   // frame 1, left
  line.data[19] = 0.25;  // frame 9, right
  float left[8] = {}, right[8] = {};
  line.output(left, right, 8);
  EXPECT_FLOAT_EQ(left[1], 0.5f);
  EXPECT_EQ(line.data[2], 0.0);
  line.output(left, right, 8);
  EXPECT_FLOAT_EQ(right[1], 0.25f);
  EXPECT_EQ(line.pos, 0u) << "the read position wraps after the ring's last step";
  float again_left[8] = {}, again_right[8] = {};
  line.output(again_left, again_right, 8);
  EXPECT_EQ(again_left[1], 0.0f) << "what is not written again does not come back";
}

TEST(DelaySend, EchoLandsTwiceTheWriteDistanceLater) {
  DelayBuffer line;
  line.resize(441000, 8);
  Delay send;
  send.init(&line, 100, 0.5, 0.5);
  EXPECT_EQ(send.offset, 200.0);
  send.generate(1.0, 1.0, 0.0, 0.0, 3);
  // Written at frame 3 + 200: value index 2 * 203.
  EXPECT_DOUBLE_EQ(line.data[2 * 203], 0.5 * 0.5 * 1.0);
  for (size_t i = 0; i < line.size; ++i)
    if (i != 2 * 203) {
      ASSERT_EQ(line.data[i], 0.0) << i;
    }
}

TEST(DelaySend, NoFeedbackMeansNoSend) {
  DelayBuffer line;
  line.resize(1000, 8);
  Delay send;
  send.init(&line, 10, 0.0, 0.0);
  EXPECT_FALSE(send.active());
  send.init(&line, 10, 0.5, 0.02);
  EXPECT_FALSE(send.active()) << "sends below 0.03 are off";
  send.init(nullptr, 10, 0.5, 0.5);
  EXPECT_FALSE(send.active());
  EXPECT_EQ(send.feedback, 0.0);
}

TEST(DelaySend, AWriteAtTheRingsStartIsMirroredIntoTheGuard) {
  DelayBuffer line;
  line.resize(16, 8);
  line.pos = 16;  // frame 8: a write 8 frames later lands at frame 0
  Delay send;
  send.init(&line, 4, 0.9, 0.9);
  send.generate(1.0, 1.0, 1.0, 1.0, 0);
  EXPECT_NE(line.data[0], 0.0);
  EXPECT_EQ(line.data[line.size], line.data[0]);
  EXPECT_EQ(line.data[line.size + 1], line.data[1]);
}

// A value written behind the read position waits one full turn of the ring.
TEST(DelaySend, ReadsTheFrameAfterTheCurrentOneAndWaitsAFullTurn) {
  DelayBuffer line;
  line.resize(32, 8);
  line.data[2] = 0.4;  // frame 1
  Delay send;
  send.init(&line, 1, 0.5, 0.5);
  // Sample 0 reads frame 1 (what the line outputs one frame later) and re-writes it.
  send.generate(0.0, 1.0, 0.0, 1.0, 0);
  EXPECT_DOUBLE_EQ(line.data[2 * 2], 0.5 * 0.5 * 0.4) << "written at frame 0 + 2";
  float left[8] = {}, right[8] = {};
  line.output(left, right, 8);
  line.data[0] = 0.3;  // frame 0 was read in this turn
  for (int turn = 0; turn < 3; ++turn) line.output(left, right, 8);
  float l[8] = {}, r[8] = {};
  line.output(l, r, 8);
  EXPECT_FLOAT_EQ(l[0], 0.3f) << "read after one full turn";
}

}  // namespace
}  // namespace korvel::vimble
