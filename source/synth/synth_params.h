// The parameter store: where every parameter value of the instrument lives.
// (Shell: holds no values yet; the parameter model fills it in.)
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace korvel::vimble {

class Synth;

class SynthParams {
 public:
  explicit SynthParams(Synth& synth) : synth(synth) {}
  SynthParams(const SynthParams&) = delete;
  SynthParams& operator=(const SynthParams&) = delete;

  // Reports a value changed by the editor to the host: (id, normalised value).
  std::function<void(int, float)> automate;
  std::string patch_file = "./vimble.json";

  std::pair<double, double> get(int) const { return {0.0, 0.0}; }
  double getNormalValue(int) const { return 0.0; }
  void setNormalValue(int, double) {}
  void changeValue(int, double, double) {}
  void applyPatch(int, double, int) {}
  void resize_patches(size_t) {}
  void load_patch_file(const std::string&) {}
  std::string dumps() const { return "{}"; }
  void loads(const std::string&) {}

  Synth& synth;
};

}  // namespace korvel::vimble
