// The parameter store: values, host and editor paths, options, defaults and listeners.
#include "synth/synth_params.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "audio/sound_analysis_pack.h"
#include "synth/controller_descriptions.h"
#include "synth/synth.h"

namespace korvel::vimble {

namespace {

using PI = ParamInfo;
using PC = ParamControl;

constexpr int ADSR1_FIRST = 25;
constexpr int ADSR2_FIRST = 40;
constexpr int LAST_ADSR_ID = 54;

// The apply_mask bit an option switches, or 0.
int option_flag(int id) {
  switch (id) {
    case 59: return PI::PG_Sound;     // "apply.patch_soundfile"
    case 60: return PI::PG_Controls;  // "apply.patch_controls"
    case 61: return PI::PG_Options;   // "apply.patch_globals"
    default: return 0;
  }
}

uint32_t clock_seed() {
  const auto seconds = static_cast<uint64_t>(std::time(nullptr)) % 2147483647u;
  return seconds ? static_cast<uint32_t>(seconds) : 1u;
}

double clamp_plain(double n, const PI::Defaults& d) {
  return std::clamp(d.min + (d.max - d.min) * n, std::min(d.min, d.max), std::max(d.min, d.max));
}

}  // namespace

SynthParams::SynthParams(Synth& synth) : synth(synth), random_generator(clock_seed()) {
  for (int id = 0; id < NUM_VALUE_PARAMS; ++id) {
    params[id].init(PI::getParamInfo(id));
    params[id].owner = this;
  }
  // Each store's values glide over its own change time (Param::operator= asks its owner), so
  // instances in one process never follow each other's "apply.changetime".
  setDefaultPatch(0, PI::PG_Synth);
}

SynthParams::~SynthParams() = default;

// --- queries ---

double SynthParams::changerate() const noexcept { return is_playing() ? double(params[56].target) : 0.0; }

bool SynthParams::is_playing() const noexcept { return synth.stream.state > 3; }

uint64_t SynthParams::sound_play_pos() const noexcept {
  const double pos = synth.stream.pos;
  return pos > 0 ? static_cast<uint64_t>(pos) : 0;
}

std::shared_ptr<audio::SoundPack> SynthParams::soundpack() const { return synth.stream.sound; }

const Controller* SynthParams::live_control(const PI& info) const noexcept {
  if (!info.base || info.base->id < 0 || info.base->id >= NUM_VALUE_PARAMS) return nullptr;
  return params[info.base->id].control(static_cast<size_t>(info.control_index));
}

Controller* SynthParams::live_control(const PI& info) noexcept {
  return const_cast<Controller*>(std::as_const(*this).live_control(info));
}

std::pair<double, double> SynthParams::get(int id) const noexcept {
  const PI& info = PI::getParamInfo(id);
  if (const Controller* c = live_control(info)) {
    if (info.sub_index == PC::SI_Type) {
      const double type = c->type;
      return {type, type};
    }
    const BaseParam& v = info.sub_index == PC::SI_Amount ? c->amount : c->params[info.sub_index - PC::SI_X];
    return {v.current, v.target};
  }
  if (id >= 0 && id < NUM_VALUE_PARAMS) return {params[id].current, params[id].target};
  return {0.0, 0.0};
}

// The one description without a scaling is the internal sources' x, the id of the parameter they
// follow. The editor sets the id itself; the host moves it over the ids 0..62 in 0..1, so that
// it reads back a normalised value like every other.
static const Scaling INTERNAL_SOURCE_IDS(NUM_VALUE_PARAMS - 1, 0);

// The description of a sub-parameter for its slot's current type; null for the type
// sub-parameter and for an empty slot (both use the table's generic record).
static const ScalingInfo* control_description(const PI& info, const Controller* c) noexcept {
  if (!c || info.sub_index < PC::SI_Amount) return nullptr;
  const int type = c->type;
  if (type <= PC::CT_None || type >= PC::NUM_TYPES) return nullptr;
  return &ControllerBridge::getControlInfo(static_cast<PC::Type>(type),
                                           static_cast<PC::SubIndex>(info.sub_index));
}

double SynthParams::normal_to_scaled(int id, double n) const noexcept {
  const PI& info = PI::getParamInfo(id);
  if (id == 0 || id == 1) return IntScaling(sound_frames_, 0).normal_to_scaled(n);
  if (const ScalingInfo* d = control_description(info, live_control(info)))
    return d->scaling ? d->scaling->normal_to_scaled(n) : INTERNAL_SOURCE_IDS.normal_to_scaled(n);
  if (info.scaling) return info.scaling->normal_to_scaled(n);
  return clamp_plain(n, info.defaults);
}

double SynthParams::scaled_to_normal(int id, double s) const noexcept {
  const PI& info = PI::getParamInfo(id);
  if (id == 0 || id == 1) return IntScaling(sound_frames_, 0).scaled_to_normal(s);
  if (const ScalingInfo* d = control_description(info, live_control(info)))
    return d->scaling ? d->scaling->scaled_to_normal(s) : INTERNAL_SOURCE_IDS.scaled_to_normal(s);
  if (info.scaling) return info.scaling->scaled_to_normal(s);
  // No scaling object: linear over the record's range, so that a host never reads a value
  // outside 0..1 (a timestamp, a density); a range of zero width reads 0.
  const auto& d = info.defaults;
  if (!(d.max > d.min)) return 0;
  return std::clamp((s - d.min) / (d.max - d.min), 0.0, 1.0);
}

// The delta of envelope point 3 counts back from the end of its range on the host path; the host
// reads and is told the value the same way, so that what it writes it reads back.
static double host_view(int id, double v) noexcept {
  if (id != 34 && id != 49) return v;
  const auto& d = PI::getParamInfo(id).defaults;
  return std::clamp(d.max - v, d.min, d.max);
}

double SynthParams::getNormalValue(int id) const noexcept {
  return scaled_to_normal(id, host_view(id, get(id).second));
}

// --- changes ---

void SynthParams::changeValue(int id, double v, double t) {
  const PI& info = PI::getParamInfo(id);
  if (Controller* c = live_control(info)) {
    Param& base = params[info.base->id];
    switch (info.sub_index) {
      case PC::SI_Type: {
        const int type = static_cast<int>(v);
        if (type < 0 || type >= PC::NUM_TYPES) return;  // not a controller type
        base.set_control_type(static_cast<size_t>(info.control_index), static_cast<PC::Type>(type), t);
        break;
      }
      case PC::SI_Amount: c->amount.set_target(v, t); break;
      default: c->params[info.sub_index - PC::SI_X].set_target(v, t); break;
    }
  } else if (id >= 0 && id < NUM_VALUE_PARAMS) {
    params[id].set_target(v, t);
  } else {
    return;
  }
  if (automate) automate(id, static_cast<float>(scaled_to_normal(id, host_view(id, v))));
}

void SynthParams::setNormalValue(int id, double n) {
  const PI& info = PI::getParamInfo(id);
  if (info.defaults.scaling_type == PI::ST_None) return;
  if (Controller* c = live_control(info)) {
    Param& base = params[info.base->id];
    if (info.sub_index == PC::SI_Type) {
      const int type = static_cast<int>(normal_to_scaled(id, n));
      if (c->type == type) {
        notifyListener(id, PI::PG_ValuesChanged);
        return;
      }
      c->type = type;  // directly: no crossfade, no new defaults
      notifyListener(id, PI::PG_TypeChanged);
      if (automate) {
        // The sub-values now read through the new type's descriptions.
        for (int j = 1; j <= 4; ++j)
          automate(id + j, static_cast<float>(scaled_to_normal(id + j, get(id + j).second)));
      }
      return;
    }
    BaseParam& value = info.sub_index == PC::SI_Amount ? c->amount : c->params[info.sub_index - PC::SI_X];
    base.assign(value, normal_to_scaled(id, n));
    notifyListener(id, PI::PG_ValuesChanged);
    return;
  }
  if (id < 0 || id >= NUM_VALUE_PARAMS) return;
  const double v = normal_to_scaled(id, n);
  if (id == 9 || id == 10) {
    // Attack and decay never add up to more than the whole grain.
    params[id] = v;
    notifyListener(id, PI::PG_ValuesChanged);
    const int other = id == 9 ? 10 : 9;
    if (v > 1 - params[other].target) {
      params[other] = 1 - v;
      notifyListener(other, PI::PG_ValuesChanged);
    }
  } else if (id >= ADSR1_FIRST && id <= LAST_ADSR_ID) {
    change_adsr_value(info, v);
  } else if (option_flag(id)) {
    // A host switching an apply option switches the behaviour too, as the editor's set_option.
    params[id].set_now(v);
    set_apply_bit(id, v);
    notifyListener(id, PI::PG_ValuesChanged);
  } else {
    params[id] = v;
    notifyListener(id, PI::PG_ValuesChanged);
  }
}

void SynthParams::change_adsr_value(const PI& info, double v) {
  const int first = info.id < ADSR2_FIRST ? ADSR1_FIRST : ADSR2_FIRST;
  const int r = info.id - first;
  switch (r % 3) {
    case 2: return;  // curves are not set this way
    case 1: {        // levels: points 0 and 4, and points 2 and 3, stay equal
      params[info.id] = v;
      notifyListener(info.id, PI::PG_ValuesChanged);
      int partner = -1;
      if (r == 1) partner = first + 13;
      if (r == 13) partner = first + 1;
      if (r == 7) partner = first + 10;
      if (r == 10) partner = first + 7;
      if (partner >= 0) {
        params[partner] = v;
        notifyListener(partner, PI::PG_ValuesChanged);
      }
      return;
    }
    default: {  // deltas: only points 2 and 3; point 3 counts back from the end of its range
      if (r != 6 && r != 9) return;
      params[info.id] = r == 9 ? host_view(info.id, v) : v;
      notifyListener(info.id, PI::PG_ValuesChanged);
      return;
    }
  }
}

void SynthParams::set_apply_bit(int id, double v) noexcept {
  const int flag = option_flag(id);
  if (!flag) return;
  int mask = apply_mask;
  while (!apply_mask.compare_exchange(mask, v > 0.5 ? mask | flag : mask & ~flag)) mask = apply_mask;
}

void SynthParams::set_option(int id, double v) {
  changeValue(id, v, 0);
  set_apply_bit(id, v);
}

int SynthParams::apply_group(int group) const noexcept {
  if (group != PI::PG_ApplyMask) return group;
  int mask = apply_mask;
  // "apply.patch_globals" ("Change ADSR with patch"): applies take the envelopes; the options
  // themselves (change time, density compensation, randomness) are never applied.
  if (mask & PI::PG_Options) mask = (mask | PI::PG_ADSR) & ~PI::PG_Options;
  return mask;
}

void SynthParams::setDefaultPatch(double t, int group) {
  group = apply_group(group);
  if (t < 0) t = changerate();
  for (int id = 0; id <= LAST_ADSR_ID; ++id) {
    const PI& info = PI::getParamInfo(id);
    if (!(info.group & group)) continue;
    Param& p = params[id];
    p.set_target(info.defaults.value, t);
    if (group & PI::PG_Controls)
      for (int k = 0; k < p.nof_controls; ++k) p.set_control_type(k, PC::CT_None, t);
  }
  if (PI::getParamInfo(1).group & group) {
    const audio::SoundPack* sound = synth.stream.sound.get();
    params[1].set_target(sound ? double(sound->framecount) : 0.0, t);
  }
  if (group & PI::PG_Options) {
    for (int id = 56; id <= 58; ++id) params[id].set_now(PI::getParamInfo(id).defaults.value);
    if (group == PI::PG_All) {
      for (int id = 59; id <= 61; ++id) {
        const double v = PI::getParamInfo(id).defaults.value;
        changeValue(id, v, 0);
        set_apply_bit(id, v);
      }
    }
  }
  broadcastListeners(group);
}

void SynthParams::update_density() noexcept {
  const double sustained = std::clamp(1 - (params[9].current + params[10].current), 0.5, 1.0);
  density = params[4].current * params[5].current * 0.001 * sustained;
}

void SynthParams::update_params(double dt) noexcept {
  for (int id = 0; id <= LAST_ADSR_ID; ++id) params[id].update(dt);
}

void SynthParams::set_sound_range(double frames) noexcept { sound_frames_ = frames > 0 ? frames : 0; }

void SynthParams::set_random_seed(uint32_t seed) noexcept {
  random_generator.seed(seed);
  normal_distribution.reset();
  uniform_distribution.reset();
}

// --- listeners ---

void SynthParams::addListener(ISynthParamListener* l) { listeners[l->param_id()] = l; }

void SynthParams::removeListener(int id) { listeners.erase(id); }

void SynthParams::clearListeners() { listeners.clear(); }

void SynthParams::broadcastListeners(int code) const {
  for (const auto& [id, l] : listeners)
    if (l->listen_groups & code) l->synthParamsUpdated(code);
}

// A listener answers for its own id and the ids above it up to the next listener.
ISynthParamListener* SynthParams::responsible_listener(int id) const {
  auto it = listeners.lower_bound(id);
  if (it == listeners.end()) return nullptr;
  if (it->first != id && id > 0) {
    if (it == listeners.begin()) return nullptr;
    --it;
  }
  return it->second;
}

void SynthParams::notifyListener(int id, int code) const {
  if (ISynthParamListener* l = responsible_listener(id)) l->synthParamsUpdated(code);
}

}  // namespace korvel::vimble
