// Patch serialization: controller objects, patch objects in both directions, key_patch and the
// UTF-8 conversions.
#include "synth/serialization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "utility/json_reader.h"

namespace korvel::vimble {
namespace {

using namespace serialization;
using Controller = PatchParam::PatchController;

JSON::Value json(const std::string& text) {
  const char* cursor = text.data();
  return JSON::parse(cursor, text.data() + text.size(), true);
}

int id_of(const wchar_t* name) { return ParamInfo::getParamInfo(std::wstring(name)).id; }

// A patch with a value in range for every stored parameter, the envelopes at their defaults.
Patch sample_patch() {
  Patch patch;
  for (int id = 0; id < Patch::NUM_PARAMS; ++id) {
    const ParamInfo& info = ParamInfo::getParamInfo(id);
    patch.params[id].value = info.defaults.value;
  }
  patch.params[0].value = 1000;
  patch.params[1].value = 90000;
  patch.params[4].value = 35.5;
  patch.params[9].value = 0.25;
  patch.params[10].value = 0.3;
  patch.params[55].value = 1544000000;
  patch.soundfile = L"/sounds/rain.wav";
  return patch;
}

TEST(ControllerTables, NamesAndMembersByTypeAndByName) {
  struct Row {
    int type;
    const wchar_t* name;
    const wchar_t* x;
    const wchar_t* y;
    const wchar_t* par3;
  };
  const std::vector<Row> rows = {
      {0, L"empty", nullptr, nullptr, nullptr},    {1, L"random", L"walk", L"spread", nullptr},
      {2, L"amp_noise", L"offset", L"mix", nullptr}, {3, L"lfo", L"skew", L"clip", L"freq"},
      {4, L"midi", L"x", L"y", nullptr},            {5, L"adsr_mix", L"mix", nullptr, nullptr},
      {6, L"inner", L"param", nullptr, nullptr},    {7, L"inner_2", L"param", nullptr, nullptr},
      {8, L"inner_3", L"param", nullptr, nullptr},
  };
  const auto same = [](const wchar_t* a, const wchar_t* b) {
    return (a == nullptr && b == nullptr) || (a && b && std::wstring(a) == b);
  };
  for (const Row& row : rows) {
    const ControllerNames& names = Controller_By_Type[static_cast<size_t>(row.type)];
    EXPECT_EQ(names.type, row.type);
    EXPECT_TRUE(same(names.name, row.name)) << row.type;
    EXPECT_TRUE(same(names.x, row.x)) << row.type;
    EXPECT_TRUE(same(names.y, row.y)) << row.type;
    EXPECT_TRUE(same(names.par3, row.par3)) << row.type;
    const auto found = Controller_By_Name.find(row.name);
    if (row.type == 0) {
      EXPECT_EQ(found, Controller_By_Name.end());
    } else {
      ASSERT_NE(found, Controller_By_Name.end()) << row.type;
      EXPECT_EQ(found->second.type, row.type);
    }
  }
  EXPECT_EQ(Controller_By_Name.size(), 8u);
}

TEST(EncodeController, ObjectsByType) {
  struct Case {
    Controller slot;
    std::string expected;  // compact text of the object, or "null"
  };
  const std::vector<Case> cases = {
      {{1, 0.5, {0.1, 0.2, 0.9}}, R"({ "amount": 0.5, "spread": 0.2, "type": "random", "walk": 0.1 })"},
      {{2, -1, {0.25, 0.5, 0}}, R"({ "amount": -1, "mix": 0.5, "offset": 0.25, "type": "amp_noise" })"},
      {{3, 0.75, {0.3, 0.1, 0.5}},
       R"({ "amount": 0.75, "clip": 0.1, "freq": 0.5, "skew": 0.3, "type": "lfo" })"},
      {{4, 0.5, {1, 0, 0}}, R"({ "amount": 0.5, "type": "midi", "x": 1, "y": 0 })"},
      {{5, 0.5, {0.4, 0.7, 0.7}}, R"({ "amount": 0.5, "mix": 0.4, "type": "adsr_mix" })"},
      // Internal types name the parameter they follow; the id is truncated.
      {{7, 0.5, {4.9, 0, 0}}, R"({ "amount": 0.5, "param": "grain.rate", "type": "inner_2" })"},
      {{6, 0.5, {23, 0, 0}}, R"({ "amount": 0.5, "param": "delay.time", "type": "inner" })"},
      // An id without a record, or no id at all, writes null.
      {{8, 0.5, {173, 0, 0}}, "null"},
      {{8, 0.5, {-5, 0, 0}}, "null"},
      {{6, 0.5, {NAN, 0, 0}}, "null"},
      {{0, 0.5, {0, 0, 0}}, "null"},
      {{9, 0.5, {0, 0, 0}}, "null"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(encode_controller(c.slot).asciify(0, 0), c.expected) << c.expected;
}

TEST(ReadController, ObjectsAndTheirRepairs) {
  struct Case {
    std::string object;
    bool result;
    Controller expected;
  };
  const Controller untouched{0, 0, {0, 0, 0}};
  const std::vector<Case> cases = {
      // Values clamped into their ranges; members the type does not have are ignored.
      {R"({"type": "lfo", "amount": 2, "skew": 0.3, "clip": -1})", true, {3, 1, {0.3, 0, 0}}},
      {R"({"type": "lfo", "amount": -0.5, "skew": 7, "clip": 0.5, "freq": 0.25})", true,
       {3, -0.5, {1, 0.5, 0.25}}},
      {R"({"type": "random", "amount": 0.5, "walk": 0.1, "spread": "wide", "freq": 0.5})", true,
       {1, 0.5, {0.1, 0, 0}}},
      {R"({"type": "adsr_mix", "amount": 0.5, "mix": 0.6, "y": 0.9})", true, {5, 0.5, {0.6, 0, 0}}},
      // Internal types: a parameter by name, or an id clamped to 0..23.
      {R"({"type": "inner_2", "amount": 0.5, "param": "grain.rate"})", true, {7, 0.5, {4, 0, 0}}},
      {R"({"type": "inner", "amount": 0.5, "param": 40})", true, {6, 0.5, {23, 0, 0}}},
      {R"({"type": "inner_3", "amount": 0.5, "param": -3})", true, {8, 0.5, {0, 0, 0}}},
      // No known type, or no amount: success, slot unchanged.
      {R"({"type": "empty", "amount": 0.5, "walk": 0.1})", true, untouched},
      {R"({"type": "wobble", "amount": 0.5, "walk": 0.1})", true, untouched},
      {R"({"type": 3, "amount": 0.5, "skew": 0.1})", true, untouched},
      {R"({"amount": 0.5, "skew": 0.1})", true, untouched},
      {R"({"type": "lfo", "skew": 0.1})", true, untouched},
      {R"({"type": "lfo", "amount": "much", "skew": 0.1})", true, untouched},
      // A known type without a usable x value is a failure.
      {R"({"type": "lfo", "amount": 0.5})", false, untouched},
      {R"({"type": "lfo", "amount": 0.5, "skew": [0.1]})", false, untouched},
      {R"({"type": "inner", "amount": 0.5, "param": "no.such.param"})", false, untouched},
      // Controller sub-parameters are not found by name.
      {R"({"type": "inner", "amount": 0.5, "param": "grain.pan.contr0.amount"})", false, untouched},
  };
  for (const Case& c : cases) {
    Controller slot{};
    EXPECT_EQ(read_controller(slot, json(c.object)), c.result) << c.object;
    EXPECT_EQ(slot.type, c.expected.type) << c.object;
    EXPECT_DOUBLE_EQ(slot.amount, c.expected.amount) << c.object;
    for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(slot.params[k], c.expected.params[k]) << c.object << " k=" << k;
  }
}

TEST(ReadController, NotANumberNeverReachesTheSlot) {
  JSON::Map members;
  members[L"type"] = L"lfo";
  members[L"amount"] = 0.5;
  members[L"skew"] = NAN;
  members[L"clip"] = NAN;
  Controller slot{};
  ASSERT_TRUE(read_controller(slot, JSON::Value(members)));
  EXPECT_EQ(slot.params[0], 0);
  EXPECT_EQ(slot.params[1], 0);

  members[L"amount"] = NAN;
  Controller other{};
  EXPECT_TRUE(read_controller(other, JSON::Value(members)));
  EXPECT_EQ(other.type, 0);
  EXPECT_EQ(other.amount, 0);
}

TEST(ToJson, MembersOfAPatch) {
  Patch patch = sample_patch();
  patch.params[3].controllers[1] = {3, 0.5, {0.1, 0.2, 0.3}};   // play position: controller only
  patch.params[4].controllers[0] = {1, 0.5, {0.1, 0.2, 0}};
  patch.params[4].controllers[1] = {9, 0.5, {0.1, 0.2, 0}};     // invalid type: skipped
  patch.params[12].controllers[0] = {6, 0.5, {200, 0, 0}};      // unknown id: written as null
  const JSON::Value object = to_json(patch, ParamInfo::PG_All);
  const JSON::Map& members = object.get_object();

  std::vector<std::wstring> expected;
  for (int id = 0; id <= 24; ++id)
    if (id != 3 && id != 6) expected.push_back(ParamInfo::getParamInfo(id).wide_name);
  for (const wchar_t* name : {L"adsr1.points", L"adsr2.points", L"timestamp", L"soundfile",
                              L"sound.play_position.controller.1", L"grain.rate.controller.0",
                              L"grain.pan.controller.0"})
    expected.push_back(name);
  std::sort(expected.begin(), expected.end());
  std::vector<std::wstring> keys;
  for (const auto& [key, value] : members) keys.push_back(key);
  EXPECT_EQ(keys, expected);

  EXPECT_EQ(object[L"grain.rate"].get_number(), 35.5);
  EXPECT_EQ(object[L"timestamp"].get_number(), 1544000000);
  EXPECT_EQ(object[L"soundfile"].get_string(), L"/sounds/rain.wav");
  EXPECT_EQ(object[L"grain.pan.controller.0"].kind(), JSON::Value::Null);
  EXPECT_EQ(object[L"sound.play_position.controller.1"][L"type"].get_string(), L"lfo");
  // Envelope points: delta, level and curve of each point, one object per point.
  EXPECT_EQ(object[L"adsr1.points"].asciify(2, 2),
            "[\n  { \"curve\": 0, \"delta\": 0, \"level\": 0 },\n"
            "  { \"curve\": 0, \"delta\": 12.5, \"level\": 1 },\n"
            "  { \"curve\": 0, \"delta\": 100, \"level\": 0.8 },\n"
            "  { \"curve\": 0, \"delta\": 2700, \"level\": 0.8 },\n"
            "  { \"curve\": 0, \"delta\": 100000, \"level\": 0 }\n]");

  // Every parameter up to the envelopes carries one of the bits of 31: same members as PG_All.
  EXPECT_TRUE(to_json(patch, ParamInfo::ParamGroup(31)) == object);
  // Only the sound group: the selection, and the members every patch has.
  patch.soundfile.clear();
  const JSON::Value sound = to_json(patch, ParamInfo::PG_Sound);
  EXPECT_EQ(sound.asciify(0, 0), R"({ "sound.end": 90000, "sound.start": 1000, "timestamp": 1544000000 })");
}

TEST(ToJson, SoundFileNamesAlwaysConvert) {
  Patch patch = sample_patch();
  // A lone surrogate and a value beyond Unicode cannot become UTF-8: they are written as U+FFFD.
  patch.soundfile = std::wstring(L"a") + wchar_t(0xD800) + L"b" + wchar_t(0x110000) + wchar_t(0x1F600);
  const JSON::Value object = to_json(patch, ParamInfo::PG_All);
  EXPECT_EQ(object[L"soundfile"].asciify(0, 0), R"("a\ufffdb\ufffd\ud83d\ude00")");
  EXPECT_NO_THROW(to_narrow(object[L"soundfile"].get_string()));
}

TEST(ReadPatch, RoundTripThroughText) {
  Patch patch = sample_patch();
  patch.params[2].controllers[0] = {3, 0.5, {0.3, 0.1, 0.5}};
  patch.params[3].controllers[1] = {7, -0.25, {4, 0, 0}};
  patch.params[10].controllers[0] = {1, 0.75, {0.5, 0.5, 0}};  // decay's own controller
  patch.params[25 + 3 * 2 + 1].value = 0.6;                    // sustain level of envelope 1
  patch.params[25 + 3 * 3 + 1].value = 0.6;
  patch.params[40 + 3 * 1 + 2].value = 0.5;                    // a curve
  patch.soundfile = L"/sounds/caf\u00e9 \U0001F600.wav";
  const std::string text = to_json(patch, ParamInfo::PG_All).asciify(2, 4);

  Patch read;
  ASSERT_TRUE(read_patch(read, json(text))) << text;
  EXPECT_EQ(read.soundfile, patch.soundfile);
  for (int id = 0; id <= 55; ++id) {
    if (id == 3 || id == 6) continue;
    EXPECT_EQ(read.params[id].value, patch.params[id].value) << id;
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(read.params[id].controllers[k].type, patch.params[id].controllers[k].type) << id;
      EXPECT_EQ(read.params[id].controllers[k].amount, patch.params[id].controllers[k].amount) << id;
      for (int j = 0; j < 3; ++j)
        EXPECT_EQ(read.params[id].controllers[k].params[j], patch.params[id].controllers[k].params[j])
            << id << " " << k << " " << j;
    }
  }
  EXPECT_EQ(to_json(read, ParamInfo::PG_All).asciify(2, 4), text);
}

// A patch object made of defaults and a timestamp, with the given members laid over it.
std::string patch_text(const std::string& extra) {
  std::string text = R"({"timestamp": 1544000000, "grain.rate": 30)";
  if (!extra.empty()) text += ", " + extra;
  return text + "}";
}

TEST(ReadPatch, AcceptedAndRefusedPatches) {
  const int rate = id_of(L"grain.rate");
  const int start = id_of(L"sound.start");
  const int end = id_of(L"sound.end");
  const int attack = id_of(L"grain.attack");
  const int decay = id_of(L"grain.decay");
  struct Case {
    std::string object;
    bool result;
    int id;           // a parameter to look at (-1: none)
    double expected;  // its stored value
  };
  const std::vector<Case> cases = {
      {patch_text(""), true, rate, 30},
      // A string (or no member) leaves the reset value alone; true, arrays and objects refuse.
      {R"({"timestamp": 5, "grain.rate": "fast"})", true, rate, 0},
      {R"({"timestamp": 5, "grain.rate": true})", false, -1, 0},
      {R"({"timestamp": 5, "grain.rate": [1]})", false, -1, 0},
      {R"({"timestamp": 5, "grain.length": {}})", false, -1, 0},
      // Out of range: the parameter's default.
      {R"({"timestamp": 5, "grain.rate": 5000})", true, rate, 20},
      {R"({"timestamp": 5, "grain.rate": -1})", true, rate, 20},
      // No timestamp number: refused.
      {R"({"grain.rate": 30})", false, -1, 0},
      {R"({"timestamp": "now", "grain.rate": 30})", false, -1, 0},
      {R"({"timestamp": null})", false, -1, 0},
      // Timestamps are kept within their range.
      {R"({"timestamp": 1e300})", true, 55, 1e11},
      {R"({"timestamp": -5})", true, 55, 0},
      // Decay is never shorter than the attack, and reads 0 when missing.
      {R"({"timestamp": 5, "grain.attack": 0.6, "grain.decay": 0.2})", true, decay, 0.6},
      {R"({"timestamp": 5, "grain.attack": 0.1, "grain.decay": 0.2})", true, decay, 0.2},
      {R"({"timestamp": 5, "grain.attack": 0.1, "grain.decay": "long"})", true, decay, 0.1},
      {R"({"timestamp": 5, "grain.attack": 0.3})", true, attack, 0.3},
      // A short selection with a sound means the whole sound.
      {R"({"timestamp": 5, "soundfile": "a.wav", "sound.start": 1000, "sound.end": 1200})", true, end, -1},
      {R"({"timestamp": 5, "sound.start": 1000, "sound.end": 1200})", true, end, 1200},
      // Selections are frame positions of a sound whose length is not known yet: kept.
      {R"({"timestamp": 5, "soundfile": "a.wav", "sound.start": 1000, "sound.end": 50000})", true, start, 1000},
      {R"({"timestamp": 5, "soundfile": "a.wav", "sound.start": 1000, "sound.end": 50000})", true, end, 50000},
      {R"({"timestamp": 5, "sound.start": -3})", true, start, 0},
  };
  for (const Case& c : cases) {
    Patch patch;
    EXPECT_EQ(read_patch(patch, json(c.object)), c.result) << c.object;
    if (c.result && c.id >= 0) {
      EXPECT_EQ(patch.params[c.id].value, c.expected) << c.object;
    }
  }
}

TEST(ReadPatch, TooManyRepairsRefuseThePatch) {
  // Fifteen values out of range are too many; fourteen are repaired.
  const char* const names[] = {"sound.play_rate", "grain.rate",    "grain.length", "grain.freq",
                               "grain.gliss",     "grain.amp",     "dist.clip",    "dist.tone",
                               "filter.freq",     "filter.width",  "filter.low",   "filter.mid",
                               "filter.high",     "filter2.freq",  "filter2.width"};
  std::string fourteen = R"({"timestamp": 5)";
  for (int i = 0; i < 14; ++i) fourteen += std::string(", \"") + names[i] + "\": 1e9";
  Patch patch;
  EXPECT_TRUE(read_patch(patch, json(fourteen + "}")));
  EXPECT_EQ(patch.params[id_of(L"grain.rate")].value, 20);
  Patch refused;
  EXPECT_FALSE(read_patch(refused, json(fourteen + ", \"" + names[14] + "\": 1e9}")));
  // Failed controller objects count as repairs too: twelve of them, then three bad values.
  std::string controllers = R"({"timestamp": 5, "sound.play_rate": 1, "grain.rate": 20,)"
                            R"( "grain.length": 100, "grain.freq": 1, "grain.gliss": 0)";
  for (const char* name : {"sound.play_rate", "sound.play_position", "grain.rate", "grain.length",
                           "grain.freq", "grain.gliss"})
    for (int slot = 0; slot < 2; ++slot)
      controllers += std::string(", \"") + name + ".controller." + std::to_string(slot) +
                     "\": {\"type\": \"lfo\", \"amount\": 1}";
  Patch twelve;
  EXPECT_TRUE(read_patch(twelve, json(controllers + "}")));
  EXPECT_EQ(twelve.params[4].controllers[0].type, 0);
  for (const char* name : {"grain.amp", "grain.pan", "dist.clip"})
    controllers += std::string(", \"") + name + "\": 1e9";
  Patch damaged;
  EXPECT_FALSE(read_patch(damaged, json(controllers + "}")));
}

TEST(ReadPatch, ControllersAreReadIntoFreshSlots) {
  Patch patch;
  const std::string text = patch_text(
      R"("grain.rate.controller.0": {"type": "random", "amount": 0.5, "walk": 0.2},)"
      R"("grain.rate.controller.1": {"type": "wobble", "amount": 0.5},)"
      R"("grain.decay.controller.0": {"type": "midi", "amount": 0.5, "x": 1, "y": 1},)"
      R"("grain.decay": 0.5,)"
      R"("sound.play_position.controller.0": {"type": "inner", "amount": 0.5, "param": "grain.pan"},)"
      R"("dist.tone.controller.0": {"type": "lfo", "amount": 0.5, "skew": 0.1})");
  ASSERT_TRUE(read_patch(patch, json(text)));
  const Controller& random = patch.params[4].controllers[0];
  EXPECT_EQ(random.type, 1);
  EXPECT_EQ(random.params[0], 0.2);
  EXPECT_EQ(random.params[1], 0);  // spread missing: 0
  // An unknown type reads as an empty slot.
  EXPECT_EQ(patch.params[4].controllers[1].type, 0);
  // Decay keeps its controller.
  EXPECT_EQ(patch.params[10].controllers[0].type, 4);
  EXPECT_EQ(patch.params[3].controllers[0].type, 6);
  EXPECT_EQ(patch.params[3].controllers[0].params[0], 12);
  // "dist.tone" has no controller slot.
  EXPECT_EQ(patch.params[15].controllers[0].type, 0);
}

TEST(ReadPatch, EnvelopeRepairs) {
  const auto envelope = [](const std::string& points) {
    return std::string(R"({"timestamp": 5, "adsr1.points": )") + points + "}";
  };
  const std::string p0 = R"({"delta": 0, "level": 0, "curve": 0})";
  const std::string p1 = R"({"delta": 20, "level": 0.9, "curve": 0})";
  const std::string p4 = R"({"delta": 50000, "level": 0, "curve": 0})";
  const auto point = [](double delta, double level, double curve) {
    return "{\"delta\": " + std::to_string(delta) + ", \"level\": " + std::to_string(level) +
           ", \"curve\": " + std::to_string(curve) + "}";
  };
  const std::vector<double> defaults = {0, 0, 0, 12.5, 1, 0, 100, 0.8, 0, 2700, 0.8, 0, 100000, 0, 0};
  struct Case {
    std::string object;
    std::vector<double> expected;  // the 15 values of envelope 1
  };
  const std::vector<Case> cases = {
      // Read as written.
      {envelope("[" + p0 + "," + p1 + "," + point(200, 0.5, 0) + "," + point(300, 0.5, 0) + "," + p4 + "]"),
       {0, 0, 0, 20, 0.9, 0, 200, 0.5, 0, 300, 0.5, 0, 50000, 0, 0}},
      // Four points, or no array: the default envelope.
      {envelope("[" + p0 + "," + p1 + "," + point(200, 0.5, 0) + "," + p4 + "]"), defaults},
      {envelope("{}"), defaults},
      // Sustain levels of points 2 and 3 that differ: both take point 3's default.
      {envelope("[" + p0 + "," + p1 + "," + point(200, 0.5, 0) + "," + point(300, 0.6, 0) + "," + p4 + "]"),
       {0, 0, 0, 20, 0.9, 0, 200, 0.8, 0, 300, 0.8, 0, 50000, 0, 0}},
      // Out of range values are replaced one by one.
      {envelope("[" + p0 + "," + point(-1, 2, 0) + "," + point(200, 0.5, 0) + "," + point(300, 0.5, 0) +
                "," + p4 + "]"),
       {0, 0, 0, 12.5, 1, 0, 200, 0.5, 0, 300, 0.5, 0, 50000, 0, 0}},
      // Eight repairs or more: the whole envelope is reset (five curves, three tiny values).
      {envelope("[" + point(0, 0, 1) + "," + point(0.1, 0.001, 1) + "," + point(0.5, 0.5, 1) + "," +
                point(300, 0.5, 1) + "," + point(50000, 0, 1) + "]"),
       defaults},
      // Seven repairs: kept.
      {envelope("[" + point(0, 0, 1) + "," + point(0.1, 0.001, 1) + "," + point(200, 0.5, 1) + "," +
                point(300, 0.5, 1) + "," + point(50000, 0, 1) + "]"),
       {0, 0, 1, 0.1, 0.001, 1, 200, 0.5, 1, 300, 0.5, 1, 50000, 0, 1}},
  };
  for (const Case& c : cases) {
    Patch patch;
    ASSERT_TRUE(read_patch(patch, json(c.object))) << c.object;
    for (int i = 0; i < 15; ++i) EXPECT_DOUBLE_EQ(patch.params[25 + i].value, c.expected[i]) << c.object << " " << i;
    // The other envelope had no member: its defaults.
    EXPECT_EQ(patch.params[40 + 4].value, 1);
  }
}

TEST(KeyPatch, SlotIndexOfAStateMember) {
  const std::vector<std::pair<std::wstring, int>> cases = {
      {L"patch.12", 12},  {L"patch.0", 0},   {L"patch.3b", 3},    {L"patch. 7", 7},
      {L"patch.+5", 5},   {L"patch.-2", -2}, {L"pitch.1", -1},    {L"patch", -1},
      {L"patch.", -1},    {L"patch.x", -1},  {L"patch.-", -1},    {L"Patch.1", -1},
      {L"patch.99999999999", -1}, {L"patch.2147483647", 2147483647}, {L"apply.changetime", -1},
  };
  for (const auto& [key, expected] : cases)
    EXPECT_EQ(key_patch(key), expected) << std::string(key.begin(), key.end());
}

TEST(TextConversion, Utf8AndWideText) {
  const std::vector<std::pair<std::string, std::wstring>> cases = {
      {"", L""},
      {"rain.wav", L"rain.wav"},
      {"caf\xc3\xa9", L"caf\u00e9"},
      {"\xe2\x82\xac", L"\u20ac"},
      {"\xf0\x9f\x98\x80", L"\U0001F600"},  // one character, not a surrogate pair
      {"\xf4\x8f\xbf\xbf", L"\U0010FFFF"},
  };
  for (const auto& [narrow, wide] : cases) {
    EXPECT_EQ(to_wide(narrow), wide) << narrow;
    EXPECT_EQ(to_wide(narrow.c_str(), CodePage::UTF8), wide) << narrow;
    EXPECT_EQ(to_narrow(wide), narrow) << narrow;
  }
  // Text ends at the first NUL.
  EXPECT_EQ(to_narrow(std::wstring(L"ab\0cd", 5)), "ab");
}

TEST(TextConversion, InvalidInputThrows) {
  for (const std::string bad : {"\xff", "a\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                                "\xf4\x90\x80\x80", "\x80", "\xc3\x28", "\xf0\x9f\x98"})
    EXPECT_THROW(to_wide(bad), std::range_error) << bad.size();
  for (const wchar_t bad : {wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000)})
    EXPECT_THROW(to_narrow(std::wstring(L"a") + bad), std::range_error);
  EXPECT_EQ(scalar_values_only(std::wstring(L"a") + wchar_t(0xDC00)), L"a\ufffd");
}

}  // namespace
}  // namespace korvel::vimble
