// Patch serialization: one patch as a JSON object and back, and UTF-8 <-> wide text.
//
//   JSON::Value object = serialization::to_json(patch, ParamInfo::PG_All);
//   SynthParams::Patch copy;                          // a fresh patch: all zero, no sound
//   if (serialization::read_patch(copy, object)) use(copy);
//   int slot = serialization::key_patch(L"patch.12");  // 12; -1 for any other key
//
// Reading is forgiving: values out of range fall back to the parameter's default, unknown
// members are ignored, and only a patch that looks badly damaged is refused. Nothing here keeps
// state; every function may run on any thread (none of them is real-time safe: they allocate).
#pragma once

#include <array>
#include <map>
#include <string>

#include "synth/param_info.h"
#include "synth/synth_params.h"
#include "utility/json_value.h"

namespace korvel::vimble {

namespace CodePage {
// Which narrow encoding a text conversion uses. Only UTF-8 exists; the value is kept for callers.
enum Specifier : int { UTF8 = 1536 };
}  // namespace CodePage

namespace serialization {

// A controller type as it appears in patch objects: its name and the member names of its
// x, y and par3 values (null where the type has none).
struct ControllerNames {
  int type;
  const wchar_t* name;
  const wchar_t* x;
  const wchar_t* y;
  const wchar_t* par3;
};

// Indexed by ParamControl::Type (0 "empty" .. 8 "inner_3").
extern const std::array<ControllerNames, 9> Controller_By_Type;
// The types 1..8 by name ("empty" is not in it).
extern const std::map<std::wstring, ControllerNames> Controller_By_Name;

// The patch as an object: a member per parameter of the given groups (ids 0..55, without
// "sound.play_position" and the envelope points), its controller slots, the two envelopes as
// arrays of five points, "timestamp" and, when set, "soundfile". Characters of the sound file
// name that are no Unicode scalar value are written as U+FFFD, so the text always converts.
JSON::Value to_json(const SynthParams::Patch& patch, ParamInfo::ParamGroup groups);

// A controller slot as an object, or null for an internal type whose parameter id is unknown.
JSON::Value encode_controller(const PatchParam::PatchController& slot);

// Resets patch for read_patch: every value at its parameter's default, no controllers, no sound
// file, timestamp 0. Members a patch object lacks then read as defaults, never as values outside
// their parameter's range.
void reset_patch(SynthParams::Patch& patch);

// Reads a patch object into patch, which the caller has reset. False when the patch was refused
// (the object is no patch or too damaged); patch may then be partly written and must be dropped.
bool read_patch(SynthParams::Patch& patch, const JSON::Value& object);

// Reads a controller object into a zeroed slot. True also when the object names no known type
// (the slot stays as it was); false when it names a type but not a usable x value.
bool read_controller(PatchParam::PatchController& slot, const JSON::Value& object);

// Sets the 15 stored values of the envelope starting at id base (25 or 40) to their defaults.
void set_default_adsr(int base, SynthParams::Patch& patch);

// The slot index of a state member "patch.N" (N read as a decimal integer: leading blanks and a
// sign allowed, up to the first non-digit), or -1 for any other key, including "patch." followed
// by no number or by one out of the int range.
int key_patch(const std::wstring& key) noexcept;

// UTF-8 to wide text, one code point per character. Throws std::range_error on bytes that are
// no valid UTF-8 (overlong forms, surrogates and code points above U+10FFFF included).
std::wstring to_wide(const std::string& text, CodePage::Specifier = CodePage::UTF8);
std::wstring to_wide(const char* text, CodePage::Specifier = CodePage::UTF8);
// Wide text (one code point per character) to UTF-8, up to the first NUL character. Throws
// std::range_error on a character that is no Unicode scalar value.
std::string to_narrow(const std::wstring& text, CodePage::Specifier = CodePage::UTF8);

// The text with every character that is no Unicode scalar value (a surrogate or a value above
// U+10FFFF) replaced by U+FFFD: what to_narrow can always convert.
std::wstring scalar_values_only(const std::wstring& text);

}  // namespace serialization
}  // namespace korvel::vimble
