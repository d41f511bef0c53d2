// Tests of patches: storing the instrument's settings into slots and applying them.
#include "synth/patch.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "synth/synth.h"
#include "synth/synth_params.h"

namespace korvel::vimble {
namespace {

using PI = ParamInfo;
using PC = ParamControl;

struct SoundRequest {
  std::wstring name;
  int patch;
  double t;
  int group;
};

struct Listener : ISynthParamListener {
  explicit Listener(int groups) { listen_groups = groups; }
  int param_id() const override { return 360; }
  void synthParamsUpdated(int code) override { codes.push_back(code); }
  std::vector<int> codes;
};

class PatchTest : public testing::Test {
 protected:
  void SetUp() override {
    params.resize_patches(130);
    params.load_soundfile = [this](const std::wstring& name, int patch, double t, int group) {
      requests.push_back({name, patch, t, group});
    };
  }
  void set_sound(uint64_t frames, const wchar_t* name) {
    packs.push_back(std::make_shared<audio::SoundPack>(name));
    packs.back()->framecount = frames;
    synth.stream.sound.set(&packs.back());
    params.set_sound_range(static_cast<double>(frames));
  }
  double target(int id) const { return params.get(id).second; }
  double current(int id) const { return params.get(id).first; }
  // A setting that differs from the defaults in every group, stored into slot i.
  void store_changed_settings(size_t i) {
    params.changeValue(4, 100, 0);     // play/grain
    params.changeValue(16, 3000, 0);   // effects
    params.changeValue(28, 50, 0);     // envelope
    params.changeValue(93, PC::CT_LFO, 0);  // a controller on "grain.length"
    params.changeValue(94, 0.7, 0);
    params.changeValue(97, 5, 0);
    params.changeValue(56, 3, 0);      // an option
    params.storeCurrentPatch(i, PatchParam::Mode_Target, PI::PG_All);
    params.setDefaultPatch(0, PI::PG_Synth | PI::PG_Effects | PI::PG_Controls | PI::PG_ADSR);
    params.changeValue(56, 1, 0);
    ASSERT_EQ(current(4), 20);
  }

  std::vector<std::shared_ptr<audio::SoundPack>> packs;  // outlive the engine pointing at them
  Synth synth;
  SynthParams& params = synth.params;
  std::vector<SoundRequest> requests;
};

TEST_F(PatchTest, StoreWritesValuesControllersTimestampAndOptions) {
  params.changeValue(4, 100, 0);
  params.changeValue(93, PC::CT_Random, 0);
  params.changeValue(94, 0.7, 0);
  const auto before = static_cast<double>(std::time(nullptr));
  params.storeCurrentPatch(3, PatchParam::Mode_Target, PI::PG_Synth);
  const SynthParams::Patch& p = params.patches[3];
  EXPECT_EQ(p.params[4].value, 100);
  EXPECT_EQ(p.params[5].controllers[0].type, PC::CT_Random);
  EXPECT_EQ(p.params[5].controllers[0].amount, 0.7);
  EXPECT_GE(p.params[55].value, before);
  EXPECT_EQ(p.params[56].value, 0);  // options only with their group
  EXPECT_TRUE(params.isValidPatch(3));
  params.storeCurrentPatch(3, PatchParam::Mode_Target, PI::PG_All);
  const SynthParams::Patch& q = params.patches[3];  // a store replaces the slot's snapshot
  EXPECT_EQ(q.params[56].value, 1);
  EXPECT_EQ(q.params[57].value, 1);
  EXPECT_EQ(q.params[59].value, 0);  // never written by a store
  // Out of range: nothing.
  params.storeCurrentPatch(130, PatchParam::Mode_Target, PI::PG_All);
  EXPECT_FALSE(params.isValidPatch(130));
  EXPECT_FALSE(params.isValidPatch(4));
}

TEST_F(PatchTest, StoreKeepsTheSoundNameWithoutASound) {
  params.patches.edit(2, [](SynthParams::Patch& p) { p.soundfile = L"old.wav"; });
  params.storeCurrentPatch(2, PatchParam::Mode_Target, PI::PG_All);
  EXPECT_EQ(params.patches[2].soundfile, L"old.wav");
  set_sound(1000, L"new.wav");
  params.storeCurrentPatch(2, PatchParam::Mode_Target, PI::PG_All);
  EXPECT_EQ(params.patches[2].soundfile, L"new.wav");
  params.patches.replace(2, SynthParams::Patch{});
  EXPECT_TRUE(params.patches[2].soundfile.empty());
  EXPECT_FALSE(params.isValidPatch(2));
}

TEST_F(PatchTest, ApplyByGroup) {
  struct Case {
    const char* name;
    int group;
    bool globals_option;  // "apply.patch_globals" on
    bool values, effects, controls, adsr;
  };
  const Case cases[] = {
      {"default mask", PI::PG_ApplyMask, false, true, true, true, false},
      {"mask with globals", PI::PG_ApplyMask, true, true, true, true, true},
      {"all", PI::PG_All, false, true, true, true, true},
      {"synth only", PI::PG_Synth, false, true, true, false, false},
      {"without controls", PI::PG_Synth | PI::PG_Effects | PI::PG_Sound, false, true, true, false, false},
  };
  store_changed_settings(5);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    params.set_option(61, c.globals_option ? 1 : 0);
    params.setDefaultPatch(0, PI::PG_Synth | PI::PG_Effects | PI::PG_Controls | PI::PG_ADSR);
    params.applyPatch(5, -1, c.group);
    EXPECT_EQ(current(4), c.values ? 100 : 20);
    EXPECT_EQ(current(16), c.effects ? 3000 : 1200);
    EXPECT_EQ(params.params[5].control(0)->type, c.controls ? PC::CT_LFO : PC::CT_None);
    if (c.controls) {
      EXPECT_DOUBLE_EQ(params.params[5].control(0)->amount.current, 0.7);
      EXPECT_DOUBLE_EQ(params.params[5].control(0)->par3().current, 5);
    }
    EXPECT_EQ(current(28), c.adsr ? 50 : 12.5);
    EXPECT_EQ(target(56), 1);  // options are never applied
  }
}

TEST_F(PatchTest, ApplyWithoutControlsMovesBaseValuesOnly) {
  store_changed_settings(5);
  params.changeValue(83, PC::CT_Random, 0);  // a controller the patch does not have
  params.set_option(60, 0);
  EXPECT_EQ(params.apply_mask, PI::PG_Sound | PI::PG_Synth | PI::PG_Effects);
  params.applyPatch(5, -1, PI::PG_ApplyMask);
  EXPECT_EQ(current(4), 100);
  EXPECT_EQ(params.params[4].control(0)->type, PC::CT_Random);
  EXPECT_EQ(params.params[5].control(0)->type, PC::CT_None);
}

TEST_F(PatchTest, GlidesWhilePlayingAndNotifies) {
  Listener grid(PI::PG_Patches | PI::PG_Synth);
  params.addListener(&grid);
  store_changed_settings(5);
  grid.codes.clear();
  synth.stream.state = 4;  // playing: "apply.changetime" of 1 s
  params.applyPatch(5, -1, PI::PG_All);
  EXPECT_EQ(current(4), 20);
  EXPECT_DOUBLE_EQ(params.params[4].rate, 80);
  EXPECT_EQ(grid.codes, std::vector<int>{PI::PG_All | PI::PG_ValuesChanged});
  synth.stream.state = 0;
  // Empty slots and slots out of range change nothing.
  params.applyPatch(6, 0, PI::PG_All);
  params.applyPatch(500, 0, PI::PG_All);
  EXPECT_EQ(grid.codes.size(), 1u);
}

TEST_F(PatchTest, PatchWithAnotherSoundWaitsForIt) {
  set_sound(100000, L"a.wav");
  params.changeValue(0, 5000, 0);
  params.changeValue(1, 60000, 0);
  params.changeValue(4, 100, 0);
  params.storeCurrentPatch(7, PatchParam::Mode_Target, PI::PG_All);
  params.patches.edit(7, [](SynthParams::Patch& p) { p.soundfile = L"b.wav"; });
  params.setDefaultPatch(0, PI::PG_Synth);
  params.applyPatch(7, 0.5, PI::PG_ApplyMask);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].name, L"b.wav");
  EXPECT_EQ(requests[0].patch, 7);
  EXPECT_EQ(requests[0].t, 0.5);
  EXPECT_EQ(requests[0].group, 15 | PI::PG_ValuesChanged);
  EXPECT_EQ(current(4), 20);  // nothing applied yet
  // Once the engine installed the sound it applies the slot again: now everything comes.
  set_sound(80000, L"b.wav");
  params.changeValue(0, 0, 0);
  params.changeValue(1, 80000, 0);
  params.applyPatch(7, 0, requests[0].group);
  EXPECT_EQ(requests.size(), 1u);
  EXPECT_EQ(current(4), 100);
  EXPECT_EQ(current(0), 5000);
  EXPECT_EQ(current(1), 60000);
}

