// Starting, stopping and winding down utterances. Speak, Stop and
// Uninitialize may come from several host threads at once and from inside
// the play callback: they are serialised by controlMutex, which is never
// held while a worker is joined or a host callback runs.
#include <new>
#include <utility>

#include "api/callbacks.h"
#include "api/engine_api.h"
#include "platform/platform.h"
#include "worker/speech_worker.h"

namespace vesk {

namespace {

// Set on every worker thread: calls made from inside the play callback never
// wait for workers, least of all the one they run on.
thread_local bool onWorkerThread = false;

// StopAttachedLocked, counting the worker as being joined until
// FinishWorker is done with it. Caller holds controlMutex.
platform::Thread TakeWorkerLocked(EngineState& engine) {
  platform::Thread worker = StopAttachedLocked(engine);
  if (worker.started && !platform::IsCurrentThread(worker)) {
    ++engine.joiningWorkers;
  }
  return worker;
}

// Waits until no stopped worker is still being joined by another host
// thread: until then it may still call back, and a new worker would overlap
// it. Caller holds controlMutex through lock.
void AwaitJoiningWorkersLocked(EngineState& engine,
                               std::unique_lock<std::mutex>& lock) {
  if (onWorkerThread) return;
  engine.workerFinished.wait(lock, [&] { return engine.joiningWorkers == 0; });
}

// Waits for a stopped worker; on the worker itself (a call from inside the
// play callback) lets it go instead; the library stays loaded until the
// detached thread has left it.
void FinishWorker(EngineState& engine, platform::Thread worker) {
  if (!worker.started) return;
  if (platform::IsCurrentThread(worker)) {
    platform::DetachThread(worker);
    return;
  }
  platform::JoinThread(worker);
  {
    std::lock_guard lock(engine.controlMutex);
    --engine.joiningWorkers;
  }
  engine.workerFinished.notify_all();
}

void RunWorker(EngineState& engine, UtteranceRequest request) {
  onWorkerThread = true;
  const std::shared_ptr<UtteranceControl> control = request.control;
  try {
    SpeechWorker(engine.workerContext, std::move(request));
  } catch (...) {
    // Out of memory inside the worker: end the utterance quietly.
    EndUtterance(engine.workerContext, *control);
  }
}

struct WorkerStart {
  EngineState* engine;
  UtteranceRequest request;
};

// The thread body. Everything the utterance owns is released before the
// worker stops counting as live: from then on the engine may be torn down.
void WorkerMain(void* start) {
  auto* owned = static_cast<WorkerStart*>(start);
  EngineState& engine = *owned->engine;
  RunWorker(engine, std::move(owned->request));
  delete owned;
  engine.liveWorkers.fetch_sub(1);
}

}  // namespace

bool Stop(EngineState& engine) {
  platform::Thread worker;
  {
    std::unique_lock lock(engine.controlMutex);
    worker = TakeWorkerLocked(engine);
    if (!worker.started) AwaitJoiningWorkersLocked(engine, lock);
  }
  FinishWorker(engine, worker);
  return true;
}

bool Speak(EngineState& engine, const char16_t* voiceName, const char16_t* text,
           int32_t userValue) {
  if (text == nullptr || text[0] == u'\0') return false;
  UtteranceRequest request;
  request.text = text;
  if (voiceName != nullptr) request.voiceName = voiceName;
  request.userValue = userValue;

  for (;;) {
    platform::Thread previous;
    {
      std::unique_lock lock(engine.controlMutex);
      AwaitJoiningWorkersLocked(engine, lock);
      if (!engine.initialized) return false;
      if (!engine.workerThread.started) {
        // Nothing attached any more: whatever spoke before has been
        // stopped and finished.
        if (voiceName == nullptr) request.voiceName = engine.currentVoiceName;
        auto control = std::make_shared<UtteranceControl>();
        request.control = control;
        auto* start =
            new (std::nothrow) WorkerStart{&engine, std::move(request)};
        if (start == nullptr) return false;
        BeginUtterance(engine.workerContext);
        engine.liveWorkers.fetch_add(1);
        engine.workerThread = platform::StartThread(&WorkerMain, start);
        if (!engine.workerThread.started) {
          delete start;
          engine.liveWorkers.fetch_sub(1);
          EndUtterance(engine.workerContext, *control);
          return false;
        }
        engine.currentUtterance = std::move(control);
        return true;
      }
      previous = TakeWorkerLocked(engine);
    }
    FinishWorker(engine, previous);
  }
}

bool Uninitialize(EngineState& engine) {
  platform::Thread worker;
  {
    std::unique_lock lock(engine.controlMutex);
    if (!engine.initialized) return true;
    // No new utterance can start from here on.
    engine.initialized = false;
    worker = TakeWorkerLocked(engine);
    if (!worker.started) AwaitJoiningWorkersLocked(engine, lock);
  }
  FinishWorker(engine, worker);
  {
    std::lock_guard lock(engine.controlMutex);
    // A detached worker keeps its own voice alive.
    engine.workerContext.voices.Clear();
  }
  LogMessage(engine, kLogInfo, u"Halden语音插件已卸载");
  engine.playCallback.exchange(nullptr);
  engine.logCallback.exchange(nullptr);
  return true;
}

}  // namespace vesk
