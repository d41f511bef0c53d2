// Patches: storing the instrument's settings into patch slots and applying them.
#include "synth/patch.h"

#include <algorithm>
#include <ctime>

#include "audio/sound_analysis_pack.h"
#include "synth/synth.h"
#include "synth/synth_params.h"

namespace korvel::vimble {

namespace {
using PI = ParamInfo;
constexpr int LAST_STORED_ID = 54;
// A selection shorter than this is not kept when a patch is applied.
constexpr double MIN_SELECTION = 100;
}  // namespace

void Patch::clear() {
  soundfile.clear();
  for (auto& p : params) p = PatchParam{};
}

void SynthParams::store(Patch& p, PatchParam::Mode mode, int group) const {
  for (int id = 0; id <= LAST_STORED_ID; ++id) params[id].store(p.params[id], mode);
  p.params[Patch::TIMESTAMP] = PatchParam{};
  p.params[Patch::TIMESTAMP].value = static_cast<double>(std::time(nullptr));
  if (const audio::SoundPack* sound = synth.stream.sound.get()) p.soundfile = sound->name;
  if (group & PI::PG_Options)
    for (int id = 56; id <= 58; ++id) p.params[id].value = params[id].target;
}

void SynthParams::load(const Patch& p, double t, int group) {
  const int last = (group & PI::PG_ADSR) ? 55 : 25;
  const int mask = (group & ~(PI::PG_ValuesChanged | PI::PG_TypeChanged)) | PI::PG_ValuesChanged;
  int first = 2;
  const audio::SoundPack* sound = synth.stream.sound.get();
  if ((group & PI::PG_Sound) && !p.soundfile.empty()) {
    if (sound && sound->name == p.soundfile) {
      first = (group & PI::PG_Synth) ? 0 : 2;
    } else {
      // The engine loads the sound and applies this slot again once it is installed.
      if (load_soundfile) load_soundfile(p.soundfile, patches.index_of(p), t, mask);
      return;
    }
  }
  for (int id = first; id < last; ++id) {
    if (!(group & PI::PG_Controls))
      params[id].set_target(p.params[id].value, t);
    else if (PI::getParamInfo(id).group & mask)
      params[id].load(p.params[id], t);
  }
  if (sound && (group & PI::PG_Sound)) {
    const double frames = static_cast<double>(sound->framecount);
    double end = params[1].target;
    if (end <= 0 || end > frames) end = frames;
    double start = params[0].target;
    if (!(start > 0 && start < end - MIN_SELECTION)) start = 0;
    if (start + MIN_SELECTION >= end) end = frames;
    params[0].set_target(start, t);
    params[1].set_target(end, t);
  } else if (!sound) {
    params[0] = 0;
    params[1] = 0;
  }
  broadcastListeners(mask);
}

void SynthParams::storeCurrentPatch(size_t i, PatchParam::Mode mode, int group) {
  // A new snapshot from the slot's old one (a store without a sound keeps its sound file).
  patches.edit(i, [&](Patch& p) { store(p, mode, group); });
}

void SynthParams::applyPatch(size_t i, double t, int group) {
  group = apply_group(group);
  const auto reading = patches.read();  // the snapshot stays while it is applied
  if (!isValidPatch(i)) return;
  if (t < 0) t = changerate();
  load(patches[i], t, group);
}

bool SynthParams::isValidPatch(size_t i) const {
  const auto reading = patches.read();
  return i < patches.size() && !patches[i].empty();
}

void SynthParams::resize_patches(size_t n) { patches.resize(n); }

}  // namespace korvel::vimble
