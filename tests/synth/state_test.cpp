// The plug-in state text and patch files: dumps, loads, load_patch_file, save_patch_file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/sound_analysis_pack.h"
#include "synth/serialization.h"
#include "synth/state_fixture.h"
#include "synth/synth.h"
#include "synth/synth_params.h"
#include "synth/text_file.h"

namespace korvel::vimble {
namespace {

using state_fixture::read_file;
using state_fixture::TempDir;
using state_fixture::write_file;
using PI = ParamInfo;

constexpr int RATE = 4;  // "grain.rate"

const std::string OPTIONS_ONLY =
    "{\n"
    "  \"apply.changetime\": 1,\n"
    "  \"apply.patch_controls\": 1,\n"
    "  \"apply.patch_globals\": 0,\n"
    "  \"apply.patch_random\": 0,\n"
    "  \"apply.patch_soundfile\": 1,\n"
    "  \"density.compensation\": 1\n"
    "}\n";

// A stored patch: defaults, the given grain rate, a timestamp.
Patch stored_patch(double rate, const std::wstring& soundfile = L"") {
  Patch patch;
  for (int id = 0; id < Patch::NUM_PARAMS; ++id) patch.params[id].value = PI::getParamInfo(id).defaults.value;
  patch.params[RATE].value = rate;
  patch.params[Patch::TIMESTAMP].value = 1544000000;
  patch.soundfile = soundfile;
  return patch;
}

void put(SynthParams& params, size_t slot, const Patch& patch) { params.patches.replace(slot, patch); }

struct CountingListener : ISynthParamListener {
  CountingListener() { listen_groups = PI::PG_Patches; }
  int param_id() const override { return 360; }
  void synthParamsUpdated(int code) override { codes.push_back(code); }
  std::vector<int> codes;
};

class State : public ::testing::Test {
 protected:
  void SetUp() override { params.resize_patches(130); }

