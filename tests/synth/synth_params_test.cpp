// Tests of the parameter store: host and editor paths, options, defaults, listeners and the
// per-instance change time, sound range and controller conversions.
#include "synth/synth_params.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "synth/controller_descriptions.h"
#include "synth/synth.h"

namespace korvel::vimble {
namespace {

using PI = ParamInfo;
using PC = ParamControl;

struct RecordingListener : ISynthParamListener {
  RecordingListener(int id, int groups) : id(id) { listen_groups = groups; }
  int param_id() const override { return id; }
  void synthParamsUpdated(int code) override { codes.push_back(code); }
  int id;
  std::vector<int> codes;
};

struct Report {
  int id;
  float value;
};

class StoreTest : public testing::Test {
 protected:
  void SetUp() override {
    params.automate = [this](int id, float n) { reports.push_back({id, n}); };
  }
  double target(int id) const { return params.get(id).second; }
  double current(int id) const { return params.get(id).first; }
  // The normalised value that gives the scaled value v on the host path.
  double normal(int id, double v) const { return params.scaled_to_normal(id, v); }
  void play() { synth.stream.state = 4; }
  void set_sound(uint64_t frames, const wchar_t* name = L"one.wav") {
    pack = std::make_shared<audio::SoundPack>(name);
    pack->framecount = frames;
    synth.stream.sound.set(&pack);
    params.set_sound_range(static_cast<double>(frames));
  }