TEST_F(PatchTest, SelectionRules) {
  struct Case { double start, end, frames, want_start, want_end; };
  const Case cases[] = {
      {5000, 5050, 100000, 0, 5050},  // too short a selection: from the start
      {1000, 0, 100000, 1000, 100000},  // no end: the whole sound
      {1000, 20000, 100000, 1000, 20000},
      {99950, 100000, 100000, 0, 100000},
      {10, 200000, 100000, 10, 100000},  // an end past the sound stops at its end
  };
  for (const auto& c : cases) {
    set_sound(static_cast<uint64_t>(c.frames), L"s.wav");
    params.patches.replace(9, SynthParams::Patch{});
    params.storeCurrentPatch(9, PatchParam::Mode_Target, PI::PG_All);
    params.patches.edit(9, [&c](SynthParams::Patch& p) {
      p.params[0].value = c.start;
      p.params[1].value = c.end;
    });
    params.applyPatch(9, 0, PI::PG_All);
    EXPECT_EQ(current(0), c.want_start) << c.start << ".." << c.end;
    EXPECT_EQ(current(1), c.want_end) << c.start << ".." << c.end;
  }
  // Without a sound the selection is cleared, whatever the group.
  Synth silent;
  silent.params.resize_patches(2);
  silent.params.changeValue(1, 500, 0);
  silent.params.storeCurrentPatch(1, PatchParam::Mode_Target, PI::PG_All);
  silent.params.applyPatch(1, 0, PI::PG_Synth);
  EXPECT_EQ(silent.params.get(1).first, 0);
}

TEST_F(PatchTest, ResizeKeepsSlotsAndAddsEmptyOnes) {
  params.storeCurrentPatch(1, PatchParam::Mode_Target, PI::PG_All);
  params.resize_patches(2);
  EXPECT_TRUE(params.isValidPatch(1));
  EXPECT_FALSE(params.isValidPatch(2));
  params.resize_patches(10);
  EXPECT_TRUE(params.isValidPatch(1));
  EXPECT_FALSE(params.isValidPatch(9));
}

}  // namespace
}  // namespace korvel::vimble
