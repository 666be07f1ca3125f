// Several host threads drive the control surface in random order; the play
// callback and the calls are stamped on one sequence clock so that the
// engine's promises can be checked afterwards:
//  - play-callback calls never overlap;
//  - an utterance gets at most one completion call;
//  - once Stop (or a Speak that replaces the utterance) has returned, the
//    utterance it ended gets no further callback;
//  - a pause never leaves the engine stuck: Stop, Speak, Resume completes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

constexpr int kHostThreads = 4;
constexpr int kCallsPerThread = 2500;
constexpr auto kChaosTime = 2s;
constexpr uint32_t kSeed = 0x5eed2026;
constexpr int32_t kMaxUtterances = 1 << 16;

struct UtteranceTrace {
  std::atomic<uint64_t> speakReturned{0};  // 0: Speak not yet returned
  std::atomic<uint64_t> lastCallback{0};   // clock at the last callback entry
  std::atomic<int32_t> callbacks{0};
  std::atomic<int32_t> completions{0};
};

// Shared with the worker threads of every engine the test loads; never freed,
// so a late worker can never touch freed memory.
struct Trace {
  std::atomic<uint64_t> clock{1};
  std::atomic<int32_t> inCallback{0};
  std::atomic<int32_t> overlaps{0};
  std::atomic<int32_t> foreignValues{0};
  std::array<UtteranceTrace, kMaxUtterances> utterances;
  std::mutex mutex;
  std::condition_variable completed;
};
Trace* trace = new Trace;

uint64_t Tick() { return trace->clock.fetch_add(1); }

int32_t TracePlay(const int16_t* samples, int32_t byteCount,
                  int32_t userValue) {
  if (trace->inCallback.fetch_add(1) != 0) trace->overlaps.fetch_add(1);
  const uint64_t now = Tick();
  if (userValue < 0 || userValue >= kMaxUtterances) {
    trace->foreignValues.fetch_add(1);
  } else {
    UtteranceTrace& u = trace->utterances[std::size_t(userValue)];
    u.callbacks.fetch_add(1);
    uint64_t last = u.lastCallback.load();
    while (last < now && !u.lastCallback.compare_exchange_weak(last, now)) {
    }
    if (samples == nullptr && byteCount == 0) {
      u.completions.fetch_add(1);
      std::lock_guard lock(trace->mutex);
      trace->completed.notify_all();
    }
  }
  // Now and then take a little time, so that Stop, Pause and Speak also land
  // while a callback is running.
  if (now % 32 == 0) std::this_thread::sleep_for(50us);
  trace->inCallback.fetch_sub(1);
  return 0;
}

// Two distinct callbacks, so that swapping them is a real change.
int32_t PlayA(const char16_t*, const int16_t* samples, int32_t byteCount,
              int32_t userValue) {
  return TracePlay(samples, byteCount, userValue);
}
int32_t PlayB(const char16_t*, const int16_t* samples, int32_t byteCount,
              int32_t userValue) {
  return TracePlay(samples, byteCount, userValue);
}

// A call that may end the utterance in progress: Stop, or a Speak that
// replaces it.
struct Ending {
  uint64_t entered = 0;
  uint64_t returned = 0;
};

enum Op {
  kSpeak,
  kStop,
  kPause,
  kResume,
  kSetRate,
  kSetPitch,
  kSetVolume,
  kSetPlayCallback,
  kPrepareVoice,
  kGetVoiceList,
  kOpCount
};
constexpr const char* kOpNames[kOpCount] = {
    "Speak",    "Stop",      "Pause",           "Resume",       "SetRate",
    "SetPitch", "SetVolume", "SetPlayCallback", "PrepareVoice", "GetVoiceList"};

struct HostThreadLog {
  std::array<int64_t, kOpCount> calls{};
  std::vector<Ending> endings;
};

const std::array<std::u16string, 5> kTexts = {
    u"abc",
    u"中国人，你好！12345 xyz.",
    u"天气很好。我们说话, 3.14 ok?",
    std::u16string(200, u'a') + u"。",
    u"一不好，二不是？987654321012",
};

