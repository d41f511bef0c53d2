// Tests of the parameter table: every id's record, the generated controller records, lookups.
#include "synth/param_info.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace korvel::vimble {
namespace {

using PI = ParamInfo;

struct Row {
  int id;
  const char* name;
  const char* unit;
  int group;
  double value, min, max;
  PI::Scaling_Type scaling;
  int nof_controls, control_id;
};

constexpr int FX = PI::PG_Synth | PI::PG_Effects;

const Row MAIN_ROWS[] = {
    {0, "sound.start", "samples", PI::PG_Sound, 0, 0, 0, PI::ST_Integer, 0, -1},
    {1, "sound.end", "samples", PI::PG_Sound, 0, 0, 0, PI::ST_Integer, 0, -1},
    {2, "sound.play_rate", "rate", PI::PG_Synth, 1, -25, 25, PI::ST_AsymCubic75, 2, 63},
    {3, "sound.play_position", "n/a", PI::PG_Synth, 0, 0, 0, PI::ST_None, 2, 73},
    {4, "grain.rate", "sec", PI::PG_Synth, 20, 1.0 / 60, 2000, PI::ST_Cubic, 2, 83},
    {5, "grain.length", "ms", PI::PG_Synth, 100, 0.1, 10000, PI::ST_Cubic, 2, 93},
    {6, "grain.density", "n/a", PI::PG_None, 0, 0, 2000, PI::ST_None, 0, -1},
    {7, "grain.freq", "semis", PI::PG_Synth, 1, -37, 37, PI::ST_AsymCubic67, 2, 103},
    {8, "grain.gliss", "semis", PI::PG_Synth, 0, 0, 25, PI::ST_Cubic, 2, 113},
    {9, "grain.attack", "%", PI::PG_Synth, 0.5, 0, 1, PI::ST_Linear, 1, 123},
    {10, "grain.decay", "%", PI::PG_Synth, 0.5, 0, 1, PI::ST_Linear, 1, 128},
    {11, "grain.amp", "%", PI::PG_Synth, 0.93, 0, 3, PI::ST_Cubic, 1, 133},
    {12, "grain.pan", "%", PI::PG_Synth, 0, 0, 1, PI::ST_Linear, 1, 138},
    {13, "dist.clip", "mult", FX, 0, 0, 30, PI::ST_Cubic, 1, 143},
    {14, "dist.bitcrush", "bits", FX, 14, 0, 14, PI::ST_Inverse, 1, 148},
    {15, "dist.tone", "%", FX, 50, 0, 100, PI::ST_Cubic, 0, -1},
    {16, "filter.freq", "herz", FX, 1200, 50, 8000, PI::ST_Cubic, 1, 153},
    {17, "filter.width", "Q", FX, 0.5, 0, 1, PI::ST_Linear, 0, -1},
    {18, "filter.low", "rate", FX, 0, 0, 1, PI::ST_Cubic, 1, 158},
    {19, "filter.mid", "rate", FX, 0, 0, 1, PI::ST_Cubic, 0, -1},
    {20, "filter.high", "rate", FX, 0, 0, 1, PI::ST_Cubic, 0, -1},
    {21, "filter2.freq", "herz", FX, 1200, 50, 10000, PI::ST_Cubic, 0, -1},
    {22, "filter2.width", "Q", FX, 0.5, 0, 1, PI::ST_Linear, 0, -1},
    {23, "delay.time", "millis", FX, 0, 0, 10000, PI::ST_Cubic, 1, 163},
    {24, "delay.feedback", "rate", FX, 0, 0, 1, PI::ST_Linear, 1, 168},
    {55, "timestamp", "epoch", PI::PG_None, 0, 0, 100000000000.0, PI::ST_None, 0, -1},
    {56, "apply.changetime", "secs", PI::PG_Options, 1, 0, 600, PI::ST_Cubic, 0, -1},
    {57, "density.compensation", "rate", PI::PG_Options, 1, 0, 2, PI::ST_Linear, 0, -1},
    {58, "apply.patch_random", "rate", PI::PG_Options, 0, 0, 1, PI::ST_Linear, 0, -1},
    {59, "apply.patch_soundfile", "y/n", PI::PG_Options, 1, 0, 1, PI::ST_Switch, 0, -1},
    {60, "apply.patch_controls", "y/n", PI::PG_Options, 1, 0, 1, PI::ST_Switch, 0, -1},
    {61, "apply.patch_globals", "y/n", PI::PG_Options, 0, 0, 1, PI::ST_Switch, 0, -1},
    {62, "soundfile", "name", PI::PG_Sound, 0, 0, 0, PI::ST_None, 0, -1},
    {174, "patch_drop", "n/a", PI::PG_None, 0, 0, 0, PI::ST_None, 0, -1},
    {175, "tooltips", "on/off", PI::PG_None, 0, 0, 1, PI::ST_Switch, 0, -1},
    {176, "start/stop", "on/off", PI::PG_None, 1, 0, 1, PI::ST_Switch, 0, -1},
    {177, "record_clip", "on/off", PI::PG_None, 0, 0, 1, PI::ST_Switch, 0, -1},
};

void expect_row(const Row& r) {
  const PI& info = PI::getParamInfo(r.id);
  SCOPED_TRACE(testing::Message() << "id " << r.id << " " << r.name);
  EXPECT_EQ(info.id, r.id);
  EXPECT_EQ(std::string(info.name), r.name);
  EXPECT_EQ(info.wide_name, std::wstring(r.name, r.name + std::string(r.name).size()));
  EXPECT_STREQ(info.unit, r.unit);
  EXPECT_EQ(info.group, r.group);
  EXPECT_DOUBLE_EQ(info.defaults.value, r.value);
  EXPECT_DOUBLE_EQ(info.defaults.min, r.min);
  EXPECT_DOUBLE_EQ(info.defaults.max, r.max);
  EXPECT_EQ(info.defaults.scaling_type, r.scaling);
  EXPECT_EQ(info.nof_controls, r.nof_controls);
  EXPECT_EQ(info.control_id, r.control_id);
  EXPECT_EQ(info.base, nullptr);
  EXPECT_EQ(info.is_automatable(), r.scaling != PI::ST_None);
  const bool has_object = r.scaling != PI::ST_None && r.scaling != PI::ST_Plain;
  EXPECT_EQ(info.scaling != nullptr, has_object);
}

TEST(ParamTable, MainRecords) {
  for (const Row& r : MAIN_ROWS) expect_row(r);
}

TEST(ParamTable, EnvelopeBreakpoints) {
  const double deltas[2][5] = {{0, 12.5, 100, 2700, 100000}, {0, 800, 2700, 800, 100000}};
  const double levels[2][5] = {{0, 1, 0.8, 0.8, 0}, {0, 1, 0.4, 0.4, 0}};
  for (int a = 1; a <= 2; ++a) {
    for (int p = 0; p < 5; ++p) {
      const int id = 25 + 15 * (a - 1) + 3 * p;
      const std::string prefix = "adsr" + std::to_string(a) + ".points." + std::to_string(p);
      const double delta_max = p == 0 ? 0 : p == 4 ? 100000 : 10000;
      expect_row({id, (prefix + ".delta").c_str(), "millis", PI::PG_ADSR, deltas[a - 1][p], 0,
                  delta_max, PI::ST_Cubic, 0, -1});
      expect_row({id + 1, (prefix + ".level").c_str(), "rate", PI::PG_ADSR, levels[a - 1][p], 0, 1,
                  PI::ST_Cubic, 0, -1});
      expect_row({id + 2, (prefix + ".curve").c_str(), "n/a", PI::PG_ADSR, 0, 0, 1, PI::ST_None, 0, -1});
    }
  }
  EXPECT_EQ(PI::getParamInfo(L"adsr2.points.1.delta").id, 43);
  EXPECT_EQ(PI::getParamInfo(43).defaults.value, 800);
  EXPECT_EQ(std::string(PI::getParamInfo(54).name), "adsr2.points.4.curve");
}

TEST(ParamTable, ControllerSubParameters) {
  const char* labels[5] = {"type", "amount", "x", "y", "par3"};
  const char* units[5] = {"type", "%", "x", "y", "rate"};
  const PI::Defaults defaults[5] = {{0, 0, 8, PI::ST_Integer}, {0.5, -1, 1, PI::ST_Linear},
                                    {0, 0, 1, PI::ST_Plain}, {0, -1, 1, PI::ST_Inverse},
                                    {0, 0, 1, PI::ST_Plain}};
  std::set<int> seen;
  for (const Row& r : MAIN_ROWS) {
    for (int k = 0; k < r.nof_controls; ++k) {
      for (int j = 0; j < 5; ++j) {
        const int id = r.control_id + 5 * k + j;
        const PI& info = PI::getParamInfo(id);
        SCOPED_TRACE(testing::Message() << "id " << id);
        seen.insert(id);
        EXPECT_EQ(info.id, id);
        EXPECT_EQ(std::string(info.name),
                  std::string(r.name) + ".contr" + std::to_string(k) + "." + labels[j]);
        EXPECT_STREQ(info.unit, units[j]);
        EXPECT_EQ(info.group, PI::PG_Controls);
        ASSERT_NE(info.base, nullptr);
        EXPECT_EQ(info.base->id, r.id);
        EXPECT_EQ(info.control_index, k);
        EXPECT_EQ(info.sub_index, j);
        EXPECT_EQ(info.nof_controls, 0);
        EXPECT_EQ(info.control_id, -1);
        EXPECT_DOUBLE_EQ(info.defaults.value, defaults[j].value);
        EXPECT_DOUBLE_EQ(info.defaults.min, defaults[j].min);
        EXPECT_DOUBLE_EQ(info.defaults.max, defaults[j].max);
        EXPECT_EQ(info.defaults.scaling_type, defaults[j].scaling_type);
        EXPECT_TRUE(info.is_automatable());
        // Sub-parameters are found by id only.
        EXPECT_EQ(PI::getParamInfo(info.wide_name).id, -1);
      }
    }
  }
  EXPECT_EQ(seen.size(), 110u);
  EXPECT_EQ(*seen.begin(), 63);
  EXPECT_EQ(*seen.rbegin(), 172);
  EXPECT_EQ(std::string(PI::getParamInfo(139).name), "grain.pan.contr0.amount");
  EXPECT_EQ(PI::getParamInfo(139).scaling->getRange(), std::make_pair(-1.0, 1.0));
  EXPECT_EQ(std::string(PI::getParamInfo(72).name), "sound.play_rate.contr1.par3");
  EXPECT_STREQ(PI::getParamInfo(72).unit, "rate");
}

TEST(ParamTable, IdsWithoutRecordAndCounts) {
  for (int id : {173, 178, 179, -1, -100, 180, 1000}) {
    const PI& info = PI::getParamInfo(id);
    EXPECT_EQ(info.id, -1) << id;
    EXPECT_STREQ(info.name, "") << id;
    EXPECT_STREQ(info.unit, "") << id;
    EXPECT_EQ(info.group, PI::PG_None);
    EXPECT_TRUE(info.is_automatable()) << id;  // the default item is cubic
  }
  EXPECT_EQ(PI::param_list().size(), 177u);  // 180 ids, three without a record
  int not_automatable = 0;
  for (int id = 0; id < NUM_PARAM_IDS; ++id) not_automatable += !PI::getParamInfo(id).is_automatable();
  EXPECT_EQ(not_automatable, 15);  // 3, 6, ten curves, 55, 62, 174
}

TEST(ParamTable, NameLookupsAndConversions) {
  EXPECT_EQ(PI::getParamInfo(L"grain.rate").id, 4);
  EXPECT_EQ(PI::getParamInfo(L"record_clip").id, 177);
  EXPECT_EQ(PI::getParamInfo(L"no.such.name").id, -1);
  EXPECT_EQ(PI::getParamInfo(L"").id, -1);
  for (double n : {0.0, 0.3, 1.0}) EXPECT_EQ(PI::getParamInfo(3).normal_to_scaled(n), 0);
  EXPECT_DOUBLE_EQ(PI::getParamInfo(14).normal_to_scaled(0), 14);
  EXPECT_DOUBLE_EQ(PI::getParamInfo(14).normal_to_scaled(1), 0);
  EXPECT_DOUBLE_EQ(PI::getParamInfo(65).normal_to_scaled(0.3), 0.3);  // plain: unchanged
  EXPECT_DOUBLE_EQ(PI::getParamInfo(55).scaled_to_normal(12345), 0);
  // A copy owns a scaling object of its own.
  const PI copy = PI::getParamInfo(5);
  EXPECT_NE(copy.scaling.get(), PI::getParamInfo(5).scaling.get());
  EXPECT_DOUBLE_EQ(copy.normal_to_scaled(0.5), PI::getParamInfo(5).normal_to_scaled(0.5));
}

TEST(ParamTable, ControlLabels) {
  struct Case { int id; const char* label; };
  const Case cases[] = {{124, "ATTACK"}, {129, "DECAY"}, {133, "AMP"}, {139, "PAN"},
                        {143, "CLIP"},  {150, "CRUSH"}, {153, "FREQS"}, {160, "MIX"},
                        {163, "DELTIME"}, {172, "FEEDBK"}, {63, ""},   {4, ""}, {179, ""}};
  for (const auto& c : cases) EXPECT_STREQ(PI::get_control_label(c.id), c.label) << c.id;
}

TEST(ParamTable, ScalingInfo) {
  const ScalingInfo none(0, 0, 0, PI::ST_Cubic);
  EXPECT_EQ(none.scaling, nullptr);
  const ScalingInfo freq(1, 0, 100, PI::ST_Cubic);
  ASSERT_NE(freq.scaling, nullptr);
  EXPECT_DOUBLE_EQ(freq.scaling->normal_to_scaled(0.5), 12.5);
}

}  // namespace
}  // namespace korvel::vimble
