// The parameter store under three threads at once: the host sets and reads normalised values,
// the editor changes scaled values, options, controller types and applies patches, and the
// audio thread advances the glides and reads values and modulation. Run in the ThreadSanitizer
// build, where any unsynchronised access is a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "synth/controller_descriptions.h"
#include "synth/synth.h"
#include "synth/synth_params.h"

namespace korvel::vimble {
namespace {

using PI = ParamInfo;

struct CountingListener : ISynthParamListener {
  CountingListener(int id, int groups) : id(id) { listen_groups = groups; }
  int param_id() const override { return id; }
  void synthParamsUpdated(int) override { calls.fetch_add(1, std::memory_order_relaxed); }
  int id;
  std::atomic<int> calls{0};
};

TEST(ParamsStress, HostEditorAndAudioThreadsAtOnce) {
  Synth synth;
  SynthParams& params = synth.params;
  params.resize_patches(16);
  synth.stream.state = 4;  // playing: changes glide over "apply.changetime"
  params.set_option(56, 0.01);
  std::atomic<int> reports{0};
  params.automate = [&reports](int, float) { reports.fetch_add(1, std::memory_order_relaxed); };
  // Listeners are registered before the threads start, as the editor does when it opens.
  CountingListener sound(0, PI::PG_Sound), grain(2, PI::PG_Synth), env(25, PI::PG_ADSR),
      grid(360, PI::PG_All);
  for (auto* l : {&sound, &grain, &env, &grid}) params.addListener(l);
  // Some patches to apply, with controllers.
  for (size_t slot = 2; slot < 8; ++slot) {
    params.changeValue(4, 10.0 * double(slot), 0);
    params.changeValue(83, double(slot % 4), 0);
    params.changeValue(84, 0.5, 0);
    params.storeCurrentPatch(slot, PatchParam::Mode_Target, PI::PG_All);
  }

  constexpr int ROUNDS = 20000;
  std::atomic<bool> stop{false};

  std::thread audio([&] {
    double sum = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      params.update_params(64.0 / 44100);
      params.update_density();
      for (int id : {2, 3, 4, 5, 7, 8, 9, 10}) sum += params.get_modulated_value(id, -1).second;
      for (int id = 11; id <= 24; ++id) sum += params.get_modulated_value(id, 0).first;
      sum += params.get(0).first + params.get(1).first;
    }
    EXPECT_TRUE(std::isfinite(sum));
  });

  std::thread host([&] {
    std::minstd_rand rng(7);
    std::uniform_int_distribution<int> ids(0, 179);
    std::uniform_real_distribution<float> normal(0, 1);
    for (int i = 0; i < ROUNDS; ++i) {
      const int id = ids(rng);
      params.setNormalValue(id, normal(rng));
      const int read_id = ids(rng);
      const double read = params.getNormalValue(read_id);
      EXPECT_TRUE(read >= 0 && read <= 1) << read_id << ": " << read;
      (void)params.get(ids(rng));
    }
  });

  std::thread editor([&] {
    std::minstd_rand rng(11);
    std::uniform_int_distribution<int> ids(0, 172);
    std::uniform_real_distribution<double> unit(0, 1);
    ControllerBridge bridge(&params.params[12], 0);
    for (int i = 0; i < ROUNDS; ++i) {
      const int id = ids(rng);
      const auto [lo, hi] = std::make_pair(PI::getParamInfo(id).defaults.min, PI::getParamInfo(id).defaults.max);
      params.changeValue(id, lo + (hi - lo) * unit(rng), 0.02 * unit(rng));
      switch (i % 200) {
        case 0: params.applyPatch(2 + size_t(i / 200) % 6, -1, PI::PG_ApplyMask); break;
        case 50: params.set_option(61, unit(rng)); break;
        case 100: params.setDefaultPatch(-1, PI::PG_ApplyMask); break;
        case 150:
          ControllerBridge::set_controller_defaults(static_cast<ParamControl::Type>(1 + i % 8), bridge);
          bridge.send_to_synth();
          bridge.set_param(0, unit(rng));
          break;
        case 175: params.storeCurrentPatch(10, PatchParam::Mode_Current, PI::PG_All); break;
        default: break;
      }
    }
  });

  host.join();
  editor.join();
  stop = true;
  audio.join();
  EXPECT_GT(reports.load(), 0);
  EXPECT_GT(grid.calls.load(), 0);

  // With the writers gone, every glide ends at the last target written, whatever crossed.
  // (Glide times reach 600 s: the threads set "apply.changetime" too.)
  for (int i = 0; i < 10; ++i) params.update_params(1000.0);
  for (int id = 0; id <= 54; ++id) {
    const Param& p = params.params[id];
    EXPECT_EQ(p.current, p.target) << id;
    EXPECT_EQ(p.rate, 0) << id;
    for (int k = 0; k < p.nof_controls; ++k) {
      // (An empty slot does not advance; its values wait for a type.)
      const Controller& live = *p.control(k);
      if (live.type != ParamControl::CT_None) {
        EXPECT_EQ(live.amount.current, live.amount.target) << id << " slot " << k;
      }
      for (size_t push = 1; push < Param::RECORDS; ++push)
        EXPECT_EQ(p.pushed_control(k, push)->type, ParamControl::CT_None) << id << " slot " << k;
    }
  }
}

}  // namespace
}  // namespace korvel::vimble