class ControlSurfaceStressTest : public testing::Test {
 protected:
  void SetUp() override {
    // Units for the letters, the marks and the syllables of the texts, long
    // enough (about 30 ms) that utterances overlap with the chaos.
    std::vector<int32_t> units{kPunctuationUnit};
    for (char letter = 'a'; letter <= 'z'; ++letter)
      units.push_back(LetterUnit(letter));
    for (char16_t digit = u'0'; digit <= u'9'; ++digit) {
      if (const int32_t unit = DigitUnit(digit); unit >= 0)
        units.push_back(unit);
    }
    for (const char* syllable :
         {"zhong", "guo", "ren", "ni", "hao", "tian", "qi", "hen", "wo", "men",
          "shuo", "hua", "yi", "bu", "shi", "er"}) {
      for (int32_t tone = 0; tone <= 4; ++tone) {
        const int32_t unit = SyllableUnitIndex(syllable, tone);
        if (unit >= 0) units.push_back(unit);
      }
    }
    std::sort(units.begin(), units.end());
    units.erase(std::unique(units.begin(), units.end()), units.end());
    dir_.Write("alpha.vl", BuildMarkerVoice(16000, units, 480));
    dir_.Write("beta.vl", BuildMarkerVoice(8000, units, 200));
  }

  TempDir dir_;
};

void RunHostThread(const HostApi& api, int index, std::atomic<int32_t>& nextId,
                   std::chrono::steady_clock::time_point deadline,
                   HostThreadLog& log) {
  std::mt19937 random(kSeed + uint32_t(index));
  std::array<std::array<char16_t, 128>, 4> nameBuffers{};
  std::array<char16_t*, 4> names{};
  for (std::size_t i = 0; i < names.size(); ++i)
    names[i] = nameBuffers[i].data();

  for (int call = 0; call < kCallsPerThread; ++call) {
    if (std::chrono::steady_clock::now() > deadline) break;
    // Weighted: mostly Speak and Stop, the calls that race.
    const uint32_t pick = random() % 100;
    const Op op = pick < 22   ? kSpeak
                  : pick < 40 ? kStop
                  : pick < 50 ? kPause
                  : pick < 60 ? kResume
                  : pick < 66 ? kSetRate
                  : pick < 72 ? kSetPitch
                  : pick < 78 ? kSetVolume
                  : pick < 86 ? kSetPlayCallback
                  : pick < 93 ? kPrepareVoice
                              : kGetVoiceList;
    ++log.calls[op];
    switch (op) {
      case kSpeak: {
        const int32_t id = nextId.fetch_add(1);
        if (id >= kMaxUtterances) break;
        const std::u16string& text = kTexts[random() % kTexts.size()];
        static const char16_t* const voices[] = {nullptr, u"alpha", u"beta",
                                                 u"nobody"};
        const char16_t* voice = voices[random() % 4];
        Ending ending;
        ending.entered = Tick();
        const bool started = api.Speak(voice, text.c_str(), id) != 0;
        ending.returned = Tick();
        EXPECT_TRUE(started) << "Speak refused while initialised";
        if (started) {
          trace->utterances[std::size_t(id)].speakReturned.store(
              ending.returned);
          log.endings.push_back(ending);
        }
        break;
      }
      case kStop: {
        Ending ending;
        ending.entered = Tick();
        EXPECT_TRUE(api.Stop());
        ending.returned = Tick();
        log.endings.push_back(ending);
        break;
      }
      case kPause:
        api.Pause();
        break;
      case kResume:
        api.Resume();
        break;
      case kSetRate:
        EXPECT_TRUE(api.SetRate(0, int32_t(random() % 140) - 20));
        break;
      case kSetPitch:
        EXPECT_TRUE(api.SetPitch(0, int32_t(random() % 140) - 20));
        break;
      case kSetVolume:
        EXPECT_TRUE(api.SetVolume(0, int32_t(random() % 140) - 20));
        break;
      case kSetPlayCallback: {
        // Mostly one of the two callbacks; now and then none at all.
        const uint32_t which = random() % 8;
        api.SetPlayCallback(which == 0 ? nullptr : which % 2 ? &PlayA : &PlayB);
        break;
      }
      case kPrepareVoice: {
        static const char16_t* const voices[] = {u"alpha", u"beta", u"Alpha",
                                                 u""};
        const std::size_t which = random() % 4;
        EXPECT_EQ(api.PrepareVoice(voices[which]) != 0, which < 2);
        break;
      }
      case kGetVoiceList: {
        uint32_t count = 0;
        EXPECT_TRUE(api.GetVoiceList(nullptr, &count));
        EXPECT_EQ(count, 2u);
        count = std::min<uint32_t>(count, uint32_t(names.size()));
        EXPECT_TRUE(api.GetVoiceList(names.data(), &count));
        EXPECT_EQ(std::u16string(names[0]), u"alpha");
        EXPECT_EQ(std::u16string(names[1]), u"beta");
        break;
      }
      case kOpCount:
        break;
    }
  }
}

