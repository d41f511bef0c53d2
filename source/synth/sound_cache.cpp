// The engine's sound cache: the loader thread, the workers and the hand-over to the audio thread.
#include "synth/sound_cache.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "audio/sound_analysis_pack.h"
#include "audio/sound_file.h"

namespace korvel::vimble {

namespace {

using Status = audio::SoundPack::Status;

// How long the loader sleeps when nobody wakes it: requests from the audio thread do not wake
// it (that would take a lock), so it looks at its queue at least this often.
constexpr auto LOADER_PERIOD = std::chrono::milliseconds(2);

}  // namespace

SoundCache::SoundCache() : loader_([this] { run(); }) {}

SoundCache::~SoundCache() {
  {
    std::lock_guard lock(wake_mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  loader_.join();
}

bool SoundCache::request(const std::wstring& name, int patch, double changetime,
                         int group) noexcept {
  if (name.empty() || name.size() > MAX_NAME) return false;
  Request r;
  std::copy(name.begin(), name.end(), r.name);
  r.length = static_cast<uint32_t>(name.size());
  r.patch = patch;
  r.changetime = changetime;
  r.group = group;
  queued_.fetch_add(1);
  if (!requests_.push(r)) {
    queued_.fetch_sub(1);
    return false;
  }
  return true;
}

void SoundCache::install_direct(std::shared_ptr<audio::SoundPack> pack) {
  if (!pack) return;
  const std::shared_ptr<audio::SoundPack>* ref;
  {
    std::lock_guard lock(retained_mutex_);
    retained_.push_back(std::move(pack));
    ref = &retained_.back();
  }
  status_.store((*ref)->status.load(), std::memory_order_release);
  Install install;
  install.sound = ref;
  install.kind = DIRECT;
  post(install);
}

bool SoundCache::take(Install& out) noexcept { return installs_.pop(out); }

bool SoundCache::wait_idle(std::chrono::milliseconds timeout) const {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (pending() > 0) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void SoundCache::post(const Install& install) {
  // The audio thread takes an install at the start of every block; a full queue only waits
  // while the engine does not render at all.
  while (!installs_.push(install)) {
    if (quit_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::shared_ptr<audio::SoundPack> SoundCache::load_soundfile_worker(
    std::shared_ptr<audio::SoundPack> pack) {
  try {
    pack->status = Status::LookingForFile;
    namespace fs = std::filesystem;
    const fs::path path(audio::wide_to_utf8(pack->name));
    std::error_code error;
    if (!fs::exists(path, error) || error) {
      const fs::path parent = path.parent_path();
      std::error_code parent_error;
      const bool parent_exists = parent.empty() || fs::exists(parent, parent_error);
      pack->status = parent_exists && !parent_error ? Status::FileNotFound : Status::PathNotFound;
      return pack;
    }
    pack->status = Status::LoadingSound;
    auto file = std::make_shared<audio::Soundfile>(pack->name);
    if (file->framecount() > 0) return std::make_shared<audio::SoundPack>(file, pack->name);
    pack->status = Status::InvalidFile;
    return pack;
  } catch (...) {
    pack->status = Status::LoadFailed;
    return pack;
  }
}

void SoundCache::run() {
  Request request;
  for (;;) {
    while (requests_.pop(request)) {
      handle(request);
      // Before the request stops counting as queued, so that its status is never missed.
      update_status();
      queued_.fetch_sub(1);
    }
    collect_finished();
    update_status();
    std::unique_lock lock(wake_mutex_);
    if (quit_) break;
    wake_.wait_for(lock, LOADER_PERIOD);
  }
  // Never leave a worker writing into a pack after the cache is gone.
  for (auto& [name, entry] : deferred_patches)
    if (entry.result.valid()) entry.result.wait();
  deferred_patches.clear();
}

void SoundCache::handle(const Request& request) {
  std::wstring name(request.name, request.length);
  last_name_ = name;
  const auto found = soundpacks.find(name);
  if (found != soundpacks.end()) {
    const int status = found->second->status.load();
    if (status == Status::Ready) {
      post({&found->second, request.patch, request.changetime, request.group, CACHE_HIT});
    } else if (status < Status::PathNotFound) {
      post({nullptr, request.patch, request.changetime, request.group, APPLY_ONLY});
    }
    return;  // PathNotFound, InvalidFile, LoadFailed: a failed name stays failed
  }
  try {
    auto placeholder = std::make_shared<audio::SoundPack>(name);
    soundpacks[name] = placeholder;
    DeferredPatch& entry = deferred_patches[name];
    entry.patch = request.patch;
    entry.changetime = request.changetime;
    entry.group = request.group;
    entry.pack = placeholder;
    entry.result = std::async(std::launch::async, &SoundCache::load_soundfile_worker, placeholder);
    running_.fetch_add(1);
  } catch (...) {
    // Starting the load failed (no thread, no memory): the name is left as failed.
    if (const auto it = soundpacks.find(name); it != soundpacks.end())
      it->second->status = Status::LoadFailed;
    deferred_patches.erase(name);
  }
}

void SoundCache::collect_finished() {
  for (auto it = deferred_patches.begin(); it != deferred_patches.end();) {
    DeferredPatch& entry = it->second;
    if (!entry.result.valid() ||
        entry.result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      ++it;
      continue;
    }
    std::shared_ptr<audio::SoundPack> pack;
    try {
      pack = entry.result.get();
    } catch (...) {
      pack = entry.pack;
      pack->status = Status::LoadFailed;
    }
    std::shared_ptr<audio::SoundPack>& cached = soundpacks[it->first];
    cached = pack;
    if (pack->status.load() == Status::Ready)
      post({&cached, entry.patch, entry.changetime, entry.group, LOADED});
    it = deferred_patches.erase(it);
    update_status();  // before the load stops counting as pending
    running_.fetch_sub(1);
  }
}

void SoundCache::update_status() {
  if (last_name_.empty()) return;
  const auto found = soundpacks.find(last_name_);
  if (found == soundpacks.end()) return;
  // A placeholder not yet picked up by its worker is a load in progress all the same.
  const int status = found->second->status.load();
  status_.store(status == Status::NoStatus ? Status::LookingForFile : status, std::memory_order_release);
}

std::wstring utf8_to_wide_strict(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned c = s[i];
    int extra;
    char32_t cp;
    if (c < 0x80) {
      extra = 0;
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      throw std::invalid_argument("invalid UTF-8 lead byte");
    }
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= n || (s[i + k] & 0xC0) != 0x80)
        throw std::invalid_argument("invalid UTF-8 continuation byte");
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static constexpr char32_t MIN_OF[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < MIN_OF[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      throw std::invalid_argument("invalid UTF-8 code point");
    out.push_back(static_cast<wchar_t>(cp));
    i += extra + 1;
  }
  return out;
}

}  // namespace korvel::vimble
