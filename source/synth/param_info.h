// The parameter table: one immutable record per parameter id (name, unit, group, range, scaling).
//
//   const ParamInfo& info = ParamInfo::getParamInfo(4);           // "grain.rate"
//   double rate = info.normal_to_scaled(0.5);                      // 2500 per second
//   int id = ParamInfo::getParamInfo(L"grain.length").id;          // 5
//
// The table is built during static initialisation and never changes afterwards; every thread may
// read it without locking. The ranges of "sound.start" and "sound.end" follow the sound of each
// parameter store and live there (SynthParams::scaling), not here: here both stay 0..0.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "synth/scaling.h"

namespace korvel::vimble {

inline constexpr int NUM_PARAM_IDS = 180;
// Ids 0..62 hold values of their own; 63..172 are controller sub-parameters.
inline constexpr int NUM_VALUE_PARAMS = 63;
inline constexpr int FIRST_CONTROL_ID = 63;
inline constexpr int LAST_CONTROL_ID = 172;

class ParamInfo {
 public:
  enum Scaling_Type : int32_t {
    ST_Inverse = -1,
    ST_None = 0,
    ST_Linear = 1,
    ST_Cubic = 3,
    ST_Integer = 10,
    ST_Switch = 20,
    ST_Plain = 100,
    ST_Absolute = 113,
    ST_AsymCubic75 = 1002,
    ST_AsymCubic67 = 1007,
  };

  enum ParamGroup : int32_t {
    PG_None = 0,
    PG_Sound = 1,
    PG_Synth = 2,
    PG_Effects = 4,
    PG_Controls = 8,
    PG_ADSR = 16,
    PG_Patches = 32,
    PG_Options = 64,
    PG_All = 127,
    PG_ApplyMask = 128,
    PG_ValuesChanged = 512,
    PG_TypeChanged = 1024,
  };

  struct Defaults {
    double value = 0;
    double min = 0;
    double max = 1;
    Scaling_Type scaling_type = ST_Cubic;
  };

  static constexpr size_t NAME_SIZE = 40;

  ParamInfo();  // the default item: id -1, no name, {0, 0, 1, ST_Cubic}
  ParamInfo(int id, const char* name, const char* unit, int group, Defaults defaults,
            int nof_controls = 0, int control_id = -1);
  ParamInfo(const ParamInfo& other);  // makes its own scaling object from the copied defaults
  ParamInfo& operator=(const ParamInfo& other);
  ~ParamInfo() = default;

  // The record of an id, or the default item when the table has none. Never fails.
  static const ParamInfo& getParamInfo(int id);
  // Main parameters by name ("grain.rate"); controller sub-parameter names are not looked up.
  static const ParamInfo& getParamInfo(const std::wstring& name);

  // 0 for ST_None; the scaling's conversion; else the input unchanged.
  double normal_to_scaled(double n) const;
  double scaled_to_normal(double s) const;
  bool is_automatable() const { return defaults.scaling_type != ST_None; }
  bool is_control() const { return base != nullptr; }

  static std::string get_control_name(const ParamInfo& base, int slot, int sub);
  static const char* get_control_unit(int sub);
  static Defaults get_control_defaults(int sub);
  // Short label of a sub-parameter's base for the controller views ("AMP", "PAN", ...).
  static const char* get_control_label(int id);
  static const std::map<int, ParamInfo>& param_list();

  int id = -1;
  int16_t nof_controls = 0;
  int16_t control_id = -1;
  const ParamInfo* base = nullptr;
  int16_t control_index = -1;
  int16_t sub_index = -1;
  ParamGroup group = PG_None;
  char name[NAME_SIZE] = {};
  const char* unit = "";
  std::wstring wide_name;
  Defaults defaults;
  std::unique_ptr<const Scaling> scaling;  // immutable: the table never changes after start-up
};

// A range with its scaling, shared (used by the controller descriptions).
struct ScalingInfo {
  ScalingInfo(ParamInfo::Defaults defaults);
  ScalingInfo(double value, double min, double max, ParamInfo::Scaling_Type type)
      : ScalingInfo(ParamInfo::Defaults{value, min, max, type}) {}

  ParamInfo::Defaults defaults;
  std::shared_ptr<const Scaling> scaling;  // empty when min and max are both 0
};

// The scaling object for a parameter's defaults, owned by the caller; null for the scaling types
// that convert without an object (ST_None, ST_Plain and unknown types).
Scaling* make_scaling(ParamInfo::Defaults defaults);

}  // namespace korvel::vimble