TEST_F(ControlSurfaceStressTest, RandomCallsFromHostThreadsKeepEveryPromise) {
  // Ends the process, failing the test, if anything below hangs.
  std::atomic<bool> finished{false};
  std::thread watchdog([&] {
    const auto limit = std::chrono::steady_clock::now() + 180s;
    while (!finished.load()) {
      if (std::chrono::steady_clock::now() > limit) {
        std::fprintf(stderr, "stress test hung: watchdog fired\n");
        std::abort();
      }
      std::this_thread::sleep_for(20ms);
    }
  });

  HostLibrary lib(dir_.path());
  ASSERT_TRUE(lib.ok()) << lib.error();
  ASSERT_TRUE(lib->Initialize(nullptr));
  lib->SetPlayCallback(&PlayA);

  std::atomic<int32_t> nextId{1};
  std::vector<HostThreadLog> logs(kHostThreads);
  std::vector<std::thread> hosts;
  const auto deadline = std::chrono::steady_clock::now() + kChaosTime;
  for (int i = 0; i < kHostThreads; ++i) {
    hosts.emplace_back(RunHostThread, std::cref(lib.api()), i, std::ref(nextId),
                       deadline, std::ref(logs[std::size_t(i)]));
  }
  for (std::thread& host : hosts) host.join();

  // After the chaos, whatever state it left (paused, no callback, odd
  // settings): Stop, Speak and Resume must lead to a completion.
  lib->SetPlayCallback(&PlayA);
  lib->SetRate(0, 50);
  lib->SetPitch(0, 50);
  lib->Stop();
  const int32_t lastId = nextId.fetch_add(1);
  ASSERT_LT(lastId, kMaxUtterances);
  ASSERT_TRUE(lib->Speak(nullptr, u"abc.", lastId));
  trace->utterances[std::size_t(lastId)].speakReturned.store(Tick());
  lib->Resume();
  {
    std::unique_lock lock(trace->mutex);
    EXPECT_TRUE(trace->completed.wait_for(lock, 60s, [&] {
      return trace->utterances[std::size_t(lastId)].completions.load() > 0;
    })) << "Stop, Speak, Resume after the chaos never completed";
  }
  lib->Uninitialize();
  finished.store(true);
  watchdog.join();

  // Every call that ended an utterance, by entry; then, for each suffix, the
  // earliest return.
  std::vector<Ending> endings;
  std::array<int64_t, kOpCount> calls{};
  for (const HostThreadLog& log : logs) {
    endings.insert(endings.end(), log.endings.begin(), log.endings.end());
    for (int op = 0; op < kOpCount; ++op) calls[op] += log.calls[op];
  }
  std::sort(
      endings.begin(), endings.end(),
      [](const Ending& a, const Ending& b) { return a.entered < b.entered; });
  std::vector<uint64_t> earliestReturn(endings.size() + 1, UINT64_MAX);
  for (std::size_t i = endings.size(); i-- > 0;) {
    earliestReturn[i] = std::min(earliestReturn[i + 1], endings[i].returned);
  }

  int64_t callbacks = 0, completions = 0, late = 0, doubled = 0;
  for (int32_t id = 1; id <= lastId; ++id) {
    const UtteranceTrace& u = trace->utterances[std::size_t(id)];
    callbacks += u.callbacks.load();
    completions += u.completions.load();
    if (u.completions.load() > 1) ++doubled;
    const uint64_t spoken = u.speakReturned.load();
    if (spoken == 0 || u.lastCallback.load() == 0) continue;
    // The first ending call made after this utterance was started ends it.
    const auto after = std::upper_bound(
        endings.begin(), endings.end(), spoken,
        [](uint64_t t, const Ending& e) { return t < e.entered; });
    const uint64_t endedBy =
        earliestReturn[std::size_t(after - endings.begin())];
    if (u.lastCallback.load() > endedBy) {
      ++late;
      ADD_FAILURE() << "utterance " << id << " got a callback at "
                    << u.lastCallback.load()
                    << " after the call that ended it returned at " << endedBy;
    }
  }

  std::string summary = "calls:";
  for (int op = 0; op < kOpCount; ++op) {
    summary +=
        std::string(" ") + kOpNames[op] + "=" + std::to_string(calls[op]);
  }
  summary += "; utterances=" + std::to_string(lastId) +
             " callbacks=" + std::to_string(callbacks) +
             " completions=" + std::to_string(completions);
  std::printf("%s\n", summary.c_str());
  RecordProperty("summary", summary);

  EXPECT_EQ(trace->overlaps.load(), 0) << "play callbacks overlapped";
  EXPECT_EQ(trace->foreignValues.load(), 0)
      << "a callback carried an unknown userValue";
  EXPECT_EQ(doubled, 0) << "utterances with more than one completion call";
  EXPECT_EQ(late, 0) << "utterances with callbacks after they were ended";
  EXPECT_EQ(trace->utterances[std::size_t(lastId)].completions.load(), 1);
  EXPECT_GT(calls[kSpeak], 0);
  EXPECT_GT(calls[kStop], 0);
}

