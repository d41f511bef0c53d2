// The parameter store: where every parameter value of one instrument instance lives.
//
//   SynthParams& p = synth.params;
//   p.setNormalValue(4, 0.5);          // host: "grain.rate" to normalised 0.5
//   p.changeValue(5, 250.0, 0.2);      // editor: "grain.length" glides to 250 ms in 0.2 s
//   auto [current, target] = p.get(5);
//   p.applyPatch(3, -1, ParamInfo::PG_ApplyMask);
//
// Threads and hand-over. Three kinds of thread use the store without locks:
// - host threads: setNormalValue, getNormalValue, get, the plug-in state;
// - the audio thread: update_params, get, get_modulated_value, update_density and applyPatch
//   for MIDI program changes;
// - the editor thread: changeValue, set_option, setDefaultPatch, patch store/apply, listeners.
// Choice: every value shared between them is an atomic field (Relaxed, base_param.h): targets,
// rates, currents, amounts, controller types and states, apply_mask, density and the sound
// range. Each field is read and written whole (relaxed, the glide rate with release/acquire),
// so no thread waits or allocates and no value tears. Several fields changed together (a glide,
// a controller moving between records) may be seen half-changed for one control step; the glide
// rules are written so that any such mix still ends at the target written last, and a pushed
// controller always fades out (tests/stress/params_stress_test.cpp runs all three at once under
// ThreadSanitizer).
// Patch slots are immutable snapshots (PatchSlots, patch_slots.h): the UI thread replaces a
// slot as a whole (store operations, the plug-in state, patch files) while the audio thread
// applies a patch, and neither waits; resize_patches runs before the audio thread does.
// Not lock-free: the listener map is changed by the editor thread only (while the editor opens
// and closes) and must not be changed while another thread notifies.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "synth/base_param.h"
#include "synth/param_info.h"
#include "synth/patch.h"
#include "synth/patch_slots.h"
#include "synth/relaxed.h"

namespace audio {
class SoundPack;
}

namespace korvel::vimble {

class Synth;
class ITextReceiver;

inline constexpr const char* DEFAULT_PATCH_FILE_NAME = "./vimble.json";

// An editor view that wants to hear about store changes. Callbacks run on the thread that made
// the change; a listener only records that it must redraw (or hands over by itself).
class ISynthParamListener {
 public:
  virtual ~ISynthParamListener() = default;
  // The listener id: normally the parameter id the listener shows (the patch grid answers 360).
  virtual int param_id() const = 0;
  virtual void synthParamsUpdated(int code) = 0;

  int listen_groups = 0;  // ParamGroup bits, set by the listener's constructor
};

class SynthParams {
 public:
  using ParamGroup = ParamInfo::ParamGroup;
  using Patch = korvel::vimble::Patch;

  explicit SynthParams(Synth& synth);
  ~SynthParams();
  SynthParams(const SynthParams&) = delete;
  SynthParams& operator=(const SynthParams&) = delete;

  // The scaling object for parameter defaults (owned by the caller), or null.
  static Scaling* getScaling(ParamInfo::Defaults defaults) { return make_scaling(defaults); }

  // --- queries (any thread; no allocation) ---
  // "apply.changetime" in seconds while the engine plays, else 0.
  double changerate() const noexcept;
  bool is_playing() const noexcept;
  uint64_t sound_play_pos() const noexcept;
  std::shared_ptr<audio::SoundPack> soundpack() const;  // empty without a sound
  // (current, target) in scaled units; (0, 0) for ids without a value.
  std::pair<double, double> get(int id) const noexcept;
  // The target as the host sees it, normalised with this store's conversion of the id.
  double getNormalValue(int id) const noexcept;
  // The conversions this store uses for an id, both ways the same: the table's scaling, except
  // for "sound.start" and "sound.end" (the frames of this store's sound) and the controller
  // sub-parameters (the description of the slot's current type, or the table's record while the
  // slot is empty). Ids without a scaling object convert n as min + (max - min) * n and back.
  double normal_to_scaled(int id, double n) const noexcept;
  double scaled_to_normal(int id, double s) const noexcept;
  double sound_frames() const noexcept { return sound_frames_; }

