// The plug-in shell through its binary interface: the record, the opcodes, texts and blocks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/vst_host.h"
#include "plugin/audio_effect.h"

namespace {

std::unique_ptr<vsthost::Plugin> load_plugin() {
  std::string error;
  auto plugin = vsthost::Plugin::load(VIMBLE_PLUGIN_PATH, &error);
  EXPECT_TRUE(plugin) << error;
  return plugin;
}

TEST(Shell, RecordOfANewInstance) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  const vst2::AEffect& e = *plugin->effect();
  EXPECT_EQ(e.magic, vst2::fourcc("VstP"));
  EXPECT_EQ(e.numPrograms, 96);
  EXPECT_EQ(e.numParams, 180);
  EXPECT_EQ(e.numInputs, 2);
  EXPECT_EQ(e.numOutputs, 2);
  EXPECT_EQ(e.flags, 0x131);
  EXPECT_EQ(e.uniqueID, vst2::fourcc("Vmbl"));
  EXPECT_EQ(e.version, 1);
  EXPECT_EQ(e.initialDelay, 0);
  EXPECT_FLOAT_EQ(e.ioRatio, 1.f);
  EXPECT_NE(e.processReplacing, nullptr);
  // The entry point asked for the host version first.
  auto calls = plugin->calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().opcode, vst2::audioMasterVersion);
}

TEST(Shell, OpcodeAnswers) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  EXPECT_EQ(plugin->identify(), 0x4E764566);
  EXPECT_EQ(plugin->category(), 2);
  EXPECT_EQ(plugin->vst_version(), 2400);
  EXPECT_EQ(plugin->vendor_version(), 100);
  EXPECT_EQ(plugin->effect_name(), "Quintera");
  EXPECT_EQ(plugin->product_string(), "Quintera");
  EXPECT_EQ(plugin->vendor_string(), "Helmrick");
  EXPECT_EQ(plugin->midi_input_channels(), 1);
  EXPECT_EQ(plugin->midi_output_channels(), 0);
  EXPECT_EQ(plugin->start_process(), 1);
  EXPECT_EQ(plugin->stop_process(), 0);
  EXPECT_EQ(plugin->dispatch(vst2::effGetParameterProperties, 3), 0);
  EXPECT_EQ(plugin->dispatch(999), 0);  // unknown opcodes answer neutrally
  for (const char* text : {"receiveVstEvents", "receiveVstMidiEvent", "midiProgramNames"})
    EXPECT_EQ(plugin->can_do(text), 1) << text;
  for (const char* text : {"sendVstEvents", "offline", ""}) EXPECT_EQ(plugin->can_do(text), -1) << text;
}

TEST(Shell, ProgramsAreNotSelectedByTheHost) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  EXPECT_EQ(plugin->program_name(), "Patch 0");
  plugin->set_program(3);
  plugin->set_program(500);  // beyond the program count: ignored by the frame
  plugin->set_program_name("Lead");
  EXPECT_EQ(plugin->program(), 0);
  EXPECT_EQ(plugin->program_name(), "Patch 0");
}

TEST(Shell, CloseDestroysTheInstance) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  plugin->clear_calls();
  EXPECT_EQ(plugin->close(), 1);
  EXPECT_EQ(plugin->effect(), nullptr);
  // A second instance from the same library is independent of the first.
  auto other = load_plugin();
  ASSERT_TRUE(other);
  EXPECT_EQ(other->effect()->numParams, 180);
}

TEST(Shell, ParameterValuesOutsideTheUnitRangeAreIgnored) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  for (int id : {0, 2, 25, 62}) {
    const float before = plugin->get_parameter(id);
    plugin->set_parameter(id, 1.5f);
    plugin->set_parameter(id, -0.5f);
    EXPECT_EQ(plugin->get_parameter(id), before) << "id " << id;
  }
  // Indices outside the table never reach the store.
  plugin->set_parameter(-1, 0.5f);
  plugin->set_parameter(180, 0.5f);
  EXPECT_EQ(plugin->get_parameter(180), 0.f);
}

