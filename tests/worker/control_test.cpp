// Pause, resume and stop while the worker runs on its own thread. The play
// callback blocks on gates so the worker is held at known points.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "worker_fixture.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

class ControlTest : public WorkerTest {
 protected:
  // Three one-second chunks of the pause unit, then the completion call.
  void AddThreeChunkVoice() {
    AddMarkerVoice("v", 1000, {kPunctuationUnit}, 3000);
  }

  void StartWorker(UtteranceRequest request) {
    worker_ = std::thread([this, request = std::move(request)] {
      SpeakUtterance(context, request, lexicon);
    });
  }

  void JoinWorker() {
    if (worker_.joinable()) worker_.join();
  }

  void TearDown() override {
    JoinWorker();
    WorkerTest::TearDown();
  }

  // Gives a worker that ignores the pause a chance to show it; a correct
  // worker passes whatever the scheduling.
  static void LetWorkerRun() { std::this_thread::sleep_for(20ms); }

  std::thread worker_;
};

TEST_F(ControlTest, PauseHoldsTheNextChunkUntilResume) {
  AddThreeChunkVoice();
  Gate firstDelivered;
  std::atomic<bool> deliveredWhilePaused{false};
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) {
      Pause();
      firstDelivered.Open();
    } else if (context.paused.load()) {
      deliveredWhilePaused = true;
    }
  };
  StartWorker(Prepare(u"."));
  ASSERT_TRUE(firstDelivered.Wait());
  LetWorkerRun();
  EXPECT_EQ(recorder.Count(), 1u);
  Resume();
  JoinWorker();
  EXPECT_FALSE(deliveredWhilePaused.load());
  EXPECT_EQ(SampleCallCount(), 3u);
  EXPECT_EQ(CompletionCount(), 1u);
  EXPECT_EQ(PlayedUnits(3000), (std::vector<int32_t>{kPunctuationUnit}));
}

TEST_F(ControlTest, PauseThenStopDropsTheHeldChunk) {
  AddThreeChunkVoice();
  Gate firstDelivered;
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) {
      Pause();
      firstDelivered.Open();
    }
  };
  UtteranceRequest request = Prepare(u"...");
  auto control = request.control;
  StartWorker(std::move(request));
  ASSERT_TRUE(firstDelivered.Wait());
  LetWorkerRun();
  Stop(*control);
  JoinWorker();
  EXPECT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(CompletionCount(), 0u);
}

TEST_F(ControlTest, PauseHoldsTheStreamPathToo) {
  AddThreeChunkVoice();
  context.pitch.store(60);
  Gate firstDelivered;
  std::atomic<bool> deliveredWhilePaused{false};
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) {
      Pause();
      firstDelivered.Open();
    } else if (context.paused.load()) {
      deliveredWhilePaused = true;
    }
  };
  StartWorker(Prepare(u"..."));
  ASSERT_TRUE(firstDelivered.Wait());
  LetWorkerRun();
  EXPECT_EQ(recorder.Count(), 1u);
  Resume();
  JoinWorker();
  EXPECT_FALSE(deliveredWhilePaused.load());
  EXPECT_GT(SampleCallCount(), 1u);
  EXPECT_EQ(CompletionCount(), 1u);
  EXPECT_TRUE(recorder.Chunks().back().IsCompletion());
}

TEST_F(ControlTest, StopEndsTheUtteranceWithoutCompletionOrFurtherAudio) {
  AddThreeChunkVoice();
  Gate inCallback, release;
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) {
      inCallback.Open();
      ASSERT_TRUE(release.Wait());
    }
  };
  UtteranceRequest request = Prepare(u"....");
  auto control = request.control;
  StartWorker(std::move(request));
  ASSERT_TRUE(inCallback.Wait());
  Stop(*control);
  release.Open();
  JoinWorker();
  EXPECT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(CompletionCount(), 0u);
  EXPECT_FALSE(context.running.load());
}

TEST_F(ControlTest, StopInTheStreamPathDropsWhatSonicStillHolds) {
  AddThreeChunkVoice();
  context.rate.store(0);
  Gate inCallback, release;
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) {
      inCallback.Open();
      ASSERT_TRUE(release.Wait());
    }
  };
  UtteranceRequest request = Prepare(u"....");
  auto control = request.control;
  StartWorker(std::move(request));
  ASSERT_TRUE(inCallback.Wait());
  Stop(*control);
  release.Open();
  JoinWorker();
  EXPECT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(CompletionCount(), 0u);
}

TEST_F(ControlTest, StoppedWorkerLeavesTheNextUtterancesFlagAlone) {
  // Stop from inside the callback detaches the worker and a new Speak sets
  // running again: the old worker must end without touching it.
  AddThreeChunkVoice();
  UtteranceRequest request = Prepare(u"...");
  auto control = request.control;
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) {
      control->stopped.store(true);
      context.running.store(true);
    }
  };
  SpeakUtterance(context, request, lexicon);
  EXPECT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(CompletionCount(), 0u);
  EXPECT_TRUE(context.running.load());
}

TEST_F(ControlTest, StoppedWorkerIgnoresAPauseMeantForTheNextUtterance) {
  AddThreeChunkVoice();
  UtteranceRequest request = Prepare(u"...");
  auto control = request.control;
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) {
      control->stopped.store(true);
      context.running.store(true);
      context.paused.store(true);
    }
  };
  // Would block forever if the wait looked at running alone.
  SpeakUtterance(context, request, lexicon);
  EXPECT_EQ(recorder.Count(), 1u);
  EXPECT_TRUE(context.running.load());
}

TEST_F(ControlTest, ThrowingPlayCallbackDoesNotEndTheUtterance) {
  AddMarkerVoice("v", 1000, {kPunctuationUnit, LetterUnit('a')}, 1500);
  DeliverThroughEngine();
  recorder.hook = [](std::size_t, const DeliveredChunk&) {
    throw std::runtime_error("fault in the host");
  };
  Speak(u"a.");
  EXPECT_EQ(PlayedUnits(1500),
            (std::vector<int32_t>{LetterUnit('a'), kPunctuationUnit}));
  EXPECT_EQ(CompletionCount(), 1u);
  EXPECT_FALSE(context.running.load());
}

TEST_F(ControlTest, WaitWhilePausedYieldsAtOnceWhenNotPaused) {
  UtteranceControl control;
  context.running.store(true);
  EXPECT_TRUE(WaitWhilePaused(context, control));
  control.stopped.store(true);
  EXPECT_FALSE(WaitWhilePaused(context, control));
  context.paused.store(true);
  EXPECT_FALSE(WaitWhilePaused(context, control));
}

}  // namespace
}  // namespace vesk::test
