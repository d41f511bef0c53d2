// The plug-in state and patch files of the parameter store. (Placeholder: the state is an empty
// JSON object and nothing is read.)
#include "synth/synth_params.h"

namespace korvel::vimble {

std::string SynthParams::dumps() const { return "{}"; }
void SynthParams::loads(const std::string&) {}
void SynthParams::load_patch_file(const std::string&) {}

}  // namespace korvel::vimble
