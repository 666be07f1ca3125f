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
#include "worker/worker_context.h"

namespace vesk {

struct EngineState {
  // Sends the worker's audio to the play callback.
  EngineState();

  bool initialized = false;
  // The running and paused flags, rate, pitch, volume, the voices and the
  // pause wait: what the worker reads.
  WorkerContext workerContext;
  std::u16string currentVoiceName;
  std::u16string moduleDirectory;
  std::atomic<LogCallback> logCallback{nullptr};
  std::atomic<PlayCallback> playCallback{nullptr};
  platform::Thread workerThread;

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

// Stops the attached utterance (SignalStop) and hands its thread to the
// caller, who must finish it outside the lock. Caller holds controlMutex.
platform::Thread StopAttachedLocked(EngineState& engine);

}  // namespace vesk
