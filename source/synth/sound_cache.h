// The engine's sound cache: every sound it was asked for, by file name, loaded on worker
// threads and handed to the audio thread ready to install.
//
//   SoundCache cache;
//   cache.request(L"/sounds/loop.wav", -1, -1.0, 0x20F);  // any thread, the audio thread too
//   ... audio thread, at the start of a block:
//   SoundCache::Install install;
//   while (cache.take(install)) { /* install the sound, apply the patch, notify */ }
//
// Threads. A loader thread owned by the cache is the only one that touches the maps
// (`soundpacks`, `deferred_patches`); it starts one worker per load and collects finished
// ones without waiting on them. Requests reach it through a lock-free queue of fixed messages,
// so the audio thread may ask for a sound (a MIDI program change whose patch names one).
// Finished work leaves through a second lock-free queue towards the audio thread. An entry of
// the cache is never removed, and once its sound is ready it never changes, so the installs
// hand over a pointer to the cache's own shared pointer: the audio thread never frees a sound.
// The destructor stops the loader, which first waits for every running worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "synth/message_queue.h"

namespace audio {
class SoundPack;
}

namespace korvel::vimble {

class SoundCache {
 public:
  // What an install asks of the audio thread (see Synth::take_installs).
  enum Kind : int32_t {
    LOADED = 0,      // a load finished: install, apply the deferred patch or the whole sound
    CACHE_HIT = 1,   // a request found a ready sound: install, then apply or notify
    APPLY_ONLY = 2,  // a request found a sound still loading (or not found): apply or notify
    DIRECT = 3,      // set_sound: install only
  };
  struct Install {
    const std::shared_ptr<audio::SoundPack>* sound = nullptr;  // null: nothing to install
    int32_t patch = -1;
    double changetime = -1.0;
    int32_t group = 0;
    Kind kind = DIRECT;
  };

  // A load that carries a patch to apply once its sound is there.
  struct DeferredPatch {
    int32_t patch = -1;      // patch slot, -1 for none
    int32_t group = 0;       // ParamGroup bits of the application
    double changetime = -1;  // seconds; negative: the store's change time
    std::shared_ptr<audio::SoundPack> pack;  // the placeholder made when the load started
    std::future<std::shared_ptr<audio::SoundPack>> result;  // the pack with the final status
  };

  static constexpr size_t MAX_NAME = 1024;  // wide characters of a requested file name

  SoundCache();
  ~SoundCache();
  SoundCache(const SoundCache&) = delete;
  SoundCache& operator=(const SoundCache&) = delete;

  // Any thread, the audio thread included (no allocation, no lock): asks for the sound of
  // name with a patch to apply (-1 none), its glide time and group. False when the request
  // cannot be taken (name too long, queue full).
  bool request(const std::wstring& name, int patch, double changetime, int group) noexcept;
  // Any thread but the audio thread: keeps pack for the cache's life and posts its install.
  void install_direct(std::shared_ptr<audio::SoundPack> pack);
  // The consumer (the audio thread): the next finished install, if any.
  bool take(Install& out) noexcept;

  // Requests not yet handled plus loads still running. Any thread.
  int pending() const noexcept { return queued_.load() + running_.load(); }
  // The status of the sound asked for last (audio::SoundPack::Status); 0 when none was.
  // A request that the loader has not handled yet counts as a load in progress.
  int load_status() const noexcept {
    constexpr int LOOKING_FOR_FILE = 1;  // audio::SoundPack::LookingForFile
    if (queued_.load(std::memory_order_acquire) > 0) return LOOKING_FOR_FILE;
    return status_.load(std::memory_order_acquire);
  }
  // Any thread but the audio thread: waits until nothing is pending or timeout passes.
  bool wait_idle(std::chrono::milliseconds timeout) const;

  // Worker thread: loads the placeholder's file. Returns the pack that now carries the final
  // status: the loaded pack, or the placeholder with a failure status.
  static std::shared_ptr<audio::SoundPack> load_soundfile_worker(
      std::shared_ptr<audio::SoundPack> placeholder);

 private:
  struct Request {
    wchar_t name[MAX_NAME];
    uint32_t length;
    int32_t patch;
    double changetime;
    int32_t group;
  };

  void run();
  void handle(const Request& request);
  void collect_finished();
  void post(const Install& install);
  void update_status();

  // Loader thread only.
  std::map<std::wstring, std::shared_ptr<audio::SoundPack>> soundpacks;
  std::map<std::wstring, DeferredPatch> deferred_patches;
  std::wstring last_name_;

  std::mutex retained_mutex_;  // non-audio threads only
  std::list<std::shared_ptr<audio::SoundPack>> retained_;

  MessageQueue<Request, 32> requests_;  // any thread -> loader
  MessageQueue<Install, 64> installs_;  // loader and non-audio threads -> audio thread
  std::atomic<int> queued_{0};          // requests pushed and not yet handled
  std::atomic<int> running_{0};         // loads started and not yet collected
  std::atomic<int> status_{0};
  std::atomic<bool> quit_{false};
  std::mutex wake_mutex_;  // loader and non-audio threads only
  std::condition_variable wake_;
  std::thread loader_;
};

// The UTF-32 form of UTF-8 text; throws std::invalid_argument for malformed text.
std::wstring utf8_to_wide_strict(const std::string& text);

}  // namespace korvel::vimble
