// Gliding values, synthesis parameters and their controller slots.
//
//   BaseParam p;                 // 0
//   p.set_target(5, 1.0);        // glide to 5 within one second
//   p.update(0.5);               // p.current == 2.5
//
// Threads: the audio thread calls update() and reads current values; the host and editor threads
// set targets, amounts and controller types at the same time. Every field shared between them
// is a Relaxed atomic (relaxed loads and stores, no locks, no waiting). A reader may see a new
// target a step before the matching rate or a controller record half-way through a swap; the
// glide rules below are written so that any such mix still ends at the latest target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "synth/relaxed.h"

namespace korvel::vimble {

class ParamInfo;
class Param;
class SynthParams;

class BaseParam {
 public:
  static constexpr double eps = 1e-5;      // values closer than this count as equal
  static constexpr double audible = 0.01;  // a controller amount at most this is silent
  static constexpr double MIN_GLIDE = 0.005;  // seconds; shorter changes apply at once

  BaseParam() = default;
  explicit BaseParam(double v) : current(v), target(v) {}
  // A plain assignment would have to guess a glide time; say it with set_target (or
  // Param::operator=, which glides over its store's change time).
  BaseParam& operator=(double) = delete;
  BaseParam(const BaseParam&) = default;
  BaseParam& operator=(const BaseParam&) = default;

  // Any thread: glide to v over t seconds (at once when t < MIN_GLIDE or v is within eps).
  void set_target(double v, double t) noexcept;
  // Any thread: glide to 0 over t, unless a fade towards 0 is already under way.
  void fade_out(double t) noexcept;
  // Any thread: current = target = v, at rest.
  void set_now(double v) noexcept;
  // Audio thread: advance the glide by dt seconds. noexcept, no allocation.
  void update(double dt) noexcept;
  // The value dt seconds after the last update, never past the target.
  double sample_value(double dt) const noexcept;

  Relaxed<double> current = 0;  // present value, in the parameter's units
  Relaxed<double> target = 0;   // value being glided to
  Relaxed<double> rate = 0;     // change of current per second; 0 at rest
};

struct ParamControl {
  enum Type : int {
    CT_None = 0,
    CT_Random = 1,
    CT_AmpNoise = 2,
    CT_LFO = 3,
    CT_MIDI = 4,
    CT_ADSR = 5,
    CT_Inner1 = 6,
    CT_Inner2 = 7,
    CT_Inner3 = 8,
  };
  static constexpr int NUM_TYPES = 9;
  enum SubIndex : int { SI_Type = 0, SI_Amount = 1, SI_X = 2, SI_Y = 3, SI_Par3 = 4 };
  static constexpr size_t MAX_PUSHED = 2;
};

// The stored form of one parameter inside a patch.
struct PatchParam {
  enum Mode { Mode_Target = 0, Mode_Current = 1 };
  struct PatchController {
    int type = ParamControl::CT_None;
    double amount = 0;
    double params[3] = {0, 0, 0};  // x, y, par3
  };
  double value = 0;
  PatchController controllers[2];
};

// One controller slot record: a type, a running state and four gliding sub-values.
struct Controller {
  void init(Param* param, int slot);
  bool is_active() const noexcept;
  void clear() noexcept;
  // Writes type and sub-values (current or target by mode) when active; else leaves out alone.
  void store(PatchParam::PatchController& out, PatchParam::Mode mode) const;
  // Moves the controller (type, state, sub-values) between records of one slot; the records
  // keep their own slot fields, which other threads read while a slot changes.
  void take_values(const Controller& other) noexcept;
  void swap_values(Controller& other) noexcept;

  BaseParam& x() { return params[0]; }
  BaseParam& y() { return params[1]; }
  BaseParam& par3() { return params[2]; }
  const BaseParam& x() const { return params[0]; }
  const BaseParam& y() const { return params[1]; }
  const BaseParam& par3() const { return params[2]; }

  Param* base_param = nullptr;
  int first_id = -1;  // id of this slot's type sub-parameter
  int16_t control_index = 0;
  Relaxed<int> type = ParamControl::CT_None;
  Relaxed<double> state = 0;  // random walk value or LFO phase, kept by the modulation
  BaseParam amount;
  BaseParam params[3];  // x, y, par3
};

// A synthesis parameter: a gliding base value and up to two controller slots, each with a live
// record and up to MAX_PUSHED older records fading out.
class Param : public BaseParam {
 public:
  static constexpr size_t MAX_SLOTS = 2;
  static constexpr size_t RECORDS = ParamControl::MAX_PUSHED + 1;

  void init(const ParamInfo& info);
  // Glides to v over the owning store's change time (at once without a store).
  Param& operator=(double v) noexcept;
  // Glides one of this parameter's values (base, amount, x, y, par3) like operator=.
  void assign(BaseParam& value, double v) const noexcept;
  double changerate() const noexcept;

  // Audio thread: advances the base value and every controller record. noexcept, no allocation.
  void update(double dt) noexcept;

  // Record 0 (the live controller) of slot k, or null when the parameter has no slot k.
  Controller* control(size_t k) noexcept { return has_slot(k) ? &controls[k][0] : nullptr; }
  const Controller* control(size_t k) const noexcept { return has_slot(k) ? &controls[k][0] : nullptr; }
  bool has_slot(size_t k) const noexcept { return k < MAX_SLOTS && k < size_t(nof_controls); }
  Controller* pushed_control(size_t k, size_t push);
  const Controller* pushed_control(size_t k, size_t push) const;

  // 0: type unchanged; 1: an older controller of that type came back; 2: a fresh one started.
  int set_control_type(size_t k, ParamControl::Type type, double t);
  // t < 0 means the store's change time.
  void apply_control_patch(size_t k, const PatchParam::PatchController& pc, double t);
  void store(PatchParam& out, PatchParam::Mode mode) const;
  void load(const PatchParam& in, double t);

  int16_t id = -1;
  int16_t nof_controls = 0;
  SynthParams* owner = nullptr;
  Controller controls[MAX_SLOTS][RECORDS];
};

}  // namespace korvel::vimble