// A play callback that holds the first utterance inside its first chunk
// until released.
struct Hold {
  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false;
  bool released = false;
  bool returned = false;
};
Hold* hold = new Hold;

int32_t HoldingPlay(const char16_t*, const int16_t* samples, int32_t,
                    int32_t userValue) {
  if (userValue != 1 || samples == nullptr) return 0;
  std::unique_lock lock(hold->mutex);
  if (hold->returned) return 0;
  hold->inside = true;
  hold->changed.notify_all();
  hold->changed.wait(lock, [] { return hold->released; });
  hold->returned = true;
  return 0;
}

// One host thread replaces an utterance whose callback is still running
// (its Speak waits for that worker); a Stop from a second host thread must
// wait for the old worker too, not return while it may still call back.
TEST_F(ControlSurfaceStressTest,
       StopWhileAnotherThreadReplacesTheUtteranceWaitsForIt) {
  HostLibrary lib(dir_.path());
  ASSERT_TRUE(lib.ok()) << lib.error();
  ASSERT_TRUE(lib->Initialize(nullptr));
  lib->SetPlayCallback(&HoldingPlay);
  ASSERT_TRUE(lib->Speak(nullptr, u"abc", 1));
  {
    std::unique_lock lock(hold->mutex);
    ASSERT_TRUE(hold->changed.wait_for(lock, 30s, [] { return hold->inside; }));
  }
  std::thread replacer([&] { lib->Speak(nullptr, u"xyz", 2); });
  // Let the replacing Speak take the old worker, then release it a little
  // later; a Stop that does not wait returns before the release.
  std::thread releaser([] {
    std::this_thread::sleep_for(200ms);
    std::lock_guard lock(hold->mutex);
    hold->released = true;
    hold->changed.notify_all();
  });
  std::this_thread::sleep_for(50ms);
  lib->Stop();
  bool oldWorkerReturned = false;
  {
    std::lock_guard lock(hold->mutex);
    oldWorkerReturned = hold->returned;
  }
  releaser.join();
  replacer.join();
  lib->Uninitialize();
  EXPECT_TRUE(oldWorkerReturned)
      << "Stop returned while the stopped utterance was still in its callback";
}

}  // namespace
}  // namespace vesk::test