  Synth synth;
  SynthParams& params = synth.params;
};

TEST_F(State, AStoreWithoutPatchesWritesTheSixOptions) {
  EXPECT_EQ(params.dumps(), OPTIONS_ONLY);
  // Loading it leaves every slot as it was.
  put(params, 7, stored_patch(33));
  params.loads(OPTIONS_ONLY);
  EXPECT_TRUE(params.isValidPatch(7));
  EXPECT_EQ(params.patches[7].params[RATE].value, 33);
  EXPECT_EQ(params.dumps().find("\"patch."), params.dumps().find("\"patch.7\""));
}

TEST_F(State, LayoutOfTheStateText) {
  Patch patch = stored_patch(20);
  patch.params[RATE].controllers[0] = {1, 0.5, {0.1, 0.2, 0}};
  put(params, 0, patch);
  put(params, 2, stored_patch(21));
  put(params, 10, stored_patch(22));
  const std::string text = params.dumps();
  // Options first, then the slots in the order of their keys ("patch.10" before "patch.2").
  const size_t p0 = text.find("\n  \"patch.0\": {\n");
  const size_t p10 = text.find("\n  \"patch.10\": {\n");
  const size_t p2 = text.find("\n  \"patch.2\": {\n");
  ASSERT_NE(p0, std::string::npos);
  EXPECT_LT(text.find("\"density.compensation\": 1,"), p0);
  EXPECT_LT(p0, p10);
  EXPECT_LT(p10, p2);
  // Patches and their controllers and envelopes on lines of their own; points on one line each.
  EXPECT_NE(text.find("    \"adsr1.points\": [\n"
                      "      { \"curve\": 0, \"delta\": 0, \"level\": 0 },\n"
                      "      { \"curve\": 0, \"delta\": 12.5, \"level\": 1 },\n"),
            std::string::npos);
  EXPECT_NE(text.find("    \"grain.rate\": 20,\n"
                      "    \"grain.rate.controller.0\": {\n"
                      "      \"amount\": 0.5,\n"
                      "      \"spread\": 0.2,\n"
                      "      \"type\": \"random\",\n"
                      "      \"walk\": 0.1\n"
                      "    },\n"),
            std::string::npos);
  EXPECT_NE(text.find("    \"timestamp\": 1544000000\n  },\n"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.substr(text.size() - 6), "  }\n}\n");
}

TEST_F(State, OptionsAndTheApplyMask) {
  struct Case {
    std::string text;
    int id;
    double value;
    int mask_bit;  // the apply-mask bit of the option (0: none)
    bool bit_set;
  };
  const std::vector<Case> cases = {
      {R"({"apply.patch_globals": 1})", 61, 1, 64, true},
      {R"({"apply.patch_globals": 0.4})", 61, 0.4, 64, false},
      {R"({"apply.patch_globals": 7})", 61, 0, 64, false},  // out of range: the default 0
      {R"({"apply.patch_soundfile": 0})", 59, 0, 1, false},
      {R"({"apply.patch_controls": 0.6})", 60, 0.6, 8, true},
      {R"({"apply.changetime": 900})", 56, 1, 0, false},  // range 0..600: the default 1
      {R"({"apply.changetime": 5})", 56, 5, 0, false},
      {R"({"density.compensation": 1.5})", 57, 1.5, 0, false},
      {R"({"apply.patch_random": 0.25})", 58, 0.25, 0, false},
  };
  for (const Case& c : cases) {
    Synth fresh;
    SynthParams& p = fresh.params;
    p.resize_patches(130);
    p.set_option(61, 1);  // bit 64 on, to see it cleared
    std::vector<int> reported;
    p.automate = [&reported](int id, float) { reported.push_back(id); };
    p.loads(c.text);
    EXPECT_EQ(p.params[c.id].target, c.value) << c.text;
    EXPECT_EQ(p.params[c.id].current, c.value) << c.text;  // at once
    if (c.mask_bit) {
      EXPECT_EQ((p.apply_mask & c.mask_bit) != 0, c.bit_set) << c.text;
    }
    EXPECT_TRUE(reported.empty()) << c.text;  // the host restores the state: no automation
  }
  // Other kinds of value and other parameters are ignored.
  params.loads(R"({"apply.changetime": "5", "grain.rate": 50, "sound.play_rate.contr0.type": 3})");
  EXPECT_EQ(params.params[56].target, 1);
  EXPECT_EQ(params.params[RATE].target, 20);
}

TEST_F(State, PatchMembersMergeIntoTheSlots) {
  put(params, 2, stored_patch(22));
  put(params, 3, stored_patch(23));
  CountingListener listener;
  params.addListener(&listener);
  params.loads(R"({
    "patch.": {"timestamp": 5, "grain.rate": 41},
    "patch.-": {"timestamp": 5, "grain.rate": 42},
    "patch.2": {"timestamp": 5, "grain.rate": true},
    "patch.3": {"timestamp": 5, "grain.rate": 43},
    "patch.4": {"timestamp": 5, "grain.rate": 44},
    "patch.130": {"timestamp": 5, "grain.rate": 45},
    "patch.200": {"timestamp": 5, "grain.rate": 46},
    "patch.x": {"timestamp": 5, "grain.rate": 47},
    "patch.y": {"timestamp": 5, "grain.rate": 48}
  })");
  // A refused patch keeps its slot; the others replace theirs; members without a slot number
  // or beyond the slots are ignored and do not stop the members after them.
  EXPECT_EQ(params.patches[2].params[RATE].value, 22);
  EXPECT_EQ(params.patches[3].params[RATE].value, 43);
  EXPECT_EQ(params.patches[3].params[Patch::TIMESTAMP].value, 5);
  EXPECT_EQ(params.patches[4].params[RATE].value, 44);
  EXPECT_EQ(params.patches[0].params[RATE].value, 0);
  EXPECT_FALSE(params.isValidPatch(0));
  EXPECT_EQ(params.patches.size(), 130u);
  EXPECT_EQ(listener.codes, std::vector<int>{PI::PG_Patches});
  params.clearListeners();
}

TEST_F(State, TextsThatAreNoStateChangeNothing) {
  put(params, 1, stored_patch(31));
  put(params, 5, stored_patch(35));
  params.changeValue(RATE, 77, 0);
  const std::string before = params.dumps();
  struct Case {
    std::string text;
    bool listeners_told;  // a text that is not an object at all; inner damage tells nobody
  };
  std::string random_bytes;
  for (int i = 0; i < 600; ++i) random_bytes += static_cast<char>((i * 7919 + 13) % 256);
  const std::vector<Case> cases = {
      {"", true},
      {"  \n\t", true},
      {"garbage", true},
      {"null", true},
      {"12", true},
      {R"(["patch.1", {"timestamp": 5}])", true},
      {random_bytes, true},
      {std::string("\0\1\2{\"apply.changetime\": 5}", 26), true},
      // Damage inside the text: nothing of it is applied.
      {R"({"apply.changetime": 5, "patch.5": {"timestamp": 5, "grain.rate": [})", false},
      {R"({"apply.changetime": 5, "patch.5": {"timestamp": 5 "grain.rate" 6)", false},
      {R"({"apply.changetime" 5)", false},
      {std::string(600, '[') + "1" + std::string(600, ']'), false},
  };
  for (const Case& c : cases) {
    CountingListener listener;
    params.addListener(&listener);
    params.loads(c.text);
    params.clearListeners();
    EXPECT_EQ(params.dumps(), before) << c.text.substr(0, 60);
    EXPECT_EQ(params.params[RATE].target, 77) << c.text.substr(0, 60);  // slot 1 not applied
    EXPECT_EQ(listener.codes.size(), c.listeners_told ? 1u : 0u) << c.text.substr(0, 60);
  }
}

TEST_F(State, TextRoundTripRestoresSlotsAndOptions) {
  Patch first = stored_patch(35.123456789, L"/sounds/caf\u00e9.wav");
  first.params[0].value = 1000;
  first.params[1].value = 90000;
  first.params[2].controllers[1] = {3, -0.5, {0.25, 0.5, 0.75}};
  first.params[3].controllers[0] = {7, 0.5, {4, 0, 0}};
  first.params[10].controllers[0] = {4, 0.5, {1, 1, 0}};
  first.params[25 + 7].value = 0.55;  // sustain level of envelope 1, both points
  first.params[25 + 10].value = 0.55;
  put(params, 0, first);
  put(params, 1, stored_patch(0.0234567891));
  put(params, 129, stored_patch(1999.9999999));
  params.set_option(57, 1.23456789);
  params.set_option(60, 0);
  const std::string text = params.dumps();

  Synth other;
  other.params.resize_patches(130);
  other.params.loads(text);
  EXPECT_EQ(other.params.dumps(), text);
  // Numbers as the writer writes them: six decimals from 1 up, six significant digits below.
  EXPECT_EQ(other.params.patches[0].params[RATE].value, 35.123457);
  EXPECT_EQ(other.params.patches[1].params[RATE].value, 0.0234568);
  EXPECT_EQ(other.params.patches[129].params[RATE].value, 2000);
  EXPECT_EQ(other.params.params[57].target, 1.234568);
  EXPECT_EQ(other.params.apply_mask & PI::PG_Controls, 0);
  EXPECT_EQ(other.params.patches[0].soundfile, L"/sounds/caf\u00e9.wav");
  EXPECT_EQ(other.params.patches[0].params[1].value, 90000);
}

TEST_F(State, DumpsAlwaysGivesAText) {
  // A name that cannot become UTF-8 (a lone surrogate, a value beyond Unicode).
  put(params, 3, stored_patch(20, std::wstring(L"/sounds/x") + wchar_t(0xDC01) + wchar_t(0x200000) + L".wav"));
  std::string text;
  EXPECT_NO_THROW(text = params.dumps());
  EXPECT_NE(text.find(R"("soundfile": "\/sounds\/x\ufffd\ufffd.wav")"), std::string::npos) << text;
  Synth other;
  other.params.resize_patches(130);
  other.params.loads(text);
  EXPECT_EQ(other.params.patches[3].soundfile, L"/sounds/x\ufffd\ufffd.wav");
}

TEST_F(State, TheWorkingPatchIsAppliedAfterLoading) {
  // Without any editor: slot 1 of the text is applied, values at once.
  params.loads(R"({"patch.1": {"timestamp": 5, "grain.rate": 55, "grain.length": 250}})");
  EXPECT_EQ(params.params[RATE].target, 55);
  EXPECT_EQ(params.params[RATE].current, 55);
  EXPECT_EQ(params.params[5].target, 250);
  // Members the patch lacks read as their parameters' defaults, never as values out of range.
  EXPECT_EQ(params.patches[1].params[16].value, 1200);  // "filter.freq", range 50..8000
  EXPECT_EQ(params.params[16].target, 1200);
  EXPECT_EQ(params.patches[1].params[25 + 4].value, 1);  // envelope 1, level of point 1
  EXPECT_EQ(params.patches[1].params[Patch::TIMESTAMP].value, 5);
  // A state whose slot 1 stays empty applies nothing.
  Synth other;
  other.params.resize_patches(130);
  other.params.loads(R"({"patch.2": {"timestamp": 5, "grain.rate": 56}})");
  EXPECT_EQ(other.params.params[RATE].target, 20);
}

TEST_F(State, TheWorkingPatchStartsItsSoundLoad) {
  TempDir dir;
  const std::string sound = dir.file("tone.wav");
  state_fixture::write_sine_wav(sound, 22050);
  EXPECT_EQ(synth.load_status(), 0);
  params.loads(R"({"patch.1": {"timestamp": 5, "soundfile": )" + state_fixture::json_string(sound) + "}}");
  ASSERT_TRUE(synth.wait_for_loads(10000));
  EXPECT_EQ(synth.load_status(), audio::SoundPack::Ready);
}

TEST_F(State, PatchFilesOfAtMost100BytesAreIgnored) {
  TempDir dir;
  const std::string body = R"({"patch.3": {"timestamp": 5, "grain.rate": 30}})";
  const std::string file = dir.file("short.json");
  for (const size_t size : {size_t(100), size_t(101)}) {
    Synth fresh;
    SynthParams& p = fresh.params;
    p.resize_patches(130);
    write_file(file, body + std::string(size - body.size(), ' '));
    p.load_patch_file(file);
    EXPECT_EQ(p.isValidPatch(3), size > 100) << size;
    EXPECT_EQ(p.patch_file, size > 100 ? file : std::string(DEFAULT_PATCH_FILE_NAME)) << size;
  }
  // A missing file changes nothing, not even the file name.
  params.load_patch_file(dir.file("missing.json"));
  EXPECT_EQ(params.patch_file, DEFAULT_PATCH_FILE_NAME);
  EXPECT_TRUE(params.patch_file_is_default);
}

TEST_F(State, TheDefaultPatchFileByItsAbsolutePath) {
  TempDir dir;
  put(params, 4, stored_patch(44));
  const std::string text = params.dumps();
  write_file(dir.file("vimble.json"), text);
  write_file(dir.file("other.json"), text);

  Synth fresh;
  SynthParams& p = fresh.params;
  p.resize_patches(130);
  {
    state_fixture::WorkingDirectory cd(dir.path());
    p.load_patch_file(p.patch_file);
  }
  const std::string absolute = (std::filesystem::canonical(dir.path()) / "vimble.json").string();
  EXPECT_EQ(std::filesystem::canonical(p.patch_file).string(), absolute);
  EXPECT_TRUE(std::filesystem::path(p.patch_file).is_absolute());
  EXPECT_TRUE(p.patch_file_is_default);
  EXPECT_EQ(p.patches[4].params[RATE].value, 44);
  // Another file: no longer the default; the default again: the flag comes back.
  p.load_patch_file(dir.file("other.json"));
  EXPECT_FALSE(p.patch_file_is_default);
  EXPECT_EQ(p.patch_file, dir.file("other.json"));
  p.load_patch_file(dir.file("other.json"));
  EXPECT_TRUE(p.patch_file_is_default);
}

TEST_F(State, SavedPatchFileNames) {
  TempDir dir;
  put(params, 4, stored_patch(44));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"bank", "bank.json"}, {"bank.JSON", "bank.JSON.json"}, {"set.json", "set.json"}};
  for (const auto& [given, written] : cases) {
    params.save_patch_file(dir.file(given));
    EXPECT_EQ(params.patch_file, dir.file(written));
    EXPECT_EQ(read_file(dir.file(written)), params.dumps()) << given;
    EXPECT_TRUE(params.patch_file_is_default);  // saving never changes the flag
  }
  // What was saved loads back.
  Synth other;
  other.params.resize_patches(130);
  other.params.load_patch_file(dir.file("bank.json"));
  EXPECT_EQ(other.params.patches[4].params[RATE].value, 44);
  // A folder that does not exist: nothing written, nothing thrown.
  params.save_patch_file(dir.file("no/such/folder/bank"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

// Everything in a folder except the given file names.
std::vector<std::string> other_files(const std::filesystem::path& folder, const std::vector<std::string>& known) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) found.push_back(name);
  }
  return found;
}

