// Tests of gliding values, synthesis parameters and controller slots.
#include "synth/base_param.h"

#include <gtest/gtest.h>

#include "synth/param_info.h"

namespace korvel::vimble {
namespace {

using PC = ParamControl;

TEST(BaseParam, GlideLaw) {
  BaseParam p;
  p.set_target(5, 1);
  EXPECT_DOUBLE_EQ(p.rate, 5);
  EXPECT_DOUBLE_EQ(p.current, 0);
  p.update(0.5);
  EXPECT_DOUBLE_EQ(p.current, 2.5);
  p.update(0.6);
  EXPECT_DOUBLE_EQ(p.current, 5);
  EXPECT_DOUBLE_EQ(p.rate, 0);

  struct Case { double from, to, t, current_after_set; };
  const Case immediate[] = {{0, 3, 0.004, 3},      // shorter than the shortest glide
                            {2, 2 + 5e-6, 10, 2 + 5e-6},  // within eps: at once
                            {1, -1, 0, -1}};
  for (const auto& c : immediate) {
    BaseParam q(c.from);
    q.set_target(c.to, c.t);
    EXPECT_DOUBLE_EQ(q.current, c.current_after_set) << c.to;
    EXPECT_DOUBLE_EQ(q.rate, 0);
    EXPECT_DOUBLE_EQ(q.target, c.to);
  }
  // Downwards, ending within eps of the target.
  BaseParam down(1);
  down.set_target(0, 0.5);
  down.update(0.25);
  EXPECT_DOUBLE_EQ(down.current, 0.5);
  down.update(0.2499999);
  EXPECT_DOUBLE_EQ(down.current, 0);
  EXPECT_DOUBLE_EQ(down.rate, 0);
  // dt 0 changes nothing.
  down.set_target(1, 1);
  down.update(0);
  EXPECT_DOUBLE_EQ(down.current, 0);
}

TEST(BaseParam, SampleValueNeverOvershoots) {
  for (double to : {-3.0, 3.0}) {
    BaseParam p(0);
    p.set_target(to, 1);
    EXPECT_DOUBLE_EQ(p.sample_value(0.5), to / 2);
    EXPECT_DOUBLE_EQ(p.sample_value(7), to);
    EXPECT_DOUBLE_EQ(p.current, 0);  // sampling changes nothing
  }
  BaseParam rest(2);
  EXPECT_DOUBLE_EQ(rest.sample_value(1), 2);
}

TEST(BaseParam, FadeOut) {
  BaseParam p(1);
  p.fade_out(1);
  EXPECT_DOUBLE_EQ(p.rate, -1);
  p.fade_out(10);  // a fade to 0 is under way: a slower one is not started
  EXPECT_DOUBLE_EQ(p.rate, -1);
  p.update(0.5);
  EXPECT_DOUBLE_EQ(p.current, 0.5);
  p.fade_out(0.1);  // nor a faster one
  EXPECT_DOUBLE_EQ(p.rate, -1);
  p.set_target(2, 1);  // once it glides elsewhere, a fade starts again
  p.fade_out(0.1);
  EXPECT_DOUBLE_EQ(p.rate, -5);
  BaseParam zero(0);
  zero.fade_out(1);
  EXPECT_DOUBLE_EQ(zero.rate, 0);
}

TEST(BaseParam, CrossedWritesStillEndAtTheLatestTarget) {
  // What a glide step of the audio thread can leave when it crosses a write from another
  // thread: a rate pointing away from the target, or a value left off its target at rest.
  BaseParam away(5);
  away.target = 2;
  away.rate = 3;
  away.update(0.1);
  EXPECT_DOUBLE_EQ(away.current, 2);
  EXPECT_DOUBLE_EQ(away.rate, 0);
  BaseParam stranded(5);
  stranded.target = 7;
  stranded.update(0.1);
  EXPECT_DOUBLE_EQ(stranded.current, 7);
}

class ParamTest : public testing::Test {
 protected:
  void SetUp() override { rate.init(ParamInfo::getParamInfo(2)); }  // two slots
  Controller& record(size_t k, size_t push) { return *rate.pushed_control(k, push); }
  void start(size_t k, PC::Type type, double x) {
    PatchParam::PatchController pc;
    pc.type = type;
    pc.amount = 0.5;
    pc.params[0] = x;
    rate.apply_control_patch(k, pc, 0);
  }
  Param rate;
};

TEST_F(ParamTest, InitAndSlots) {
  EXPECT_EQ(rate.id, 2);
  EXPECT_DOUBLE_EQ(rate.current, 1);
  EXPECT_EQ(rate.nof_controls, 2);
  EXPECT_EQ(rate.control(0)->first_id, 63);
  EXPECT_EQ(rate.control(1)->first_id, 68);
  EXPECT_EQ(rate.pushed_control(1, 2)->first_id, 68);
  EXPECT_EQ(rate.control(2), nullptr);
  Param pan;
  pan.init(ParamInfo::getParamInfo(12));
  EXPECT_EQ(pan.control(1), nullptr);
  EXPECT_EQ(pan.control(0)->first_id, 138);
  // Without a store, a plain assignment applies at once.
  pan = 0.7;
  EXPECT_DOUBLE_EQ(pan.current, 0.7);
}

TEST_F(ParamTest, TypeChangesPushAndRevive) {
  start(0, PC::CT_Random, 0.3);
  EXPECT_EQ(record(0, 0).type, PC::CT_Random);
  EXPECT_DOUBLE_EQ(record(0, 0).x().current, 0.3);  // a fresh controller takes x at once
  rate.update(0.001);
  EXPECT_EQ(rate.set_control_type(0, PC::CT_Random, 1), 0);
  EXPECT_EQ(rate.set_control_type(0, PC::CT_LFO, 1), 2);
  EXPECT_EQ(record(0, 0).type, PC::CT_LFO);
  EXPECT_DOUBLE_EQ(record(0, 0).amount.current, 0);  // fresh: fades in from 0
  EXPECT_DOUBLE_EQ(record(0, 0).x().current, 0);
  EXPECT_EQ(record(0, 1).type, PC::CT_Random);
  EXPECT_DOUBLE_EQ(record(0, 1).amount.rate, -0.5);  // fading out over 1 s
  rate.update(0.2);
  // Back to Random within the glide time: the old controller returns with its settings.
  EXPECT_EQ(rate.set_control_type(0, PC::CT_Random, 1), 1);
  EXPECT_EQ(record(0, 0).type, PC::CT_Random);
  EXPECT_DOUBLE_EQ(record(0, 0).x().current, 0.3);
  EXPECT_EQ(record(0, 1).type, PC::CT_LFO);
  // Three more types: only the two most recent older controllers remain.
  rate.set_control_type(0, PC::CT_MIDI, 1);
  rate.set_control_type(0, PC::CT_ADSR, 1);
  EXPECT_EQ(record(0, 0).type, PC::CT_ADSR);
  EXPECT_EQ(record(0, 1).type, PC::CT_MIDI);
  EXPECT_EQ(record(0, 2).type, PC::CT_Random);
  // A type still in the oldest record comes back from there.
  EXPECT_EQ(rate.set_control_type(0, PC::CT_Random, 1), 1);
  EXPECT_EQ(record(0, 0).type, PC::CT_Random);
  EXPECT_EQ(record(0, 1).type, PC::CT_ADSR);
  EXPECT_EQ(record(0, 2).type, PC::CT_MIDI);
  // From an empty slot the type is simply set.
  EXPECT_EQ(rate.set_control_type(1, PC::CT_AmpNoise, 1), 2);
  EXPECT_EQ(record(1, 1).type, PC::CT_None);
}

TEST_F(ParamTest, UpdateClearsFinishedPushedRecordsAndAdvancesLfo) {
  start(0, PC::CT_LFO, 0);
  record(0, 0).par3().set_now(2);
  record(0, 0).state = 0.9;
  rate.update(0.1);
  EXPECT_NEAR(record(0, 0).state, 0.1, 1e-12);
  rate.set_control_type(0, PC::CT_Random, 0.5);
  rate.update(0.25);
  EXPECT_EQ(record(0, 1).type, PC::CT_LFO);
  rate.update(0.25);  // the fade ends: amount exactly 0 at rest, and the record is cleared
  EXPECT_EQ(record(0, 1).type, PC::CT_None);
  EXPECT_DOUBLE_EQ(record(0, 1).par3().current, 0);
  // A live record with amount 0 stays.
  EXPECT_EQ(record(0, 0).type, PC::CT_Random);
  rate.update(1);
  EXPECT_EQ(record(0, 0).type, PC::CT_Random);
}

TEST_F(ParamTest, ApplyControlPatch) {
  start(0, PC::CT_Random, 0.3);
  PatchParam::PatchController bad;
  bad.type = 9;
  bad.amount = 1;
  rate.apply_control_patch(0, bad, 0);
  EXPECT_EQ(record(0, 0).type, PC::CT_Random);
  EXPECT_DOUBLE_EQ(record(0, 0).amount.target, 0.5);
  // Same type: the values glide.
  PatchParam::PatchController same;
  same.type = PC::CT_Random;
  same.amount = 1;
  same.params[0] = 0.7;
  rate.apply_control_patch(0, same, 2);
  EXPECT_DOUBLE_EQ(record(0, 0).x().current, 0.3);
  EXPECT_DOUBLE_EQ(record(0, 0).x().target, 0.7);
  // None: the live controller is pushed aside and fades out.
  rate.apply_control_patch(0, PatchParam::PatchController{}, 1);
  EXPECT_EQ(record(0, 0).type, PC::CT_None);
  EXPECT_EQ(record(0, 1).type, PC::CT_Random);
  EXPECT_LT(record(0, 1).amount.rate, 0);
  EXPECT_DOUBLE_EQ(record(0, 1).amount.target, 0);
}

TEST_F(ParamTest, StoreAndLoad) {
  rate.set_target(3, 1);
  start(0, PC::CT_LFO, 0.25);
  PatchParam target, current;
  rate.store(target, PatchParam::Mode_Target);
  rate.store(current, PatchParam::Mode_Current);
  EXPECT_DOUBLE_EQ(target.value, 3);
  EXPECT_DOUBLE_EQ(current.value, 1);
  EXPECT_EQ(target.controllers[0].type, PC::CT_LFO);
  EXPECT_DOUBLE_EQ(target.controllers[0].params[0], 0.25);
  EXPECT_EQ(target.controllers[1].type, PC::CT_None);

  // A controller fading out while the live one is still silent is stored in its place; one
  // fading out beside a live one moves to the empty next slot.
  rate.set_control_type(0, PC::CT_Random, 1);
  PatchParam crossfade;
  rate.store(crossfade, PatchParam::Mode_Current);
  EXPECT_EQ(crossfade.controllers[0].type, PC::CT_LFO);
  EXPECT_EQ(crossfade.controllers[1].type, PC::CT_None);
  record(0, 0).amount.set_now(0.4);
  rate.store(crossfade, PatchParam::Mode_Current);
  EXPECT_EQ(crossfade.controllers[0].type, PC::CT_Random);
  EXPECT_EQ(crossfade.controllers[1].type, PC::CT_LFO);

  // Loading without a playing store applies at once.
  Param other;
  other.init(ParamInfo::getParamInfo(2));
  other.load(target, 5);
  EXPECT_DOUBLE_EQ(other.current, 3);
  EXPECT_EQ(other.control(0)->type, PC::CT_LFO);
  EXPECT_DOUBLE_EQ(other.control(0)->amount.current, 0.5);
  EXPECT_DOUBLE_EQ(other.control(0)->x().current, 0.25);
}

}  // namespace
}  // namespace korvel::vimble
