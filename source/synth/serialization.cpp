// Patch serialization: patches to JSON objects and back; UTF-8 <-> wide text.
#include "synth/serialization.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace korvel::vimble::serialization {

const std::array<ControllerNames, 9> Controller_By_Type = {{
    {ParamControl::CT_None, L"empty", nullptr, nullptr, nullptr},
    {ParamControl::CT_Random, L"random", L"walk", L"spread", nullptr},
    {ParamControl::CT_AmpNoise, L"amp_noise", L"offset", L"mix", nullptr},
    {ParamControl::CT_LFO, L"lfo", L"skew", L"clip", L"freq"},
    {ParamControl::CT_MIDI, L"midi", L"x", L"y", nullptr},
    {ParamControl::CT_ADSR, L"adsr_mix", L"mix", nullptr, nullptr},
    {ParamControl::CT_Inner1, L"inner", L"param", nullptr, nullptr},
    {ParamControl::CT_Inner2, L"inner_2", L"param", nullptr, nullptr},
    {ParamControl::CT_Inner3, L"inner_3", L"param", nullptr, nullptr},
}};

namespace {

std::map<std::wstring, ControllerNames> make_controller_by_name() {
  std::map<std::wstring, ControllerNames> by_name;
  for (const ControllerNames& names : Controller_By_Type)
    if (names.type != ParamControl::CT_None) by_name.emplace(names.name, names);
  return by_name;
}

// Ids that patches store (0..61); 62, the sound file, travels as the patch's own text.
constexpr int PATCH_PARAM_COUNT = 62;
constexpr int ID_PLAY_POSITION = 3;
constexpr int ID_DENSITY = 6;
constexpr int ID_ATTACK = 9;
constexpr int ID_DECAY = 10;
constexpr int ID_SOUND_START = 0;
constexpr int ID_SOUND_END = 1;
constexpr int ID_TIMESTAMP = 55;
constexpr int ADSR1_BASE = 25;
constexpr int ADSR2_BASE = 40;
constexpr int ADSR_VALUES = 15;  // five points of delta, level and curve
// Parameter ids an internal controller may follow (the store's values 0..23).
constexpr double MAX_INNER_PARAM = 23;
// A patch with more damaged values than this is refused as a whole.
constexpr int MAX_REPAIRS = 14;
// With a sound named, a stored selection shorter than this (frames) means "the whole sound".
constexpr double MIN_SELECTION_FRAMES = 500;
// The largest frame position a selection can hold (the engine counts frames in 32 bits).
constexpr double MAX_FRAME_POSITION = 2147483647.0;
// Seconds since 1970 that a stored patch can carry (the timestamp's range).
constexpr double MAX_TIMESTAMP = 1e11;

bool is_adsr_point(int id) {
  return (id > ADSR1_BASE && id < ADSR1_BASE + ADSR_VALUES) ||
         (id > ADSR2_BASE && id < ADSR2_BASE + ADSR_VALUES);
}

// Below the lower bound gives the lower bound, above the upper bound the upper one. Not a number
// gives the lower bound, so that no NaN from a damaged file reaches the engine.
double clamp(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;
  return v > hi ? hi : v;
}

bool in_range(double v, const ParamInfo& info) {
  return v >= info.defaults.min && v <= info.defaults.max;
}

// The first 12 characters of the envelope's first parameter name: "adsr1.points".
std::wstring envelope_key(int base) { return ParamInfo::getParamInfo(base).wide_name.substr(0, 12); }

std::wstring controller_key(const ParamInfo& info, int slot) {
  return info.wide_name + L".controller." + std::to_wstring(slot);
}

bool is_number(const JSON::Value& value) { return value.kind() == JSON::Value::Number; }

// The reader does not combine "\ud83d\ude00" escapes: put such pairs back together so that a
// sound file name outside the basic plane survives a save and load.
std::wstring combine_surrogates(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto high = static_cast<uint32_t>(text[i]);
    if (high >= 0xD800 && high < 0xDC00 && i + 1 < text.size()) {
      const auto low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        out += static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

bool is_scalar_value(uint32_t code) { return code < 0xD800 || (code >= 0xE000 && code <= 0x10FFFF); }

// Reads one envelope (base 25 or 40) from its array of five points. Returns the number of
// repairs J (0 when the envelope was replaced by its defaults for a wrong point count).
int read_envelope(SynthParams::Patch& patch, int base, const JSON::Value& points) {
  const JSON::Deque& array = points.get_array();
  if (array.size() != 5) {
    set_default_adsr(base, patch);
    return 0;
  }
  static const wchar_t* const MEMBERS[3] = {L"delta", L"level", L"curve"};
  int repairs = 0;
  for (int k = 0; k < 5; ++k) {
    const JSON::Value& point = array[static_cast<size_t>(k)];
    for (int j = 0; j < 3; ++j) {
      const int id = base + 3 * k + j;
      const ParamInfo& info = ParamInfo::getParamInfo(id);
      const JSON::Value& member = point[MEMBERS[j]];
      const double v = is_number(member) ? member.get_number() : -100.0;
      const bool replaced = !in_range(v, info);
      const double stored = replaced ? info.defaults.value : v;
      patch.params[id].value = stored;
      if (j == 2)
        repairs += (replaced || stored != 0) ? 1 : 0;
      else
        repairs += (replaced || stored < 0.01 * info.defaults.value) ? 1 : 0;
    }
    if (k == 3) {
      // Points 2 and 3 hold the sustain level: they are one value.
      const int level2 = base + 3 * 2 + 1;
      const int level3 = base + 3 * 3 + 1;
      if (patch.params[level3].value != patch.params[level2].value) {
        const double level = ParamInfo::getParamInfo(level3).defaults.value;
        patch.params[level2].value = level;
        patch.params[level3].value = level;
        ++repairs;
      }
    }
  }
  if (repairs >= 8) set_default_adsr(base, patch);
  return repairs;
}

// Reads the controller members of one parameter into its slots; returns the failures.
int read_controllers(SynthParams::Patch& patch, const ParamInfo& info, const JSON::Value& object) {
  int failures = 0;
  for (int slot = 0; slot < info.nof_controls; ++slot) {
    const JSON::Value& member = object[controller_key(info, slot)];
    if (member.kind() != JSON::Value::Object) continue;
    PatchParam::PatchController read{};
    if (read_controller(read, member))
      patch.params[info.id].controllers[slot] = read;
    else
      ++failures;
  }
  return failures;
}

}  // namespace

const std::map<std::wstring, ControllerNames> Controller_By_Name = make_controller_by_name();

JSON::Value encode_controller(const PatchParam::PatchController& slot) {
  if (slot.type <= ParamControl::CT_None || slot.type > ParamControl::CT_Inner3) return {};
  const ControllerNames& names = Controller_By_Type[static_cast<size_t>(slot.type)];
  JSON::Map members;
  members[L"type"] = names.name;
  members[L"amount"] = slot.amount;
  if (slot.type >= ParamControl::CT_Inner1) {
    const double x = slot.params[0];
    // Truncated like any id; a value that is no id at all names nothing.
    const int id = (x > -1 && x < NUM_PARAM_IDS) ? static_cast<int>(x) : -1;
    const ParamInfo& info = ParamInfo::getParamInfo(id);
    if (info.id < 0) return {};
    members[names.x] = info.wide_name;
  } else {
    members[names.x] = slot.params[0];
  }
  if (names.y) members[names.y] = slot.params[1];
  if (names.par3) members[names.par3] = slot.params[2];
  return JSON::Value(std::move(members));
}

JSON::Value to_json(const SynthParams::Patch& patch, ParamInfo::ParamGroup groups) {
  JSON::Map members;
  for (int id = 0; id < ID_TIMESTAMP; ++id) {
    const ParamInfo& info = ParamInfo::getParamInfo(id);
    if (info.wide_name.empty() || (info.group & groups) == 0) continue;
    if (id == ADSR1_BASE || id == ADSR2_BASE) {
      JSON::Deque points;
      for (int k = 0; k < 5; ++k) {
        JSON::Map point;
        point[L"delta"] = patch.params[id + 3 * k].value;
        point[L"level"] = patch.params[id + 3 * k + 1].value;
        point[L"curve"] = patch.params[id + 3 * k + 2].value;
        points.emplace_back(std::move(point));
      }
      members[envelope_key(id)] = JSON::Value(std::move(points));
      continue;
    }
    if (is_adsr_point(id)) continue;
    if (id != ID_PLAY_POSITION) members[info.wide_name] = patch.params[id].value;
    for (int slot = 0; slot < info.nof_controls; ++slot) {
      const PatchParam::PatchController& controller = patch.params[id].controllers[slot];
      if (controller.type <= ParamControl::CT_None || controller.type > ParamControl::CT_Inner3)
        continue;
      members[controller_key(info, slot)] = encode_controller(controller);
    }
  }
  members[L"timestamp"] = patch.params[ID_TIMESTAMP].value;
  if (!patch.soundfile.empty()) members[L"soundfile"] = scalar_values_only(patch.soundfile);
  return JSON::Value(std::move(members));
}

bool read_controller(PatchParam::PatchController& slot, const JSON::Value& object) {
  const JSON::Value& type = object[L"type"];
  if (type.kind() != JSON::Value::String) return true;
  const auto found = Controller_By_Name.find(type.get_string());
  if (found == Controller_By_Name.end()) return true;
  const JSON::Value& amount = object[L"amount"];
  if (!is_number(amount) || std::isnan(amount.get_number())) return true;

  const ControllerNames& names = found->second;
  const bool inner = names.type >= ParamControl::CT_Inner1;
  const JSON::Value& x = object[names.x];
  if (is_number(x)) {
    slot.type = names.type;
    slot.params[0] = clamp(x.get_number(), 0, inner ? MAX_INNER_PARAM : 1);
  } else if (x.kind() == JSON::Value::String) {
    const ParamInfo& info = ParamInfo::getParamInfo(x.get_string());
    if (info.id >= 0 && info.wide_name == x.get_string()) {
      slot.type = names.type;
      slot.params[0] = info.id;
    }
  } else {
    return false;
  }
  if (slot.type == ParamControl::CT_None) return false;

  const auto optional = [&object](const wchar_t* name) {
    if (!name) return 0.0;
    const JSON::Value& member = object[name];
    return clamp(is_number(member) ? member.get_number() : 0.0, 0, 1);
  };
  slot.params[1] = optional(names.y);
  slot.params[2] = optional(names.par3);
  slot.amount = clamp(amount.get_number(), -1, 1);
  return true;
}

void reset_patch(SynthParams::Patch& patch) {
  patch.clear();
  for (int id = 0; id < PATCH_PARAM_COUNT; ++id)
    patch.params[id].value = id == ID_TIMESTAMP ? 0.0 : ParamInfo::getParamInfo(id).defaults.value;
}

void set_default_adsr(int base, SynthParams::Patch& patch) {
  for (int id = base; id < base + ADSR_VALUES; ++id)
    patch.params[id].value = ParamInfo::getParamInfo(id).defaults.value;
}

bool read_patch(SynthParams::Patch& patch, const JSON::Value& object) {
  const JSON::Value& timestamp = object[L"timestamp"];
  // A timestamp that is no finite number cannot mark a stored patch.
  if (!is_number(timestamp) || !std::isfinite(timestamp.get_number())) return false;

  int repairs = 0;
  for (int id = 0; id < PATCH_PARAM_COUNT; ++id) {
    if (id == ID_DENSITY || is_adsr_point(id)) continue;
    const ParamInfo& info = ParamInfo::getParamInfo(id);
    if (id == ADSR1_BASE || id == ADSR2_BASE) {
      repairs += read_envelope(patch, id, object[envelope_key(id)]) / 2;
      continue;
    }
    const JSON::Value& member = object[info.wide_name];
    const double v = is_number(member) ? member.get_number() : 0.0;
    if (id == ID_DECAY) {
      // Any kind reads (a missing decay is 0); decay is never shorter than the attack.
      const double decay = in_range(v, info) ? v : info.defaults.value;
      patch.params[id].value = std::max(decay, patch.params[ID_ATTACK].value);
      repairs += read_controllers(patch, info, object);
      continue;
    }
    if (id != ID_PLAY_POSITION) {
      const JSON::Value::Kind kind = member.kind();
      if (kind == JSON::Value::String || kind == JSON::Value::Null) continue;
      if (kind != JSON::Value::Number) return false;
    }
    bool valid = in_range(v, info);
    if (id == ID_SOUND_START || id == ID_SOUND_END) {
      // Frame positions in a sound whose length is not known here (the table's range is 0..0):
      // any frame position is kept, and applying the patch fits the selection into the sound.
      valid = v >= 0 && v <= MAX_FRAME_POSITION;
    }
    patch.params[id].value = valid ? v : info.defaults.value;
    if (!valid) ++repairs;
    repairs += read_controllers(patch, info, object);
  }
  if (repairs > MAX_REPAIRS) return false;

  // Kept within its range, so that every number of a state text reads back as it was written.
  patch.params[ID_TIMESTAMP].value = clamp(timestamp.get_number(), 0, MAX_TIMESTAMP);
  const JSON::Value& soundfile = object[L"soundfile"];
  patch.soundfile =
      soundfile.kind() == JSON::Value::String ? combine_surrogates(soundfile.get_string()) : L"";
  if (!patch.soundfile.empty() && patch.params[ID_SOUND_END].value <
                                      patch.params[ID_SOUND_START].value + MIN_SELECTION_FRAMES)
    patch.params[ID_SOUND_END].value = -1;
  return true;
}

int key_patch(const std::wstring& key) noexcept {
  static const std::wstring PREFIX = L"patch.";
  if (key.compare(0, PREFIX.size(), PREFIX) != 0) return -1;
  size_t i = PREFIX.size();
  // Blanks as the C locale knows them: space, tab, line feed, vertical tab, form feed, return.
  while (i < key.size() && (key[i] == L' ' || (key[i] >= L'\t' && key[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < key.size() && (key[i] == L'+' || key[i] == L'-')) negative = key[i++] == L'-';
  long long n = 0;
  size_t digits = 0;
  for (; i < key.size() && key[i] >= L'0' && key[i] <= L'9'; ++i, ++digits) {
    n = n * 10 + (key[i] - L'0');
    if (n > std::numeric_limits<int>::max() + 1LL) return -1;
  }
  if (digits == 0) return -1;
  if (negative) n = -n;
  if (n > std::numeric_limits<int>::max() || n < std::numeric_limits<int>::min()) return -1;
  return static_cast<int>(n);
}

std::wstring to_wide(const std::string& text, CodePage::Specifier) {
  std::wstring out;
  out.reserve(text.size());
  const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
  for (size_t i = 0; i < text.size();) {
    const uint8_t lead = byte(i);
    int count;
    uint32_t code;
    uint32_t least;
    if (lead < 0x80) {
      count = 0, code = lead, least = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      count = 1, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      count = 2, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      count = 3, code = lead & 0x07, least = 0x10000;
    } else {
      throw std::range_error("to_wide: invalid UTF-8 lead byte");
    }
    if (i + count >= text.size())
      throw std::range_error("to_wide: UTF-8 sequence cut short");
    for (int k = 1; k <= count; ++k) {
      const uint8_t next = byte(i + k);
      if ((next & 0xC0) != 0x80) throw std::range_error("to_wide: invalid UTF-8 continuation");
      code = (code << 6) | (next & 0x3F);
    }
    if (code < least || !is_scalar_value(code))
      throw std::range_error("to_wide: invalid UTF-8 sequence");
    out += static_cast<wchar_t>(code);
    i += static_cast<size_t>(count) + 1;
  }
  return out;
}

std::wstring to_wide(const char* text, CodePage::Specifier specifier) {
  return to_wide(std::string(text ? text : ""), specifier);
}

std::string to_narrow(const std::wstring& text, CodePage::Specifier) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t character : text) {
    const auto code = static_cast<uint32_t>(character);
    if (code == 0) break;
    if (!is_scalar_value(code)) throw std::range_error("to_narrow: not a Unicode character");
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::wstring scalar_values_only(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& character : out)
    if (!is_scalar_value(static_cast<uint32_t>(character))) character = static_cast<wchar_t>(0xFFFD);
  return out;
}

}  // namespace korvel::vimble::serialization
