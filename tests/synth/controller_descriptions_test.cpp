// Tests of the controller descriptions and the controller bridge.
#include "synth/controller_descriptions.h"

#include <gtest/gtest.h>

#include "synth/synth.h"

namespace korvel::vimble {
namespace {

using PC = ParamControl;

TEST(ControllerDescriptions, Table) {
  struct Case { PC::Type type; PC::SubIndex sub; double value, min, max; ParamInfo::Scaling_Type scaling; bool has_object; };
  const Case cases[] = {
      {PC::CT_None, PC::SI_Amount, 0, 0, 1, ParamInfo::ST_Cubic, true},
      {PC::CT_Random, PC::SI_Amount, 0.5, 0, 1, ParamInfo::ST_Absolute, true},
      {PC::CT_Random, PC::SI_Y, 0.5, 0, 1, ParamInfo::ST_Inverse, true},
      {PC::CT_AmpNoise, PC::SI_X, 0, -3000, 3000, ParamInfo::ST_Cubic, true},
      {PC::CT_LFO, PC::SI_Par3, 1, 0, 100, ParamInfo::ST_Cubic, true},
      {PC::CT_LFO, PC::SI_X, 0, -1, 1, ParamInfo::ST_Linear, true},
      {PC::CT_MIDI, PC::SI_Amount, 0.5, -1, 1, ParamInfo::ST_Linear, true},
      {PC::CT_ADSR, PC::SI_X, 0.5, 0, 1, ParamInfo::ST_Linear, true},
      {PC::CT_Inner2, PC::SI_X, 0, 0, 0, ParamInfo::ST_None, false},
      {PC::CT_Inner3, PC::SI_Par3, 0, 0, 1, ParamInfo::ST_Cubic, true},
  };
  for (const auto& c : cases) {
    const ScalingInfo& d = ControllerBridge::getControlInfo(c.type, c.sub);
    SCOPED_TRACE(testing::Message() << "type " << c.type << " sub " << c.sub);
    EXPECT_DOUBLE_EQ(d.defaults.value, c.value);
    EXPECT_DOUBLE_EQ(d.defaults.min, c.min);
    EXPECT_DOUBLE_EQ(d.defaults.max, c.max);
    EXPECT_EQ(d.defaults.scaling_type, c.scaling);
    EXPECT_EQ(d.scaling != nullptr, c.has_object);
  }
  // Made once and shared.
  EXPECT_EQ(&ControllerBridge::getControlInfo(PC::CT_LFO, PC::SI_Par3),
            &ControllerBridge::getControlInfo(PC::CT_LFO, PC::SI_Par3));
}

class BridgeTest : public testing::Test {
 protected:
  // A bridge on slot 0 of "grain.pan" with type t's defaults sent to the store.
  ControllerBridge bridge(PC::Type t) {
    ControllerBridge b(&synth.params.params[12], 0);
    ControllerBridge::set_controller_defaults(t, b);
    b.send_to_synth();
    return b;
  }
  Synth synth;
};

TEST_F(BridgeTest, LfoDefaultsFadeIn) {
  synth.stream.state = 4;  // playing: "apply.changetime" (1 s) is the glide time
  ControllerBridge b = bridge(PC::CT_LFO);
  EXPECT_EQ(b.get_id(), 138);
  EXPECT_EQ(b.type(), PC::CT_LFO);
  EXPECT_EQ(b.synth_params(), &synth.params);
  const Controller& live = *synth.params.params[12].control(0);
  EXPECT_DOUBLE_EQ(live.par3().current, 1);   // at once
  EXPECT_DOUBLE_EQ(live.amount.current, 0);   // fades in
  EXPECT_DOUBLE_EQ(live.amount.target, 0.5);
  EXPECT_DOUBLE_EQ(live.amount.rate, 0.5);
  b.set_param(2, 0.5);
  EXPECT_DOUBLE_EQ(b.param_raw(2), 12.5);
  EXPECT_DOUBLE_EQ(live.par3().target, 12.5);
  EXPECT_DOUBLE_EQ(b.param(2), 0.5);
  EXPECT_DOUBLE_EQ(b.amount(), 0.5);
  // A copy keeps the slot, not the working copy.
  ControllerBridge copy(b);
  EXPECT_EQ(copy.control, b.control);
  EXPECT_EQ(copy.control_patch.type, PC::CT_None);
  copy.read_from_synth();
  EXPECT_EQ(copy.control_patch.type, PC::CT_LFO);
  EXPECT_DOUBLE_EQ(copy.param(2), 0.5);
}

TEST_F(BridgeTest, EditsConvertWithTheTypesDescriptions) {
  struct Case { PC::Type type; bool amount; unsigned i; double n, stored; };
  const Case cases[] = {
      {PC::CT_AmpNoise, false, 0, 0.75, 375},  // bipolar cubic offset, ms
      {PC::CT_Random, false, 1, 0.25, 0.75},   // inverse spread
      {PC::CT_Random, true, 0, -0.5, 0.5},     // absolute depth
      {PC::CT_MIDI, true, 0, -0.5, -1},        // bipolar, clamped
      {PC::CT_Inner1, false, 0, 16, 16},       // a parameter id, unchanged
  };
  for (const auto& c : cases) {
    ControllerBridge b = bridge(c.type);
    if (c.amount) {
      b.set_amount(c.n);
      EXPECT_DOUBLE_EQ(b.control_patch.amount, c.stored) << c.type;
      EXPECT_DOUBLE_EQ(b.control->amount.target, c.stored) << c.type;
    } else {
      b.set_param(c.i, c.n);
      EXPECT_DOUBLE_EQ(b.param_raw(c.i), c.stored) << c.type;
      EXPECT_DOUBLE_EQ(b.control->params[c.i].current, c.stored) << c.type;  // not playing: at once
    }
  }
}

}  // namespace
}  // namespace korvel::vimble