TEST_F(State, AFailedSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string file = dir.file("bank.json");
  for (int i = 0; i < 20; ++i) put(params, static_cast<size_t>(i), stored_patch(20 + i));
  params.save_patch_file(file);
  const std::string old_text = read_file(file);
  ASSERT_GT(old_text.size(), 10000u);

  // A disk that fills up while writing: files may not grow beyond 4096 bytes.
  put(params, 50, stored_patch(70));
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  params.save_patch_file(file);
  const bool written = write_text_file(dir.file("bank.json"), params.dumps());
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(written);
  EXPECT_EQ(read_file(file), old_text);
  EXPECT_TRUE(other_files(dir.path(), {"bank.json"}).empty());
  // With room again the new state replaces it.
  params.save_patch_file(file);
  EXPECT_EQ(read_file(file), params.dumps());
  EXPECT_TRUE(other_files(dir.path(), {"bank.json"}).empty());
}

TEST(TextFile, ReplacingKeepsPermissionsAndFollowsLinks) {
  TempDir dir;
  const std::string target = dir.file("real.json");
  const std::string link = dir.file("link.json");
  write_file(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  std::filesystem::create_symlink(target, link);
  ASSERT_TRUE(write_text_file(link, "new text"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(read_file(target), "new text");
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(read_text_file(dir.file("missing")), "");
  EXPECT_EQ(read_text_file(dir.path().string()), "");  // a folder reads as nothing
}

}  // namespace
}  // namespace korvel::vimble
