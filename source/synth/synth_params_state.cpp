// The plug-in state and patch files: every stored patch slot and the six apply options as one
// JSON text (the host's state chunk, patch files and the default patch file).
#include <filesystem>
#include <string>

#include "synth/serialization.h"
#include "synth/synth_params.h"
#include "synth/text_file.h"
#include "utility/json_reader.h"

namespace korvel::vimble {

namespace {

using PI = ParamInfo;

// The apply options "apply.changetime" .. "apply.patch_globals"; from 59 on they switch a bit of
// the apply mask.
constexpr int FIRST_OPTION_ID = 56;
constexpr int FIRST_MASK_OPTION_ID = 59;
constexpr int LAST_OPTION_ID = 61;
// Slot 0 is written with every group, the others with the groups of the patch itself.
constexpr auto SLOT_GROUPS =
    PI::ParamGroup(PI::PG_Sound | PI::PG_Synth | PI::PG_Effects | PI::PG_Controls | PI::PG_ADSR);
// The working patch: what the editor shows, and what the instrument plays after a state is read.
constexpr size_t WORKING_SLOT = 1;
// Applied as the editor's open applies it: everything, at once, views told that values changed.
constexpr int WORKING_APPLY_GROUP = PI::PG_All | PI::PG_ValuesChanged;
// A patch file this short cannot hold a patch.
constexpr size_t MIN_PATCH_FILE_SIZE = 100;

}  // namespace

std::string SynthParams::dumps() const {
  try {
    JSON::Value state(JSON::Value::Object);
    JSON::Map& members = state.get_object();
    for (size_t i = 0; i < patches.size(); ++i) {
      const Patch& patch = patches[i];
      if (patch.empty()) continue;
      members[L"patch." + std::to_wstring(i)] =
          serialization::to_json(patch, i == 0 ? PI::PG_All : SLOT_GROUPS);
    }
    for (int id = FIRST_OPTION_ID; id <= LAST_OPTION_ID; ++id)
      members[PI::getParamInfo(id).wide_name] = static_cast<double>(params[id].target);
    return state.asciify(2, 4) + "\n";
  } catch (...) {
    // Only memory can run out here; a host asking for the state must still get a text.
    return "{}\n";
  }
}

void SynthParams::loads(const std::string& text) {
  try {
    const char* cursor = text.data();
    const JSON::Value state = JSON::parse(cursor, text.data() + text.size(), false);
    // Anything but an object (a chunk of another plug-in, random bytes) has no members.
    for (const auto& [key, value] : state.get_object()) {
      const int slot = serialization::key_patch(key);
      if (slot >= 0 && static_cast<size_t>(slot) < patches.size()) {
        Patch fresh;
        serialization::reset_patch(fresh);
        // A refused patch keeps the old contents of its slot.
        if (serialization::read_patch(fresh, value)) patches.replace(static_cast<size_t>(slot), std::move(fresh));
        continue;
      }
      const PI& info = PI::getParamInfo(key);
      if (info.id < FIRST_OPTION_ID || info.id > LAST_OPTION_ID) continue;
      if (value.kind() != JSON::Value::Number) continue;
      const double v = value.get_number();
      const double w = (v >= info.defaults.min && v <= info.defaults.max) ? v : info.defaults.value;
      // At once and without a report to the host: the host is restoring this state itself.
      params[info.id].set_now(w);
      if (info.id >= FIRST_MASK_OPTION_ID) set_apply_bit(info.id, w);
    }
    broadcastListeners(PI::PG_Patches);
    // The instrument plays the working patch at once (which starts its sound load), without
    // waiting for the editor to open.
    if (state.kind() == JSON::Value::Object && isValidPatch(WORKING_SLOT))
      applyPatch(WORKING_SLOT, 0, WORKING_APPLY_GROUP);
  } catch (...) {
    // Damage inside the text (or no memory): what was applied stays applied.
  }
}

void SynthParams::load_patch_file(const std::string& path) {
  try {
    const std::string text = read_text_file(path);
    if (text.size() <= MIN_PATCH_FILE_SIZE) return;
    loads(text);
    patch_file_is_default = path == patch_file;
    std::string name = path;
    // "./vimble.json" is relative to the host's working directory: keep where it was found.
    if (name.starts_with("./")) name = (std::filesystem::current_path() / name.substr(2)).string();
    patch_file = name;
  } catch (...) {
    // File errors are not reported; whatever was loaded stays.
  }
}

void SynthParams::save_patch_file(const std::string& path) {
  try {
    std::string name = path;
    if (!name.ends_with(".json")) name += ".json";
    patch_file = name;
    write_text_file(name, dumps());
  } catch (...) {
  }
}

}  // namespace korvel::vimble
