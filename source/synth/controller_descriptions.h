// Controller descriptions (the meaning, range and scaling of each type's four sub-values) and
// the controller bridge an editor view uses to read and edit one slot in normalised terms.
//
//   ControllerBridge bridge(&params.params[12], 0);          // "grain.pan", slot 0
//   ControllerBridge::set_controller_defaults(ParamControl::CT_LFO, bridge);
//   bridge.send_to_synth();                                  // LFO fades in
//   bridge.set_param(2, 0.5);                                // frequency 12.5 per second
#pragma once

#include "synth/base_param.h"
#include "synth/param_info.h"

namespace korvel::vimble {

class SynthParams;

class ControllerBridge {
 public:
  // The description of type t (0..8) and sub-value j (SI_Amount..SI_Par3). Built on first use,
  // shared and immutable afterwards.
  static const ScalingInfo& getControlInfo(ParamControl::Type t, ParamControl::SubIndex j);
  static void set_controller_defaults(ParamControl::Type t, ControllerBridge& b);

  ControllerBridge(Param* param, int slot);
  // Copies the slot only; the working copy starts empty.
  ControllerBridge(const ControllerBridge& other);
  ControllerBridge& operator=(const ControllerBridge& other) = default;

  int get_id() const { return control->first_id; }
  ParamControl::Type type() const { return static_cast<ParamControl::Type>(int(control->type)); }
  SynthParams* synth_params() const { return control->base_param->owner; }
  // The scaling of sub-value j for the working copy's type, or null.
  const Scaling* scaling(int j) const;
  double amount() const;
  double param_raw(unsigned i) const;
  double param(unsigned i) const;

  // Editor thread: convert n with the working copy's type and glide the live record there.
  void set_amount(double n);
  void set_param(unsigned i, double n);

  void read_from_synth();
  void send_to_synth();

  Controller* control;
  PatchParam::PatchController control_patch;
  ScalingInfo scaling_info{0, 0, 1, ParamInfo::ST_Cubic};
};

// Normalised to scaled with a description (n itself when it has no scaling), and back.
double description_to_scaled(const ScalingInfo& d, double n);
double description_to_normal(const ScalingInfo& d, double s);

}  // namespace korvel::vimble