TEST(Shell, ChunkIsStableForAnUnchangedState) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  const std::string first = plugin->get_chunk();
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(plugin->get_chunk(), first);
  EXPECT_EQ(plugin->set_chunk(""), 0);
  EXPECT_EQ(plugin->set_chunk("not a state"), 11);
}

// A block never writes past the host's buffers, whatever its length, and a host never hears
// its own stale buffer: frames that are not rendered are cleared.
TEST(Shell, BlocksStayInsideTheHostBuffers) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  plugin->set_sample_rate(44100);
  plugin->set_block_size(1000);
  plugin->resume();
  constexpr float GUARD = 12345.f;
  constexpr int PAD = 16;
  for (int frames : {1, 7, 64, 1000}) {
    std::vector<float> left(frames + 2 * PAD, GUARD), right(frames + 2 * PAD, GUARD);
    plugin->process(left.data() + PAD, right.data() + PAD, frames);
    for (int i = 0; i < PAD; ++i) {
      EXPECT_EQ(left[i], GUARD);
      EXPECT_EQ(right[i], GUARD);
      EXPECT_EQ(left[PAD + frames + i], GUARD) << frames;
      EXPECT_EQ(right[PAD + frames + i], GUARD) << frames;
    }
    for (int i = 0; i < frames; ++i) {
      ASSERT_NE(left[PAD + i], GUARD) << "stale frame " << i << " of " << frames;
      ASSERT_NE(right[PAD + i], GUARD) << "stale frame " << i << " of " << frames;
    }
  }
  plugin->suspend();
}

TEST(Shell, DoubleProcessingCopiesInputs) {
  auto plugin = load_plugin();
  ASSERT_TRUE(plugin);
  std::vector<double> in_l{1, 2, 3}, in_r{4, 5, 6}, out_l(3), out_r(3);
  double* inputs[2] = {in_l.data(), in_r.data()};
  double* outputs[2] = {out_l.data(), out_r.data()};
  plugin->effect()->processDoubleReplacing(plugin->effect(), inputs, outputs, 3);
  EXPECT_EQ(out_l, in_l);
  EXPECT_EQ(out_r, in_r);
}

TEST(Float2String, EightCharacters) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.5f, "0.500000"},      {1200.f, "1200.000"},   {-0.25f, "-0.25000"},
      {0.f, "0.000000"},       {7.f, "7.000000"},      {-3.f, "-3.00000"},
      {1234567.f, "1234567."}, {12345678.f, "2345678."},  // the leading digit is dropped
      {-1234567.f, "-234567."}, {99999992.f, "9999992."},
      {100000000.f, "Huge!"},  {-10000000.f, "Huge!"},  {-9999999.f, "-999999."},
  };
  for (const Case& c : cases) {
    char text[16];
    std::memset(text, 'x', sizeof(text));
    AudioEffect::float2string(c.value, text, 8);
    EXPECT_STREQ(text, c.text) << "value " << c.value;
  }
}

TEST(Float2String, CopiesAtMostTheMaximumLength) {
  char text[8];
  std::memset(text, 'x', sizeof(text));
  AudioEffect::float2string(0.5f, text, 3);
  EXPECT_STREQ(text, "0.5");
  EXPECT_EQ(text[4], 'x');
}

}  // namespace

namespace {

// A host finds the plug-in by its entry point; nothing of ours is visible besides it.
TEST(Shell, ExportsOnlyTheEntryPoint) {
  const std::string command = "nm -D --defined-only '" VIMBLE_PLUGIN_PATH "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe)) {
    std::string text(line);
    const auto space = text.find_last_of(' ');
    std::string name = text.substr(space + 1);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    symbols.push_back(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(symbols, std::vector<std::string>{"VSTPluginMain"});
}

}  // namespace
