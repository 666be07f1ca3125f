// Speak, Stop, Pause and Uninitialize from the host's threads and from
// inside the play callback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

constexpr auto kLimit = kHangLimit;

std::vector<int32_t> LetterUnits() {
  std::vector<int32_t> units;
  for (char c = 'a'; c <= 'z'; ++c) units.push_back(LetterUnit(c));
  return units;
}

std::vector<PlayCall> PlaysOf(int32_t userValue) {
  std::vector<PlayCall> plays;
  for (const PlayCall& call : RecordedPlays()) {
    if (call.userValue == userValue) plays.push_back(call);
  }
  return plays;
}

bool HasCompletion(const std::vector<PlayCall>& plays) {
  for (const PlayCall& call : plays) {
    if (call.IsCompletion()) return true;
  }
  return false;
}

class HostControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearRecordedLogs();
    ClearRecordedPlays();
    SetPlayHook({});
    ASSERT_TRUE(library.ok()) << library.error();
    dir.Write("v.vl", BuildMarkerVoice(16000, LetterUnits(), 64));
    ASSERT_TRUE(library->Initialize(&RecordLog)) << Describe(RecordedLogs());
    library->SetPlayCallback(&RecordPlay);
  }
  void TearDown() override {
    SetPlayHook({});
    if (library.ok()) library->Uninitialize();
  }

  TempDir dir;
  HostLibrary library{dir.path()};
  const std::u16string longText = std::u16string(400, u'a');
};

TEST_F(HostControlTest, StopFromInsidePlayCallbackEndsTheUtterance) {
  std::atomic<int> stops{0};
  std::atomic<int> firstWorker{-1};
  std::promise<void> stopped;
  SetPlayHook([&](const PlayCall& call) {
    if (call.userValue == 1 && stops++ == 0) {
      firstWorker = CurrentThreadId();
      library->Stop();
      stopped.set_value();
    }
  });
  ASSERT_TRUE(library->Speak(nullptr, longText.c_str(), 1));
  ASSERT_EQ(stopped.get_future().wait_for(kLimit), std::future_status::ready);
  SetPlayHook({});
  ASSERT_TRUE(library->Speak(nullptr, u"b", 2));
  ASSERT_TRUE(WaitForCompletion());
  const auto first = PlaysOf(1);
  EXPECT_EQ(first.size(), 1u);
  EXPECT_FALSE(HasCompletion(first));
  EXPECT_TRUE(HasCompletion(PlaysOf(2)));
  // The first worker, which let itself go, leaves by itself.
  EXPECT_TRUE(WaitForThreadToEnd(firstWorker));
}

TEST_F(HostControlTest, SpeakFromInsidePlayCallbackReplacesTheUtterance) {
  std::atomic<int> calls{0};
  SetPlayHook([&](const PlayCall& call) {
    if (call.userValue == 1 && calls++ == 0) {
      library->Speak(nullptr, u"cd", 2);
    }
  });
  ASSERT_TRUE(library->Speak(nullptr, longText.c_str(), 1));
  ASSERT_TRUE(WaitForCompletion());
  library->Stop();
  const auto first = PlaysOf(1);
  EXPECT_EQ(first.size(), 1u);
  EXPECT_FALSE(HasCompletion(first));
  const auto second = PlaysOf(2);
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[0].samples.front(), LetterUnit('c'));
  EXPECT_EQ(second[1].samples.front(), LetterUnit('d'));
  EXPECT_TRUE(second[2].IsCompletion());
}

TEST_F(HostControlTest, UninitializeFromInsidePlayCallbackIsSafe) {
  std::atomic<int> calls{0};
  std::promise<void> done;
  SetPlayHook([&](const PlayCall&) {
    if (calls++ == 0) {
      library->Uninitialize();
      done.set_value();
    }
  });
  ASSERT_TRUE(library->Speak(nullptr, longText.c_str(), 1));
  ASSERT_EQ(done.get_future().wait_for(kLimit), std::future_status::ready);
  SetPlayHook({});
  EXPECT_FALSE(library->Speak(nullptr, u"a", 2));
  ClearRecordedLogs();
  ASSERT_TRUE(library->Initialize(&RecordLog));
  library->SetPlayCallback(&RecordPlay);
  ASSERT_TRUE(library->Speak(nullptr, u"a", 3));
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(PlaysOf(1).size(), 1u);
  EXPECT_FALSE(HasCompletion(PlaysOf(1)));
}

TEST_F(HostControlTest, StopWakesAPausedWorker) {
  std::atomic<int> calls{0};
  std::promise<bool> paused;
  SetPlayHook([&](const PlayCall&) {
    if (calls++ == 0) paused.set_value(library->Pause());
  });
  ASSERT_TRUE(library->Speak(nullptr, longText.c_str(), 1));
  auto pausedResult = paused.get_future();
  ASSERT_EQ(pausedResult.wait_for(kLimit), std::future_status::ready);
  EXPECT_TRUE(pausedResult.get());
  EXPECT_TRUE(library->Stop());  // returns although the worker was paused
  EXPECT_FALSE(library->Resume());
  EXPECT_EQ(PlaysOf(1).size(), 1u);
}

TEST_F(HostControlTest, ResumeLetsAPausedUtteranceFinish) {
  std::atomic<int> calls{0};
  std::promise<bool> paused;
  SetPlayHook([&](const PlayCall&) {
    if (calls++ == 0) paused.set_value(library->Pause());
  });
  ASSERT_TRUE(library->Speak(nullptr, u"abc", 1));
  auto pausedResult = paused.get_future();
  ASSERT_EQ(pausedResult.wait_for(kLimit), std::future_status::ready);
  EXPECT_TRUE(pausedResult.get());
  EXPECT_TRUE(library->Resume());
  ASSERT_TRUE(WaitForCompletion());
  EXPECT_EQ(PlaysOf(1).size(), 4u);
}

TEST_F(HostControlTest, ConcurrentSpeakStopAndUninitializeNeitherHangNorCrash) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(unsigned(t) * 7919u + 1u);
      for (int i = 0; i < 150; ++i) {
        switch (random() % 6) {
          case 0:
          case 1:
            library->Speak(nullptr, u"abc", t);
            break;
          case 2:
            library->Stop();
            break;
          case 3:
            library->Pause();
            library->Resume();
            break;
          case 4:
            if (t == 0) library->Uninitialize();
            break;
          default:
            if (t == 0) library->Initialize(&RecordLog);
            break;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  library->Stop();
  library->Initialize(&RecordLog);
  library->SetPlayCallback(&RecordPlay);
  ClearRecordedPlays();
  ASSERT_TRUE(library->Speak(nullptr, u"ab", 99));
  ASSERT_TRUE(WaitForCompletion());
  const auto last = PlaysOf(99);
  ASSERT_EQ(last.size(), 3u);
  EXPECT_EQ(last[0].samples.front(), LetterUnit('a'));
}

}  // namespace
}  // namespace vesk::test
