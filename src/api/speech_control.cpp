// Starting, stopping and winding down utterances. Speak, Stop and
// Uninitialize may come from several host threads at once and from inside
// the play callback: they are serialised by controlMutex, which is never
// held while a worker is joined or a host callback runs.
#include <system_error>
#include <utility>

#include "api/callbacks.h"
#include "api/engine_api.h"
#include "platform/platform.h"
#include "worker/speech_worker.h"

namespace vesk {

namespace {

// The library's own code, for pinning it.
void AddressInsideLibrary() {}

// Set on every worker thread: calls made from inside the play callback never
// wait for workers, least of all the one they run on.
thread_local bool onWorkerThread = false;

// Ends the attached utterance and hands its thread to the caller, who must
// finish it outside the lock. Caller holds controlMutex.
std::thread StopAttachedLocked(EngineState& engine) {
  {
    std::lock_guard lock(engine.pauseMutex);
    engine.running.exchange(false);
    engine.paused.exchange(false);
    if (engine.currentUtterance) engine.currentUtterance->stopped.store(true);
    engine.pauseCondition.notify_all();
  }
  engine.currentUtterance.reset();
  return std::move(engine.workerThread);
}

// StopAttachedLocked, counting the worker as being joined until
// FinishWorker is done with it. Caller holds controlMutex.
std::thread TakeWorkerLocked(EngineState& engine) {
  std::thread worker = StopAttachedLocked(engine);
  if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) {
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
// play callback) lets it go instead, and keeps the library mapped so that
// the detached thread can never return into unloaded code.
void FinishWorker(EngineState& engine, std::thread worker) {
  if (!worker.joinable()) return;
  if (worker.get_id() == std::this_thread::get_id()) {
    platform::PinModuleOf(reinterpret_cast<const void*>(&AddressInsideLibrary));
    worker.detach();
    return;
  }
  worker.join();
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
    SpeechWorker(engine, std::move(request));
  } catch (...) {
    // Out of memory inside the worker: end the utterance quietly.
    if (!control->stopped.load()) engine.running.exchange(false);
  }
}

}  // namespace

bool Stop(EngineState& engine) {
  std::thread worker;
  {
    std::unique_lock lock(engine.controlMutex);
    worker = TakeWorkerLocked(engine);
    if (!worker.joinable()) AwaitJoiningWorkersLocked(engine, lock);
  }
  FinishWorker(engine, std::move(worker));
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
    std::thread previous;
    {
      std::unique_lock lock(engine.controlMutex);
      AwaitJoiningWorkersLocked(engine, lock);
      if (!engine.initialized) return false;
      if (!engine.workerThread.joinable()) {
        // Nothing attached any more: whatever spoke before has been
        // stopped and finished.
        if (voiceName == nullptr) request.voiceName = engine.currentVoiceName;
        auto control = std::make_shared<UtteranceControl>();
        request.control = control;
        engine.running.exchange(true);
        engine.paused.exchange(false);
        engine.liveWorkers.fetch_add(1);
        try {
          engine.workerThread = std::thread(
              [&engine](UtteranceRequest utterance) {
                RunWorker(engine, std::move(utterance));
                engine.liveWorkers.fetch_sub(1);
              },
              std::move(request));
        } catch (const std::system_error&) {
          engine.liveWorkers.fetch_sub(1);
          engine.running.exchange(false);
          return false;
        }
        engine.currentUtterance = std::move(control);
        return true;
      }
      previous = TakeWorkerLocked(engine);
    }
    FinishWorker(engine, std::move(previous));
  }
}

bool Uninitialize(EngineState& engine) {
  std::thread worker;
  {
    std::unique_lock lock(engine.controlMutex);
    if (!engine.initialized) return true;
    // No new utterance can start from here on.
    engine.initialized = false;
    worker = TakeWorkerLocked(engine);
    if (!worker.joinable()) AwaitJoiningWorkersLocked(engine, lock);
  }
  FinishWorker(engine, std::move(worker));
  {
    std::lock_guard lock(engine.controlMutex);
    // A detached worker keeps its own voice alive.
    engine.voices.Clear();
  }
  LogMessage(engine, 1, u"Halden语音插件已卸载");
  engine.playCallback.exchange(nullptr);
  engine.logCallback.exchange(nullptr);
  return true;
}

}  // namespace vesk
