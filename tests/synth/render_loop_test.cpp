// The render loop: block-size invariance, control updates, play position, the pool, the
// scalar and vector renderers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine_fixture.h"
#include "synth/grain_render.h"

namespace korvel::vimble {
namespace {

using testing::make_engine;
using testing::make_sound;
using testing::render;

struct Setting {
  int id;
  double value;
};

void apply(Synth& synth, const std::vector<Setting>& settings) {
  for (const Setting& s : settings) synth.params.changeValue(s.id, s.value, 0);
}

const std::vector<Setting> DENSE = {{4, 1500}, {5, 80}, {7, 8.02}, {8, 3}, {12, 0.3}};
const std::vector<Setting> EFFECTS = {{4, 900},  {5, 60},   {7, 8.02}, {13, 2},  {14, 6},
                                      {15, 20},  {18, 0.3}, {19, 0.2}, {20, 0.4}, {23, 3},
                                      {24, 0.6}, {12, 0.7}};
const std::vector<Setting> FAR_DELAY = {{4, 600}, {5, 120}, {14, 4}, {15, 0}, {18, 0.5},
                                        {23, 250}, {24, 0.8}, {10, 0.2}};
const std::vector<Setting> NEAR_DELAY = {{4, 800}, {5, 50}, {23, 0.05}, {24, 0.9}, {11, 2}};
const std::vector<Setting> FOLD_AND_FLAT = {{4, 400}, {5, 30},  {9, 0.1}, {10, 0.1},
                                            {13, 5},  {7, -3},  {14, 9},  {15, 0}};

TEST(RenderLoop, NothingIsWrittenBeforeASoundOrAfterStop) {
  Synth synth;
  synth.set_framerate(44100);
  synth.start();
  std::vector<float> left(64, 7.f), right(64, 7.f);
  float* outputs[2] = {left.data(), right.data()};
  synth.generate(nullptr, outputs, 64);
  EXPECT_EQ(left[0], 7.f);
  EXPECT_EQ(synth.stream.state.load(), 3);

  synth.set_sound(make_sound(44100));
  synth.generate(nullptr, outputs, 64);
  EXPECT_EQ(synth.stream.state.load(), 4);
  EXPECT_TRUE(synth.sound_ready());

  synth.stop();
  EXPECT_EQ(synth.stream.state.load(), 2);
  std::fill(left.begin(), left.end(), 7.f);
  synth.generate(nullptr, outputs, 64);
  EXPECT_EQ(left[10], 7.f);
}

// Without events the output is one sample stream whatever the host's block lengths.
TEST(RenderLoop, AnyBlockLengthGivesTheSameSamples) {
  for (const auto* settings : {&DENSE, &EFFECTS}) {
    std::vector<float> reference;
    for (int block : {4096, 1, 7, 64, 1000}) {
      auto synth = make_engine(make_sound(30000));
      apply(*synth, *settings);
      const auto out = render(*synth, 20000, block);
      if (reference.empty()) {
        reference = out.left;
        reference.insert(reference.end(), out.right.begin(), out.right.end());
        double energy = 0;
        for (float x : reference) energy += x * x;
        ASSERT_GT(energy, 1.0) << "the reference renders sound";
        continue;
      }
      std::vector<float> both = out.left;
      both.insert(both.end(), out.right.begin(), out.right.end());
      ASSERT_EQ(0, std::memcmp(both.data(), reference.data(), both.size() * sizeof(float)))
          << "block length " << block;
    }
  }
}

// The vector renderers give the scalar renderer's samples bit for bit.
TEST(RenderLoop, VectorRenderersMatchTheReference) {
  if (!cpu_has_avx2()) GTEST_SKIP() << "no AVX2 on this CPU";
  const RenderStepFn vector_renderer[] = {&render_step_avx2, &render_step_avx512};
  for (int kind = 0; kind < (cpu_has_avx512() ? 2 : 1); ++kind)
  for (unsigned channels : {1u, 2u, 3u}) {
    int index = 0;
    for (const auto* settings : {&DENSE, &EFFECTS, &FAR_DELAY, &NEAR_DELAY, &FOLD_AND_FLAT}) {
      const auto sound = make_sound(20000, channels);
      testing::Rendered out[2];
      for (int vector = 0; vector < 2; ++vector) {
        auto synth = make_engine(sound);
        synth->set_renderer(vector ? vector_renderer[kind] : &render_step_scalar);
        apply(*synth, *settings);
        out[vector] = render(*synth, 30000, 512);
      }
      double energy = 0;
      for (float x : out[0].left) energy += x * x;
      ASSERT_GT(energy, 1.0) << "channels " << channels << " setting " << index;
      for (int i = 0; i < 30000; ++i) {
        ASSERT_EQ(out[0].left[i], out[1].left[i])
            << "renderer " << kind << " channels " << channels << " setting " << index
            << " frame " << i;
        ASSERT_EQ(out[0].right[i], out[1].right[i])
            << "channels " << channels << " setting " << index << " frame " << i;
      }
      ++index;
    }
  }
}

// A sound with samples that are not numbers (a damaged float file) makes the grains that read
// them non-finite: those grains stop, nothing that is not a number reaches the output, the rest
// plays on, and the renderers still agree.
TEST(RenderLoop, GrainsThatTurnNonFiniteAreStopped) {
  auto sound = make_sound(20000);
  for (int i = 3000; i < 3010; ++i) sound->samples[2 * i] = std::nanf("");
  sound->samples[2 * 9000 + 1] = INFINITY;
  const std::vector<Setting> settings = {{4, 400}, {5, 50}, {18, 0.5}, {24, 0.9}, {23, 5}};
  testing::Rendered out[2];
  for (int vector = 0; vector < 2; ++vector) {
    auto synth = make_engine(sound);
    if (!vector) synth->set_renderer(&render_step_scalar);
    apply(*synth, settings);
    out[vector] = render(*synth, 20000, 256);
  }
  double energy = 0;
  for (int i = 0; i < 20000; ++i) {
    ASSERT_TRUE(std::isfinite(out[0].left[i]) && std::isfinite(out[0].right[i])) << i;
    ASSERT_EQ(out[0].left[i], out[1].left[i]) << i;
    ASSERT_EQ(out[0].right[i], out[1].right[i]) << i;
    if (i > 12000) energy += out[0].left[i] * out[0].left[i];
  }
  EXPECT_GT(energy, 1.0) << "grains after the damaged frames still sound";
}

}  // namespace
}  // namespace korvel::vimble
