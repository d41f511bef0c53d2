// The audio thread never allocates or locks: this program replaces malloc, free and the pthread
// mutex calls with counting versions (for the whole process, the loaded plug-in included) and
// renders through processReplacing with counting switched on for that call only. It is a test
// program of its own so that the replaced allocator affects no other test.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/vst_host.h"
#include "support/test_wav.h"

// Sanitizers bring allocators of their own; under them this program only skips.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VIMBLE_COUNTING 0
#else
#define VIMBLE_COUNTING 1
#endif

#if VIMBLE_COUNTING
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

thread_local bool counting = false;
std::atomic<int> allocations{0};
std::atomic<int> frees{0};
std::atomic<int> mutex_calls{0};

void count(std::atomic<int>& counter) {
  if (counting) counter.fetch_add(1, std::memory_order_relaxed);
}

using MutexFn = int (*)(pthread_mutex_t*);
MutexFn real(const char* name) {
  static_assert(sizeof(void*) == sizeof(MutexFn));
  void* f = dlsym(RTLD_NEXT, name);
  MutexFn fn;
  std::memcpy(&fn, &f, sizeof fn);
  return fn;
}

}  // namespace

extern "C" {

void* malloc(size_t size) noexcept {
  count(allocations);
  return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) noexcept {
  count(allocations);
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) noexcept {
  count(allocations);
  return __libc_realloc(p, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
  count(allocations);
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  count(allocations);
  *out = __libc_memalign(alignment, size);
  return *out ? 0 : 12;  // ENOMEM
}
void free(void* p) noexcept {
  if (p) count(frees);
  __libc_free(p);
}

int pthread_mutex_lock(pthread_mutex_t* m) noexcept {
  static const MutexFn fn = real("pthread_mutex_lock");
  count(mutex_calls);
  return fn(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) noexcept {
  static const MutexFn fn = real("pthread_mutex_trylock");
  count(mutex_calls);
  return fn(m);
}
int pthread_mutex_unlock(pthread_mutex_t* m) noexcept {
  static const MutexFn fn = real("pthread_mutex_unlock");
  count(mutex_calls);
  return fn(m);
}

}  // extern "C"
#else
namespace {
thread_local bool counting = false;
std::atomic<int> allocations{0};
std::atomic<int> frees{0};
std::atomic<int> mutex_calls{0};
}  // namespace
#endif

namespace {

constexpr int RATE = 44100;
constexpr int BLOCK = 256;

std::string tone_file() {
  const auto file = std::filesystem::temp_directory_path() /
                    ("vimble-realtime-" + std::to_string(::getpid()) + ".wav");
  write_test_wav(file, RATE, 1, RATE, [](int, uint32_t i) {
    return static_cast<int16_t>(
        std::lround(12000 * std::sin(2 * std::numbers::pi * 300.0 * i / RATE)));
  });
  return file.string();
}

TEST(Realtime, ProcessReplacingNeitherAllocatesNorLocks) {
  if (!VIMBLE_COUNTING) GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
  const std::string sound = tone_file();
  std::ostringstream state;
  state << "{\"patch.1\": {\"grain.rate\": 400, \"grain.length\": 60, \"grain.gliss\": 3,"
        << " \"dist.clip\": 2, \"dist.bitcrush\": 7, \"dist.tone\": 10, \"filter.low\": 0.4,"
        << " \"filter.high\": 0.3, \"delay.time\": 30, \"delay.feedback\": 0.5,"
        << " \"grain.pan\": 0.3, \"timestamp\": 1, \"soundfile\": \"" << sound << "\"}}";
  std::string error;
  auto plugin = vsthost::Plugin::load(VIMBLE_PLUGIN_PATH, &error);
  ASSERT_TRUE(plugin) << error;
  plugin->set_sample_rate(RATE);
  plugin->set_block_size(BLOCK);
  plugin->set_chunk(state.str());
  plugin->resume();

  // Until the sound is installed (uncounted: installing reports the new selection to the host).
  bool playing = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!playing && std::chrono::steady_clock::now() < deadline) {
    const auto block = plugin->render(BLOCK, BLOCK);
    for (float v : block.left) playing = playing || v != 0.f;
    if (!playing) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(playing);

  // Controllers on the host path: an LFO on "grain.rate", a random walk on "grain.freq".
  plugin->set_parameter(83, 3.0f / 8);  // grain.rate.contr0.type: LFO
  plugin->set_parameter(84, 0.8f);
  plugin->set_parameter(103, 1.0f / 8);  // grain.freq.contr0.type: random
  plugin->set_parameter(104, 0.7f);

  std::vector<float> in(BLOCK), left(BLOCK), right(BLOCK);
  float* inputs[2] = {in.data(), in.data()};
  float* outputs[2] = {left.data(), right.data()};
  vst2::AEffect* effect = plugin->effect();
  vsthost::EventList notes({{0, 0x90, 64, 100}, {17, 0xE0, 0, 80}});
  vsthost::EventList release({{3, 0x80, 64, 0}});
  double energy = 0;
  for (int b = 0; b < 400; ++b) {
    if (b % 100 == 10 || b % 100 == 60) {
      vst2::VstEvents* events = (b % 100 == 10 ? notes : release).events();
      counting = true;
      effect->dispatcher(effect, vst2::effProcessEvents, 0, 0, events, 0);
      counting = false;
    }
    if (b % 50 == 25) plugin->set_parameter(5, 0.2f + 0.001f * b);  // host automation
    counting = true;
    effect->processReplacing(effect, inputs, outputs, BLOCK);
    counting = false;
    for (float v : left) energy += double(v) * v;
  }
  EXPECT_GT(energy, 0.0);
  EXPECT_EQ(allocations.load(), 0);
  EXPECT_EQ(frees.load(), 0);
  EXPECT_EQ(mutex_calls.load(), 0);

  // The plug-in's own allocations are seen: writing its state allocates.
  void* chunk = nullptr;
  counting = true;
  effect->dispatcher(effect, vst2::effGetChunk, 0, 0, &chunk, 0);
  counting = false;
  EXPECT_GT(allocations.load(), 0) << "the replaced allocator reaches into the plug-in";
}

// The counting itself works: an allocation and a lock with counting on are seen.
TEST(Realtime, TheCountersSeeAllocationsAndLocks) {
  if (!VIMBLE_COUNTING) GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
  const int before = allocations.load(), locks = mutex_calls.load();
  counting = true;
  std::vector<int>* v = new std::vector<int>(100);
  pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_lock(&m);
  pthread_mutex_unlock(&m);
  counting = false;
  delete v;
  EXPECT_GE(allocations.load() - before, 1);
  EXPECT_EQ(mutex_calls.load() - locks, 2);
}

}  // namespace
