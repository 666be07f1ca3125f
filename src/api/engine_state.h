// The single engine record behind the exported functions.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "vesksynth.h"
#include "voice/voice_registry.h"

namespace vesk {

// Owned by one utterance. Stop, a new Speak and Uninitialize set it, so a
// worker that was detached (stopped from inside its own play callback) ends
// at its next check even after a new utterance has set running again.
struct UtteranceControl {
  std::atomic<bool> stopped{false};
};

struct EngineState {
  bool initialized = false;
  std::atomic<bool> running{false};
  std::atomic<bool> paused{false};
  std::atomic<int32_t> rate{50};
  std::atomic<int32_t> pitch{50};
  std::atomic<int32_t> volume{50};
  std::u16string currentVoiceName;
  std::u16string moduleDirectory;
  std::atomic<LogCallback> logCallback{nullptr};
  std::atomic<PlayCallback> playCallback{nullptr};
  VoiceRegistry voices;
  platform::Thread workerThread;
  std::mutex pauseMutex;
  std::condition_variable pauseCondition;

  // Serialises Speak, Stop and Uninitialize against each other when hosts
  // call them from several threads. Never held while joining a worker or
  // while a host callback runs.
  std::mutex controlMutex;
  // Control of the utterance attached to workerThread; guarded by
  // controlMutex.
  std::shared_ptr<UtteranceControl> currentUtterance;
  // Stopped workers that a host thread is joining outside the lock; guarded
  // by controlMutex. Stop, Speak and Uninitialize on other host threads wait
  // on workerFinished until none is left, so that no callback of a stopped
  // utterance follows their return and no two workers ever overlap.
  int32_t joiningWorkers = 0;
  std::condition_variable workerFinished;

  // Start-up in progress and the thread running it; guarded by
  // controlMutex. A concurrent Initialize waits on startupDone.
  bool startupRunning = false;
  std::thread::id startupThread;
  std::condition_variable startupDone;

  // Worker threads not yet finished, attached or detached. The engine is
  // torn down at unload only when none is left to read it.
  std::atomic<int32_t> liveWorkers{0};
};

// The process-wide engine.
EngineState& Engine();

// Whether an utterance may go on: the engine is running and this utterance
// has not been stopped.
inline bool StillRunning(const EngineState& engine,
                         const UtteranceControl& control) {
  return engine.running.load() && !control.stopped.load();
}

}  // namespace vesk
