// Gliding values, synthesis parameters and their controller slots.
#include "synth/base_param.h"

#include <cassert>
#include <cmath>

#include "synth/param_info.h"
#include "synth/synth_params.h"

namespace korvel::vimble {

// --- BaseParam ---

// Writers store target before rate: an update that sees the new rate also sees its target.
void BaseParam::set_target(double v, double t) noexcept {
  if (std::fabs(current - v) < eps) t = 0;
  target = v;
  if (t < MIN_GLIDE) {
    current = v;
    rate.publish(0);
  } else {
    rate.publish((v - current) / t);
  }
}

void BaseParam::fade_out(double t) noexcept {
  const double c = current;
  // A fade towards 0 is under way: rate / current is then negative, below any t.
  if (target == 0 && c != 0 && t > rate / c) return;
  set_target(0, t);
}

void BaseParam::set_now(double v) noexcept {
  target = v;
  current = v;
  rate.publish(0);
}

void BaseParam::update(double dt) noexcept {
  if (dt == 0) return;
  const double r = rate.acquire();
  const double goal = target;
  const double now = current;
  if (r == 0) {
    // At rest current equals target. They differ only when an immediate set from another thread
    // crossed a glide step of this one; the latest target wins.
    if (now != goal) current = goal;
    return;
  }
  const double c = now + r * dt;
  // The glide ends when it reaches the target in the direction it moves (a rate that points
  // away from the target, left by a crossed update, ends it at once).
  if ((r > 0 && c >= goal - eps) || (r < 0 && c <= goal + eps)) {
    // Only when no writer started a new glide meanwhile.
    if (rate.compare_exchange(r, 0)) current = goal;
  } else {
    current = c;
  }
}

double BaseParam::sample_value(double dt) const noexcept {
  const double r = rate;
  const double c = current;
  const double goal = target;
  if (r > 0) return std::min(goal, c + r * dt);
  if (r < 0) return std::max(goal, c + r * dt);
  return c;
}

// --- Controller ---

void Controller::init(Param* param, int slot) {
  assert(param->nof_controls && ParamInfo::getParamInfo(param->id).control_id >= 0 &&
         "info.nof_controls && info.control_id >= 0");
  base_param = param;
  control_index = static_cast<int16_t>(slot);
  first_id = ParamInfo::getParamInfo(param->id).control_id + 5 * slot;
}

bool Controller::is_active() const noexcept {
  return type != ParamControl::CT_None && std::fabs(amount.current) > BaseParam::audible;
}

void Controller::clear() noexcept {
  type = ParamControl::CT_None;
  state = 0;
  amount.set_now(0);
  for (auto& p : params) p.set_now(0);
}

void Controller::store(PatchParam::PatchController& out, PatchParam::Mode mode) const {
  if (!is_active()) return;
  const bool current = mode == PatchParam::Mode_Current;
  out.type = type;
  out.amount = current ? amount.current : amount.target;
  for (int i = 0; i < 3; ++i) out.params[i] = current ? params[i].current : params[i].target;
}

void Controller::take_values(const Controller& other) noexcept {
  type = other.type.load();
  state = other.state.load();
  amount = other.amount;
  for (int i = 0; i < 3; ++i) params[i] = other.params[i];
}

void Controller::swap_values(Controller& other) noexcept {
  Controller held;
  held.take_values(*this);
  take_values(other);
  other.take_values(held);
}

// --- Param ---

void Param::init(const ParamInfo& info) {
  id = static_cast<int16_t>(info.id);
  set_now(info.defaults.value);
  nof_controls = info.nof_controls;
  for (int k = 0; k < nof_controls; ++k)
    for (auto& record : controls[k]) record.init(this, k);
}

double Param::changerate() const noexcept { return owner ? owner->changerate() : 0; }

Param& Param::operator=(double v) noexcept {
  set_target(v, changerate());
  return *this;
}

void Param::assign(BaseParam& value, double v) const noexcept { value.set_target(v, changerate()); }

void Param::update(double dt) noexcept {
  BaseParam::update(dt);
  for (int k = 0; k < 2; ++k) {
    for (size_t push = 0; push < RECORDS; ++push) {
      Controller& c = controls[k][push];
      const int type = c.type;
      if (type == ParamControl::CT_None) continue;
      // A pushed record always fades out; an amount written into the live record while it was
      // being pushed (from another thread) must not keep it sounding.
      if (push > 0 && c.amount.target != 0) c.amount.fade_out(changerate());
      c.amount.update(dt);
      if (push > 0 && c.amount.current == 0 && c.amount.rate == 0) {
        c.clear();  // the fade-out of a pushed controller is over
        continue;
      }
      for (auto& p : c.params) p.update(dt);
      if (type == ParamControl::CT_LFO) {
        double phase = c.state + c.par3().current * dt;
        if (phase >= 1) phase -= 1;
        c.state = phase;
      }
    }
  }
}

Controller* Param::pushed_control(size_t k, size_t push) {
  assert(has_slot(k) && push <= ParamControl::MAX_PUSHED &&
         "index < nof_controls && push <= ParamControl::MAX_PUSHED");
  return &controls[k][push];
}

const Controller* Param::pushed_control(size_t k, size_t push) const {
  return const_cast<Param*>(this)->pushed_control(k, push);
}

int Param::set_control_type(size_t k, ParamControl::Type type, double t) {
  assert(has_slot(k) && "index < nof_controls && push <= ParamControl::MAX_PUSHED");
  Controller* r = controls[k];
  assert(r[0].base_param == this && size_t(r[0].control_index) == k &&
         "pc.base_param == this && pc.control_index == index");
  if (r[0].type == type) return 0;
  if (r[0].type == ParamControl::CT_None) {
    r[0].type = type;
    return 2;
  }
  r[0].amount.fade_out(t);
  if (r[1].type == type) {
    r[0].swap_values(r[1]);
    return 1;
  }
  if (r[2].type == type) {
    r[1].swap_values(r[2]);
    r[0].swap_values(r[1]);
    return 1;
  }
  r[2].take_values(r[1]);
  r[1].take_values(r[0]);
  r[0].state = 0;
  r[0].amount.set_now(0);
  for (auto& p : r[0].params) p.set_now(0);
  r[0].type = type;
  return 2;
}

void Param::apply_control_patch(size_t k, const PatchParam::PatchController& pc, double t) {
  if (static_cast<unsigned>(pc.type) >= ParamControl::NUM_TYPES || size_t(nof_controls) < k) return;
  if (t < 0) t = changerate();
  assert(has_slot(k) && "index < nof_controls && push <= ParamControl::MAX_PUSHED");
  Controller& live = controls[k][0];
  int r = 0;
  if (pc.type != live.type) r = set_control_type(k, static_cast<ParamControl::Type>(pc.type), t);
  if (pc.type == ParamControl::CT_None) return;
  live.amount.set_target(pc.amount, t);
  for (int i = 0; i < 3; ++i) {
    if (r == 2)
      live.params[i].set_now(pc.params[i]);
    else
      live.params[i].set_target(pc.params[i], t);
  }
}

void Param::store(PatchParam& out, PatchParam::Mode mode) const {
  out = PatchParam{};
  out.value = mode == PatchParam::Mode_Current ? current : target;
  for (int k = 0; k < nof_controls; ++k) {
    const Controller& live = controls[k][0];
    const Controller& pushed = controls[k][1];
    const bool live_stored = live.is_active();
    if (live_stored) live.store(out.controllers[k], mode);
    if (!pushed.is_active()) continue;
    if (!live_stored) {
      pushed.store(out.controllers[k], mode);
    } else if (k + 1 < nof_controls && !controls[k + 1][0].is_active() &&
               (!controls[k + 1][1].is_active() ||
                pushed.amount.current > controls[k + 1][1].amount.current)) {
      // A controller still fading out takes the next slot when that slot has nothing live.
      pushed.store(out.controllers[k + 1], mode);
    }
  }
}

void Param::load(const PatchParam& in, double t) {
  if (!owner || !owner->is_playing()) t = 0;
  set_target(in.value, t);
  for (int k = 0; k < nof_controls; ++k)
    if (static_cast<unsigned>(in.controllers[k].type) < ParamControl::NUM_TYPES)
      apply_control_patch(k, in.controllers[k], t);
}

}  // namespace korvel::vimble