  std::shared_ptr<audio::SoundPack> pack;  // outlives the engine that points at it
  Synth synth;
  SynthParams& params = synth.params;
  std::vector<Report> reports;
};

TEST_F(StoreTest, DefaultsAndQueries) {
  EXPECT_EQ(params.get(4), std::make_pair(20.0, 20.0));
  EXPECT_EQ(params.get(56), std::make_pair(1.0, 1.0));
  EXPECT_EQ(params.get(63), std::make_pair(0.0, 0.0));  // slot type: none
  for (int id : {173, 178, 179, -1, 180, 500}) {
    EXPECT_EQ(params.get(id), std::make_pair(0.0, 0.0)) << id;
    EXPECT_EQ(params.getNormalValue(id), 0) << id;
  }
  EXPECT_EQ(params.apply_mask, 15);
  EXPECT_EQ(params.patch_file, "./vimble.json");
  EXPECT_FALSE(params.is_playing());
  EXPECT_EQ(params.changerate(), 0);
  play();
  EXPECT_EQ(params.changerate(), 1);
  synth.stream.pos = 1234.7;
  EXPECT_EQ(params.sound_play_pos(), 1234u);
  EXPECT_EQ(params.soundpack(), nullptr);
  // Host reads stay within 0..1, also for values without a scaling.
  EXPECT_DOUBLE_EQ(params.getNormalValue(5), std::cbrt((100 - 0.1) / (10000 - 0.1)));
  params.changeValue(55, 1.7e9, 0);
  EXPECT_NEAR(params.getNormalValue(55), 0.017, 1e-12);
  EXPECT_EQ(params.getNormalValue(62), 0);
}

TEST_F(StoreTest, AttackAndDecayNeverExceedTheGrain) {
  RecordingListener attack(9, 0), decay(10, 0);
  params.addListener(&attack);
  params.addListener(&decay);
  params.setNormalValue(9, 0.3);
  EXPECT_DOUBLE_EQ(target(9), 0.3);
  EXPECT_DOUBLE_EQ(target(10), 0.5);
  EXPECT_EQ(decay.codes.size(), 0u);
  params.setNormalValue(9, 0.8);
  EXPECT_DOUBLE_EQ(target(9), 0.8);
  EXPECT_NEAR(target(10), 0.2, 1e-12);
  EXPECT_EQ(decay.codes, std::vector<int>{PI::PG_ValuesChanged});
  params.setNormalValue(10, 0.9);
  EXPECT_NEAR(target(9), 0.1, 1e-12);
  EXPECT_EQ(attack.codes.size(), 3u);
  EXPECT_TRUE(reports.empty());  // the host path never reports back
}

TEST_F(StoreTest, EnvelopeBreakpointLinks) {
  const double before = target(28);
  params.setNormalValue(28, 0.9);  // delta of point 1: not set this way
  EXPECT_EQ(target(28), before);
  params.setNormalValue(34, normal(34, 2000));  // point 3 counts back from the end
  EXPECT_NEAR(target(34), 8000, 1e-6);
  // ... and the host reads it back, and is told of editor changes, the same way.
  EXPECT_NEAR(params.getNormalValue(34), normal(34, 2000), 1e-9);
  params.changeValue(49, 9000, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NEAR(reports[0].value, normal(49, 1000), 1e-6);
  params.setNormalValue(49, reports[0].value);
  EXPECT_NEAR(target(49), 9000, 1e-2);
  params.setNormalValue(31, normal(31, 500));
  EXPECT_NEAR(target(31), 500, 1e-6);
  struct Link { int id, partner; };
  for (const Link l : {Link{47, 50}, Link{50, 47}, Link{26, 38}, Link{38, 26}, Link{41, 53}}) {
    params.setNormalValue(l.id, normal(l.id, 0.6));
    EXPECT_NEAR(target(l.id), 0.6, 1e-9) << l.id;
    EXPECT_NEAR(target(l.partner), 0.6, 1e-9) << l.id;
  }
  params.setNormalValue(29, normal(29, 0.3));  // point 1 level: no partner
  EXPECT_NEAR(target(29), 0.3, 1e-9);
  for (int id = 25; id <= 54; ++id)
    if (id != 29) {
      EXPECT_NE(target(id), 0.3) << id;
    }
}

TEST_F(StoreTest, ResponsibleListener) {
  RecordingListener env1(25, 0), env2(40, 0), grid(360, 0);
  for (auto* l : {&env1, &env2, &grid}) params.addListener(l);
  params.notifyListener(30, 1);
  params.notifyListener(45, 2);
  params.notifyListener(400, 4);
  params.notifyListener(10, 8);   // below the first listener: nobody
  params.notifyListener(25, 16);
  params.notifyListener(200, 32);  // up to the next listener: the envelope of 40
  EXPECT_EQ(env1.codes, (std::vector<int>{1, 16}));
  EXPECT_EQ(env2.codes, (std::vector<int>{2, 32}));
  EXPECT_TRUE(grid.codes.empty());
  // A listener registered again under the same id replaces the earlier one.
  RecordingListener other(25, 0);
  params.addListener(&other);
  params.notifyListener(26, 64);
  EXPECT_EQ(other.codes, std::vector<int>{64});
  params.removeListener(25);
  params.notifyListener(26, 64);
  EXPECT_EQ(other.codes.size(), 1u);
  params.clearListeners();
  EXPECT_TRUE(params.listeners.empty());
}

TEST_F(StoreTest, BroadcastFiltersByGroup) {
  RecordingListener sound(0, PI::PG_Sound), adsr(25, PI::PG_ADSR), grid(360, PI::PG_Patches);
  for (auto* l : {&sound, &adsr, &grid}) params.addListener(l);
  params.broadcastListeners(PI::PG_Sound | PI::PG_ValuesChanged);
  params.setDefaultPatch(0, PI::PG_ADSR);
  EXPECT_EQ(sound.codes, std::vector<int>{PI::PG_Sound | PI::PG_ValuesChanged});
  EXPECT_EQ(adsr.codes, std::vector<int>{PI::PG_ADSR});
  EXPECT_TRUE(grid.codes.empty());
}

TEST_F(StoreTest, ControllerTypeByEditorAndByHost) {
  play();
  params.changeValue(68, PC::CT_Random, 0);
  Param& rate = params.params[2];
  rate.control(1)->amount.set_now(0.5);
  params.changeValue(68, PC::CT_LFO, 0.5);  // editor: crossfade
  EXPECT_EQ(rate.control(1)->type, PC::CT_LFO);
  EXPECT_EQ(rate.pushed_control(1, 1)->type, PC::CT_Random);
  EXPECT_DOUBLE_EQ(rate.pushed_control(1, 1)->amount.rate, -1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().id, 68);
  EXPECT_FLOAT_EQ(reports.back().value, 3.0f / 8);
  EXPECT_EQ(params.get(68), std::make_pair(3.0, 3.0));

  RecordingListener slot(63, 0), grid(360, 0);  // the grid closes the range of real ids
  params.addListener(&slot);
  params.addListener(&grid);
  reports.clear();
  params.setNormalValue(68, 0.625);  // host: type 5 written directly, no crossfade
  EXPECT_EQ(rate.control(1)->type, PC::CT_ADSR);
  EXPECT_EQ(rate.pushed_control(1, 1)->type, PC::CT_Random);
  EXPECT_EQ(slot.codes, std::vector<int>{PI::PG_TypeChanged});
  ASSERT_EQ(reports.size(), 4u);
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(reports[j].id, 69 + j);
    EXPECT_FLOAT_EQ(reports[j].value, static_cast<float>(params.getNormalValue(69 + j)));
  }
  params.setNormalValue(68, 0.625);  // unchanged type: values changed only
  EXPECT_EQ(slot.codes, (std::vector<int>{PI::PG_TypeChanged, PI::PG_ValuesChanged}));
  // Types outside 0..8 from the editor path are ignored.
  params.changeValue(68, 12, 0);
  EXPECT_EQ(rate.control(1)->type, PC::CT_ADSR);
}

TEST_F(StoreTest, ControllerSubParametersReadBackWhatTheHostWrote) {
  // Every controller type of slot 0 of "grain.freq", and the empty slot.
  for (int type = 0; type < PC::NUM_TYPES; ++type) {
    params.setNormalValue(103, type / 8.0);
    ASSERT_EQ(params.params[7].control(0)->type, type);
    for (int j = 1; j <= 4; ++j) {
      for (double n : {0.0, 0.1, 0.37, 0.5, 0.8, 1.0}) {
        params.setNormalValue(103 + j, n);
        EXPECT_NEAR(params.getNormalValue(103 + j), n, 1e-6) << "type " << type << " sub " << j;
      }
    }
  }
  // The editor's report converts the same way: writing the reported value gives the value back.
  params.setNormalValue(103, 2 / 8.0);  // amp/noise: offsets of +-3000 ms
  params.changeValue(105, 375, 0);
  ASSERT_FALSE(reports.empty());
  EXPECT_NEAR(reports.back().value, 0.75, 1e-6);
  params.setNormalValue(105, reports.back().value);
  EXPECT_NEAR(target(105), 375, 1e-3);
}

TEST_F(StoreTest, OptionsAndApplyMask) {
  params.set_option(61, 1);
  EXPECT_EQ(params.apply_mask, 15 | 64);
  params.set_option(61, 0.5);
  EXPECT_EQ(params.apply_mask, 15);
  params.set_option(59, 0);
  params.set_option(60, 0);
  EXPECT_EQ(params.apply_mask, PI::PG_Synth | PI::PG_Effects);
  // The host switching an option switches its bit as well.
  params.setNormalValue(60, 1);
  EXPECT_EQ(params.apply_mask, PI::PG_Synth | PI::PG_Effects | PI::PG_Controls);
  EXPECT_EQ(target(60), 1);
  params.set_option(56, 2.5);
  EXPECT_EQ(current(56), 2.5);
  EXPECT_EQ(params.apply_mask, PI::PG_Synth | PI::PG_Effects | PI::PG_Controls);
  params.setDefaultPatch(0, PI::PG_All);
  EXPECT_EQ(params.apply_mask, 15);
  EXPECT_EQ(target(56), 1);
  EXPECT_EQ(target(59), 1);
  EXPECT_EQ(target(61), 0);
}

TEST_F(StoreTest, ValuesWithoutAHostPathAreIgnored) {
  for (int id : {3, 6, 27, 55, 62, 173, 174, 175, 178, 179, -4}) {
    const auto before = params.get(id);
    params.setNormalValue(id, 0.7);
    EXPECT_EQ(params.get(id), before) << id;
  }
  params.changeValue(179, 1, 0);
  EXPECT_TRUE(reports.empty());
}

TEST_F(StoreTest, EditorPathReportsNormalisedValues) {
  params.changeValue(5, 1250.0875, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].id, 5);
  EXPECT_NEAR(reports[0].value, 0.5, 1e-6);
  EXPECT_DOUBLE_EQ(current(5), 1250.0875);
  // Glides while playing.
  play();
  params.changeValue(4, 40, 2);
  EXPECT_DOUBLE_EQ(current(4), 20);
  params.update_params(1);
  EXPECT_DOUBLE_EQ(current(4), 30);
  params.update_params(1);
  EXPECT_DOUBLE_EQ(current(4), 40);
}

TEST_F(StoreTest, SetDefaultPatch) {
  params.changeValue(4, 100, 0);
  params.changeValue(16, 3000, 0);
  params.changeValue(25 + 3, 50, 0);
  params.changeValue(83, PC::CT_LFO, 0);
  params.params[4].control(0)->amount.set_now(0.5);
  // Not playing, t = -1 and the apply mask: the groups of the mask reset at once.
  params.setDefaultPatch(-1, PI::PG_ApplyMask);
  EXPECT_EQ(current(4), 20);
  EXPECT_EQ(current(16), 1200);
  EXPECT_EQ(current(28), 50);  // envelopes are not in the mask
  EXPECT_EQ(params.params[4].control(0)->type, PC::CT_None);
  EXPECT_EQ(params.params[4].pushed_control(0, 1)->type, PC::CT_LFO);
  EXPECT_EQ(params.params[4].pushed_control(0, 1)->amount.current, 0);
  params.update_params(0.01);
  EXPECT_EQ(params.params[4].pushed_control(0, 1)->type, PC::CT_None);
  // With "apply.patch_globals" the mask takes the envelopes too, but never the options.
  params.set_option(61, 1);
  params.set_option(56, 3);
  params.setDefaultPatch(-1, PI::PG_ApplyMask);
  EXPECT_EQ(current(28), 12.5);
  EXPECT_EQ(target(56), 3);
  // The sound group sets the end of the selection to the sound's length.
  set_sound(44100);
  params.setDefaultPatch(0, PI::PG_Sound);
  EXPECT_EQ(target(1), 44100);
  EXPECT_EQ(target(0), 0);
}

TEST_F(StoreTest, Density) {
  struct Case { double rate, length, attack, decay, density; };
  const Case cases[] = {{20, 100, 0.5, 0.5, 1.0}, {20, 100, 0.1, 0.2, 1.4}, {10, 1000, 0, 0, 10},
                        {2000, 10000, 0.3, 0.3, 10000}};
  for (const auto& c : cases) {
    params.changeValue(4, c.rate, 0);
    params.changeValue(5, c.length, 0);
    params.changeValue(9, c.attack, 0);
    params.changeValue(10, c.decay, 0);
    params.update_density();
    EXPECT_NEAR(params.density, c.density, 1e-9) << c.rate << " " << c.length;
  }
}

TEST_F(StoreTest, RandomSeed) {
  Synth other;
  params.set_random_seed(42);
  other.params.set_random_seed(42);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(params.random_generator(), other.params.random_generator());
}

// Two instances in one process: each glides over its own change time and converts the sound
// selection over its own sound.
TEST(TwoStores, OwnChangeTimeAndSoundRange) {
  Synth a, b;
  a.stream.state = b.stream.state = 4;
  a.params.set_option(56, 2);
  b.params.set_option(56, 0.5);
  a.params.setNormalValue(4, a.params.scaled_to_normal(4, 60));
  b.params.setNormalValue(4, b.params.scaled_to_normal(4, 60));
  EXPECT_NEAR(a.params.params[4].rate, 20, 1e-6);   // 40 over 2 s
  EXPECT_NEAR(b.params.params[4].rate, 80, 1e-6);   // 40 over 0.5 s
  Synth c;  // a store made later changes neither
  a.params.params[5] = 200;
  EXPECT_NEAR(a.params.params[5].rate, 50, 1e-6);

  a.params.set_sound_range(1000);
  b.params.set_sound_range(100000);
  a.stream.state = b.stream.state = 0;
  a.params.setNormalValue(0, 0.5);
  b.params.setNormalValue(0, 0.5);
  EXPECT_EQ(a.params.get(0).second, 500);
  EXPECT_EQ(b.params.get(0).second, 50000);
  EXPECT_NEAR(a.params.getNormalValue(0), 0.5, 1e-9);
  EXPECT_NEAR(b.params.getNormalValue(0), 0.5, 1e-9);
  EXPECT_EQ(PI::getParamInfo(0).scaling->getRange(), std::make_pair(0.0, 0.0));
}

}  // namespace
}  // namespace korvel::vimble
