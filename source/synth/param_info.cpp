// The parameter table: the main records, the generated controller sub-parameters, the lookups.
#include "synth/param_info.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

namespace korvel::vimble {

Scaling* make_scaling(ParamInfo::Defaults d) {
  switch (d.scaling_type) {
    case ParamInfo::ST_Inverse: return new InvScaling(d.max, d.min);
    case ParamInfo::ST_Linear:
      return d.min < 0 ? static_cast<Scaling*>(new BipolarScaling(d.max)) : new Scaling(d.max, d.min);
    case ParamInfo::ST_Cubic:
      return d.min < 0 ? static_cast<Scaling*>(new BiCubicScaling(d.max))
                       : new CubicScaling(d.max, d.min);
    case ParamInfo::ST_Integer:
    case ParamInfo::ST_Switch: return new IntScaling(d.max, d.min);
    case ParamInfo::ST_Absolute: return new AbsoluteScaling(d.max);
    case ParamInfo::ST_AsymCubic75: return new AsymmetricBiCubicScaling(0.75, d.max);
    case ParamInfo::ST_AsymCubic67: return new AsymmetricBiCubicScaling(2.0 / 3.0, d.max);
    default: return nullptr;  // ST_None, ST_Plain and unknown types
  }
}

ParamInfo::ParamInfo() = default;

ParamInfo::ParamInfo(int id, const char* name_text, const char* unit, int group, Defaults defaults,
                     int nof_controls, int control_id)
    : id(id),
      nof_controls(static_cast<int16_t>(nof_controls)),
      control_id(static_cast<int16_t>(control_id)),
      group(static_cast<ParamGroup>(group)),
      unit(unit),
      defaults(defaults),
      scaling(make_scaling(defaults)) {
  // The name key keeps at most 40 bytes; the wide name is the whole text widened byte by byte.
  std::memcpy(name, name_text, std::min(std::strlen(name_text), NAME_SIZE));
  for (const char* c = name_text; *c; ++c) wide_name.push_back(static_cast<unsigned char>(*c));
}

ParamInfo::ParamInfo(const ParamInfo& o)
    : id(o.id),
      nof_controls(o.nof_controls),
      control_id(o.control_id),
      base(o.base),
      control_index(o.control_index),
      sub_index(o.sub_index),
      group(o.group),
      unit(o.unit),
      wide_name(o.wide_name),
      defaults(o.defaults),
      scaling(make_scaling(o.defaults)) {
  std::memcpy(name, o.name, NAME_SIZE);
}

ParamInfo& ParamInfo::operator=(const ParamInfo& o) {
  if (this != &o) {
    ParamInfo copy(o);
    id = copy.id;
    nof_controls = copy.nof_controls;
    control_id = copy.control_id;
    base = copy.base;
    control_index = copy.control_index;
    sub_index = copy.sub_index;
    group = copy.group;
    std::memcpy(name, copy.name, NAME_SIZE);
    unit = copy.unit;
    wide_name = std::move(copy.wide_name);
    defaults = copy.defaults;
    scaling = std::move(copy.scaling);
  }
  return *this;
}

double ParamInfo::normal_to_scaled(double n) const {
  if (defaults.scaling_type == ST_None) return 0;
  return scaling ? scaling->normal_to_scaled(n) : n;
}

double ParamInfo::scaled_to_normal(double s) const {
  if (defaults.scaling_type == ST_None) return 0;
  return scaling ? scaling->scaled_to_normal(s) : s;
}

// --- controller sub-parameters ---

namespace {

constexpr const char* CONTROL_LABELS[5] = {"type", "amount", "x", "y", "par3"};
constexpr const char* CONTROL_UNITS[5] = {"type", "%", "x", "y", "rate"};

}  // namespace

std::string ParamInfo::get_control_name(const ParamInfo& base, int slot, int sub) {
  char text[NAME_SIZE + 32];
  std::snprintf(text, sizeof text, "%.*s.contr%i.%s", static_cast<int>(NAME_SIZE), base.name, slot,
                CONTROL_LABELS[sub]);
  return text;
}

const char* ParamInfo::get_control_unit(int sub) { return CONTROL_UNITS[sub]; }

ParamInfo::Defaults ParamInfo::get_control_defaults(int sub) {
  static constexpr Defaults DEFAULTS[5] = {
      {0, 0, 8, ST_Integer},    // type
      {0.5, -1, 1, ST_Linear},  // amount, bipolar
      {0, 0, 1, ST_Plain},      // x
      {0, -1, 1, ST_Inverse},   // y
      {0, 0, 1, ST_Plain},      // par3
  };
  return DEFAULTS[sub];
}

const char* ParamInfo::get_control_label(int id) {
  const ParamInfo* base = getParamInfo(id).base;
  if (!base) return "";
  switch (base->id) {
    case 9: return "ATTACK";
    case 10: return "DECAY";
    case 11: return "AMP";
    case 12: return "PAN";
    case 13: return "CLIP";
    case 14: return "CRUSH";
    case 16: return "FREQS";
    case 18: return "MIX";
    case 23: return "DELTIME";
    case 24: return "FEEDBK";
    default: return "";
  }
}

// --- the table ---

namespace {

struct Table {
  std::map<int, ParamInfo> param_list;
  std::map<std::wstring, int> param_name_ids;
};

using PI = ParamInfo;

void add(Table& t, int id, const char* name, const char* unit, int group, PI::Defaults d,
         int nof_controls = 0, int control_id = -1) {
  t.param_list.emplace(std::piecewise_construct, std::forward_as_tuple(id),
                       std::forward_as_tuple(id, name, unit, group, d, nof_controls, control_id));
}

void add_main_records(Table& t) {
  constexpr int FX = PI::PG_Synth | PI::PG_Effects;
  add(t, 0, "sound.start", "samples", PI::PG_Sound, {0, 0, 0, PI::ST_Integer});
  add(t, 1, "sound.end", "samples", PI::PG_Sound, {0, 0, 0, PI::ST_Integer});
  add(t, 2, "sound.play_rate", "rate", PI::PG_Synth, {1, -25, 25, PI::ST_AsymCubic75}, 2, 63);
  add(t, 3, "sound.play_position", "n/a", PI::PG_Synth, {0, 0, 0, PI::ST_None}, 2, 73);
  add(t, 4, "grain.rate", "sec", PI::PG_Synth, {20, 1.0 / 60, 2000, PI::ST_Cubic}, 2, 83);
  add(t, 5, "grain.length", "ms", PI::PG_Synth, {100, 0.1, 10000, PI::ST_Cubic}, 2, 93);
  add(t, 6, "grain.density", "n/a", PI::PG_None, {0, 0, 2000, PI::ST_None});
  add(t, 7, "grain.freq", "semis", PI::PG_Synth, {1, -37, 37, PI::ST_AsymCubic67}, 2, 103);
  add(t, 8, "grain.gliss", "semis", PI::PG_Synth, {0, 0, 25, PI::ST_Cubic}, 2, 113);
  add(t, 9, "grain.attack", "%", PI::PG_Synth, {0.5, 0, 1, PI::ST_Linear}, 1, 123);
  add(t, 10, "grain.decay", "%", PI::PG_Synth, {0.5, 0, 1, PI::ST_Linear}, 1, 128);
  add(t, 11, "grain.amp", "%", PI::PG_Synth, {0.93, 0, 3, PI::ST_Cubic}, 1, 133);
  add(t, 12, "grain.pan", "%", PI::PG_Synth, {0, 0, 1, PI::ST_Linear}, 1, 138);
  add(t, 13, "dist.clip", "mult", FX, {0, 0, 30, PI::ST_Cubic}, 1, 143);
  add(t, 14, "dist.bitcrush", "bits", FX, {14, 0, 14, PI::ST_Inverse}, 1, 148);
  add(t, 15, "dist.tone", "%", FX, {50, 0, 100, PI::ST_Cubic});
  add(t, 16, "filter.freq", "herz", FX, {1200, 50, 8000, PI::ST_Cubic}, 1, 153);
  add(t, 17, "filter.width", "Q", FX, {0.5, 0, 1, PI::ST_Linear});
  add(t, 18, "filter.low", "rate", FX, {0, 0, 1, PI::ST_Cubic}, 1, 158);
  add(t, 19, "filter.mid", "rate", FX, {0, 0, 1, PI::ST_Cubic});
  add(t, 20, "filter.high", "rate", FX, {0, 0, 1, PI::ST_Cubic});
  add(t, 21, "filter2.freq", "herz", FX, {1200, 50, 10000, PI::ST_Cubic});
  add(t, 22, "filter2.width", "Q", FX, {0.5, 0, 1, PI::ST_Linear});
  add(t, 23, "delay.time", "millis", FX, {0, 0, 10000, PI::ST_Cubic}, 1, 163);
  add(t, 24, "delay.feedback", "rate", FX, {0, 0, 1, PI::ST_Linear}, 1, 168);

  // Two envelopes of five breakpoints, three parameters (delta, level, curve) per point.
  static constexpr double DELTAS[2][5] = {{0, 12.5, 100, 2700, 100000}, {0, 800, 2700, 800, 100000}};
  static constexpr double LEVELS[2][5] = {{0, 1, 0.8, 0.8, 0}, {0, 1, 0.4, 0.4, 0}};
  char n[32];
  for (int a = 0; a < 2; ++a) {
    for (int p = 0; p < 5; ++p) {
      const int id = 25 + 15 * a + 3 * p;
      const double delta_max = p == 0 ? 0 : p == 4 ? 100000 : 10000;
      std::snprintf(n, sizeof n, "adsr%i.points.%i.delta", a + 1, p);
      add(t, id, n, "millis", PI::PG_ADSR, {DELTAS[a][p], 0, delta_max, PI::ST_Cubic});
      std::snprintf(n, sizeof n, "adsr%i.points.%i.level", a + 1, p);
      add(t, id + 1, n, "rate", PI::PG_ADSR, {LEVELS[a][p], 0, 1, PI::ST_Cubic});
      std::snprintf(n, sizeof n, "adsr%i.points.%i.curve", a + 1, p);
      add(t, id + 2, n, "n/a", PI::PG_ADSR, {0, 0, 1, PI::ST_None});
    }
  }

  add(t, 55, "timestamp", "epoch", PI::PG_None, {0, 0, 100000000000.0, PI::ST_None});
  add(t, 56, "apply.changetime", "secs", PI::PG_Options, {1, 0, 600, PI::ST_Cubic});
  add(t, 57, "density.compensation", "rate", PI::PG_Options, {1, 0, 2, PI::ST_Linear});
  add(t, 58, "apply.patch_random", "rate", PI::PG_Options, {0, 0, 1, PI::ST_Linear});
  add(t, 59, "apply.patch_soundfile", "y/n", PI::PG_Options, {1, 0, 1, PI::ST_Switch});
  add(t, 60, "apply.patch_controls", "y/n", PI::PG_Options, {1, 0, 1, PI::ST_Switch});
  add(t, 61, "apply.patch_globals", "y/n", PI::PG_Options, {0, 0, 1, PI::ST_Switch});
  add(t, 62, "soundfile", "name", PI::PG_Sound, {0, 0, 0, PI::ST_None});
  add(t, 174, "patch_drop", "n/a", PI::PG_None, {0, 0, 0, PI::ST_None});
  add(t, 175, "tooltips", "on/off", PI::PG_None, {0, 0, 1, PI::ST_Switch});
  add(t, 176, "start/stop", "on/off", PI::PG_None, {1, 0, 1, PI::ST_Switch});
  add(t, 177, "record_clip", "on/off", PI::PG_None, {0, 0, 1, PI::ST_Switch});
}

// Names of the main parameters enter the name index; the generated sub-parameters are added to
// the table after the walk and so are found by id only.
void add_control_records(Table& t) {
  std::map<int, ParamInfo> generated;
  for (const auto& [id, info] : t.param_list) {
    if (!info.wide_name.empty()) t.param_name_ids[info.wide_name] = id;
    for (int k = 0; k < info.nof_controls; ++k) {
      for (int j = 0; j < 5; ++j) {
        const int sub_id = info.control_id + 5 * k + j;
        const std::string name = ParamInfo::get_control_name(info, k, j);
        ParamInfo sub(sub_id, name.c_str(), ParamInfo::get_control_unit(j), PI::PG_Controls,
                      ParamInfo::get_control_defaults(j));
        sub.base = &info;  // map nodes keep their address
        sub.control_index = static_cast<int16_t>(k);
        sub.sub_index = static_cast<int16_t>(j);
        generated.emplace(sub_id, std::move(sub));
      }
    }
  }
  t.param_list.merge(generated);
}

const Table& table() {
  static const Table t = [] {
    Table built;
    add_main_records(built);
    built.param_name_ids.clear();
    add_control_records(built);
    return built;
  }();
  return t;
}

// Built during static initialisation, before any plug-in instance exists.
[[maybe_unused]] const Table& table_at_start = table();

}  // namespace

const std::map<int, ParamInfo>& ParamInfo::param_list() { return table().param_list; }

const ParamInfo& ParamInfo::getParamInfo(int id) {
  static const ParamInfo default_item;
  const auto& list = table().param_list;
  const auto it = list.find(id);
  return it == list.end() ? default_item : it->second;
}

const ParamInfo& ParamInfo::getParamInfo(const std::wstring& name) {
  static const ParamInfo default_item;
  const auto& ids = table().param_name_ids;
  const auto it = ids.find(name);
  return it == ids.end() ? default_item : getParamInfo(it->second);
}

ScalingInfo::ScalingInfo(ParamInfo::Defaults defaults) : defaults(defaults) {
  if (defaults.min != 0 || defaults.max != 0) scaling.reset(make_scaling(defaults));
}

}  // namespace korvel::vimble
