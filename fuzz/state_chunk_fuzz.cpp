// Fuzz target: any bytes a host may hand to setChunk, taken back by the parameter store.
//
// loads must never crash or throw, whatever it is given. What it keeps must be a stable state:
// the text that dumps then writes, read into an empty store and written again, is the same text.
// The seed corpus (fuzz/corpus/state_chunk/) holds state texts written by the store itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "synth/synth.h"

namespace {

using korvel::vimble::Synth;

constexpr size_t SLOTS = 130;

// A store as the plug-in makes it, except that patches naming a sound never reach the file
// system: without a sound loader such a patch waits (the fuzzer must not open arbitrary paths).
Synth* make_store() {
  auto* synth = new Synth;
  synth->params.load_soundfile = nullptr;
  synth->params.resize_patches(SLOTS);
  return synth;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Parse errors are written to the error stream once per nesting level; keep the run quiet.
  std::cerr.rdbuf(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The stores live for the whole run, as a plug-in instance lives across many chunks; their
  // slots are emptied for each input so that the texts stay as short as the input makes them.
  static Synth* const host = make_store();
  static Synth* const reader = make_store();

  host->params.resize_patches(0);
  host->params.resize_patches(SLOTS);
  host->params.loads(std::string(reinterpret_cast<const char*>(data), size));
  const std::string text = host->params.dumps();

  reader->params.resize_patches(0);
  reader->params.resize_patches(SLOTS);
  reader->params.loads(text);
  if (reader->params.dumps() != text) std::abort();
  return 0;
}