  // --- changes ---
  // Editor path: scaled v, glide t seconds; reports the change to the host through automate.
  void changeValue(int id, double v, double t);
  // Host path: normalised n; tells the responsible listener, never reports back to the host.
  void setNormalValue(int id, double n);
  // Options 56..61 at once; 59..61 also switch their apply_mask bit.
  void set_option(int id, double v);
  // Defaults for the parameters of group (PG_ApplyMask: the apply mask); t < 0: changerate().
  void setDefaultPatch(double t, int group);
  // Audio thread: grains per second x grain length x sustained share.
  void update_density() noexcept;
  // Audio thread: advances the glides of the parameters 0..54 by dt seconds.
  void update_params(double dt) noexcept;
  // The frame count of the current sound: the range of "sound.start" and "sound.end". Called
  // by the engine when it installs a sound (0 without one).
  void set_sound_range(double frames) noexcept;
  // Seeds the modulation's random generator (the clock seeds it at construction). The generator
  // belongs to the audio thread: seed it while no block renders (before the first, or from it).
  void set_random_seed(uint32_t seed) noexcept;

  // --- listeners (editor thread) ---
  void addListener(ISynthParamListener* l);
  void removeListener(int id);
  void clearListeners();
  void broadcastListeners(int code) const;
  void notifyListener(int id, int code) const;

  // --- patches ---
  void store(Patch& p, PatchParam::Mode mode, int group) const;
  void load(const Patch& p, double t, int group);
  void storeCurrentPatch(size_t i, PatchParam::Mode mode, int group);
  void applyPatch(size_t i, double t, int group);
  bool isValidPatch(size_t i) const;
  void resize_patches(size_t n);

  // --- modulation (audio thread; noexcept, no allocation) ---
  std::pair<double, double> get_modulated_value(int id, int slot) noexcept;
  double controller_value(const Controller& c, double& state) noexcept;
  double controller_value(const Controller& c) noexcept;
  double get_Rand_value(const Controller& c, double& state) noexcept;
  double get_Amps_value(const Controller& c) noexcept;
  double get_LFO_value(const Controller& c, double& state) noexcept;
  double get_MIDI_value(const Controller& c) noexcept;
  double get_ADSR_value(const Controller& c) noexcept;
  double get_Inner_value(const Controller& c) noexcept;
  double random(double x) noexcept;

  // --- plug-in state and patch files ---
  // UI thread. The state text; never throws.
  std::string dumps() const;
  // UI thread. Merges a state text into the slots and options and applies the working patch
  // (slot 1); text that is not a state changes nothing. Never throws.
  void loads(const std::string& text);
  // UI thread. Reads a patch file (one of 100 bytes or less is ignored); never throws.
  void load_patch_file(const std::string& path);
  // UI thread. Writes the state to path (".json" appended when missing), replacing the old file
  // only once the new one is complete; never throws.
  void save_patch_file(const std::string& path);

  // Reports a value changed by the editor to the host: (id, normalised value).
  std::function<void(int, float)> automate;
  // Asks the engine to load a sound for a patch: (file name, patch index, glide time, group).
  // The engine applies the patch again when the sound is installed. Unset: the patch waits.
  std::function<void(const std::wstring&, int, double, int)> load_soundfile;
  std::string patch_file = DEFAULT_PATCH_FILE_NAME;
  bool patch_file_is_default = true;
  Relaxed<int> apply_mask = ParamInfo::PG_Sound | ParamInfo::PG_Synth | ParamInfo::PG_Effects |
                            ParamInfo::PG_Controls;
  Relaxed<double> density = 0;
  Param params[NUM_VALUE_PARAMS];
  // Snapshots: replaced as a whole by the UI thread, read by any thread (patch_slots.h).
  PatchSlots patches;
  Synth& synth;
  std::map<int, ISynthParamListener*> listeners;
  ITextReceiver* text_receiver = nullptr;
  // Modulation randomness; used by the audio thread only (after construction or seeding).
  std::minstd_rand random_generator;
  std::normal_distribution<double> normal_distribution{0.0, 0.37};
  std::uniform_real_distribution<double> uniform_distribution{-1.0, 1.0};

 private:
  void change_adsr_value(const ParamInfo& info, double v);
  void set_apply_bit(int id, double v) noexcept;
  // PG_ApplyMask resolved to the apply mask, with "apply.patch_globals" meaning the envelopes.
  int apply_group(int group) const noexcept;
  ISynthParamListener* responsible_listener(int id) const;
  // The conversion of a controller sub-parameter for its slot's current type.
  const Scaling* control_scaling(const ParamInfo& info, int type) const noexcept;
  const Controller* live_control(const ParamInfo& info) const noexcept;
  Controller* live_control(const ParamInfo& info) noexcept;

  // Calls f with the scaling of id (null when it has none) and the id's record.
  template <class F>
  double with_scaling(int id, F f) const noexcept;

  // "sound.start" and "sound.end" convert over the frames of this store's sound (0..0 without).
  Relaxed<double> sound_frames_ = 0;
};

}  // namespace korvel::vimble
