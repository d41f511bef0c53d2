// vimble-host: inspects a VST 2.4 plug-in through its entry point.
//   vimble-host probe PATH   prints the effect record, the names and the can-do answers
#include <cstdio>
#include <string>

#include "host/vst_host.h"

namespace {

std::string fourcc_text(int32_t id) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((static_cast<uint32_t>(id) >> shift) & 0xFF);
    text += (c >= 32 && c < 127) ? c : '?';
  }
  return text;
}

int probe(const std::string& path) {
  std::string error;
  auto plugin = vsthost::Plugin::load(path, &error);
  if (!plugin) {
    std::fprintf(stderr, "vimble-host: %s\n", error.c_str());
    return 1;
  }
  const vst2::AEffect& e = *plugin->effect();
  std::printf("plug-in     %s\n", path.c_str());
  std::printf("magic       %s\n", fourcc_text(e.magic).c_str());
  std::printf("programs    %d\n", e.numPrograms);
  std::printf("parameters  %d\n", e.numParams);
  std::printf("inputs      %d\n", e.numInputs);
  std::printf("outputs     %d\n", e.numOutputs);
  std::printf("flags       0x%x\n", static_cast<unsigned>(e.flags));
  std::printf("unique id   %s\n", fourcc_text(e.uniqueID).c_str());
  std::printf("version     %d\n", e.version);
  std::printf("category    %ld\n", static_cast<long>(plugin->category()));
  std::printf("vst version %ld\n", static_cast<long>(plugin->vst_version()));
  std::printf("effect      %s\n", plugin->effect_name().c_str());
  std::printf("vendor      %s\n", plugin->vendor_string().c_str());
  std::printf("product     %s\n", plugin->product_string().c_str());
  std::printf("vendor ver. %ld\n", static_cast<long>(plugin->vendor_version()));
  std::printf("program     %s\n", plugin->program_name().c_str());
  for (const char* text : {"receiveVstEvents", "receiveVstMidiEvent", "midiProgramNames",
                           "sendVstEvents", "offline"})
    std::printf("can do      %-20s %ld\n", text, static_cast<long>(plugin->can_do(text)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "probe") return probe(argv[2]);
  std::fprintf(stderr, "usage: vimble-host probe PLUGIN.so\n");
  return 2;
}
