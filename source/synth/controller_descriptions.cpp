// Controller descriptions and the controller bridge.
#include "synth/controller_descriptions.h"

#include <array>
#include <cassert>

#include "synth/synth_params.h"

namespace korvel::vimble {

namespace {

using PI = ParamInfo;
using Descriptions = std::array<std::array<ScalingInfo, 4>, ParamControl::NUM_TYPES>;

const ScalingInfo UNUSED{0, 0, 1, PI::ST_Cubic};
const ScalingInfo BIPOLAR_AMOUNT{0.5, -1, 1, PI::ST_Linear};

// Per type: amount, x, y, par3.
const Descriptions& Contr_Defs() {
  static const Descriptions defs = {{
      {UNUSED, UNUSED, UNUSED, UNUSED},  // CT_None
      {ScalingInfo{0.5, 0, 1, PI::ST_Absolute}, ScalingInfo{0, 0, 1, PI::ST_Linear},  // CT_Random
       ScalingInfo{0.5, 0, 1, PI::ST_Inverse}, UNUSED},
      {BIPOLAR_AMOUNT, ScalingInfo{0, -3000, 3000, PI::ST_Cubic},  // CT_AmpNoise
       ScalingInfo{0.5, 0, 1, PI::ST_Inverse}, UNUSED},
      {ScalingInfo{0.5, 0, 1, PI::ST_Absolute}, ScalingInfo{0, -1, 1, PI::ST_Linear},  // CT_LFO
       ScalingInfo{0, 0, 1, PI::ST_Inverse}, ScalingInfo{1, 0, 100, PI::ST_Cubic}},
      {BIPOLAR_AMOUNT, ScalingInfo{0, 0, 1, PI::ST_Cubic}, ScalingInfo{0, 0, 1, PI::ST_Cubic},
       UNUSED},  // CT_MIDI
      {BIPOLAR_AMOUNT, ScalingInfo{0.5, 0, 1, PI::ST_Linear}, UNUSED, UNUSED},  // CT_ADSR
      {BIPOLAR_AMOUNT, ScalingInfo{0, 0, 0, PI::ST_None}, UNUSED, UNUSED},      // CT_Inner1
      {BIPOLAR_AMOUNT, ScalingInfo{0, 0, 0, PI::ST_None}, UNUSED, UNUSED},      // CT_Inner2
      {BIPOLAR_AMOUNT, ScalingInfo{0, 0, 0, PI::ST_None}, UNUSED, UNUSED},      // CT_Inner3
  }};
  return defs;
}

}  // namespace

double description_to_scaled(const ScalingInfo& d, double n) {
  return d.scaling ? d.scaling->normal_to_scaled(n) : n;
}

double description_to_normal(const ScalingInfo& d, double s) {
  return d.scaling ? d.scaling->scaled_to_normal(s) : s;
}

const ScalingInfo& ControllerBridge::getControlInfo(ParamControl::Type t, ParamControl::SubIndex j) {
  assert(static_cast<unsigned>(t) < ParamControl::NUM_TYPES && j >= ParamControl::SI_Amount &&
         j <= ParamControl::SI_Par3);
  return Contr_Defs()[t][j - ParamControl::SI_Amount];
}

void ControllerBridge::set_controller_defaults(ParamControl::Type t, ControllerBridge& b) {
  b.control_patch.type = t;
  b.control_patch.amount = getControlInfo(t, ParamControl::SI_Amount).defaults.value;
  for (int i = 0; i < 3; ++i)
    b.control_patch.params[i] =
        getControlInfo(t, static_cast<ParamControl::SubIndex>(ParamControl::SI_X + i)).defaults.value;
}

ControllerBridge::ControllerBridge(Param* param, int slot)
    : control(param->pushed_control(static_cast<size_t>(slot), 0)) {}

ControllerBridge::ControllerBridge(const ControllerBridge& other) : control(other.control) {}

const Scaling* ControllerBridge::scaling(int j) const {
  return getControlInfo(static_cast<ParamControl::Type>(control_patch.type),
                        static_cast<ParamControl::SubIndex>(j))
      .scaling.get();
}

double ControllerBridge::amount() const {
  return description_to_normal(
      getControlInfo(static_cast<ParamControl::Type>(control_patch.type), ParamControl::SI_Amount),
      control->amount.target);
}

double ControllerBridge::param_raw(unsigned i) const {
  assert(control_patch.params[i] == control->params[i].target &&
         "control_patch.params[i] == control->params[i].target");
  return control_patch.params[i];
}

double ControllerBridge::param(unsigned i) const {
  return description_to_normal(
      getControlInfo(static_cast<ParamControl::Type>(control_patch.type),
                     static_cast<ParamControl::SubIndex>(ParamControl::SI_X + i)),
      param_raw(i));
}

void ControllerBridge::set_amount(double n) {
  control_patch.amount = description_to_scaled(
      getControlInfo(static_cast<ParamControl::Type>(control_patch.type), ParamControl::SI_Amount), n);
  control->base_param->assign(control->amount, control_patch.amount);
}

void ControllerBridge::set_param(unsigned i, double n) {
  control_patch.params[i] = description_to_scaled(
      getControlInfo(static_cast<ParamControl::Type>(control_patch.type),
                     static_cast<ParamControl::SubIndex>(ParamControl::SI_X + i)),
      n);
  control->base_param->assign(control->params[i], control_patch.params[i]);
}

void ControllerBridge::read_from_synth() {
  control_patch.type = control->type;
  control_patch.amount = control->amount.target;
  for (int i = 0; i < 3; ++i) control_patch.params[i] = control->params[i].target;
}

void ControllerBridge::send_to_synth() {
  control->base_param->apply_control_patch(static_cast<size_t>(control->control_index),
                                           control_patch, -1);
}

}  // namespace korvel::vimble
