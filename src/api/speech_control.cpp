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

// Waits for a stopped worker; on the worker itself (a call from inside the
// play callback) lets it go instead, and keeps the library mapped so that
// the detached thread can never return into unloaded code.
void FinishWorker(std::thread worker) {
  if (!worker.joinable()) return;
  if (worker.get_id() == std::this_thread::get_id()) {
    platform::PinModuleOf(reinterpret_cast<const void*>(&AddressInsideLibrary));
    worker.detach();
    return;
  }
  worker.join();
}

void RunWorker(EngineState& engine, UtteranceRequest request) {
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
    std::lock_guard lock(engine.controlMutex);
    worker = StopAttachedLocked(engine);
  }
  FinishWorker(std::move(worker));
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
      std::lock_guard lock(engine.controlMutex);
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
      previous = StopAttachedLocked(engine);
    }
    FinishWorker(std::move(previous));
  }
}

bool Uninitialize(EngineState& engine) {
  std::thread worker;
  {
    std::lock_guard lock(engine.controlMutex);
    if (!engine.initialized) return true;
    // No new utterance can start from here on.
    engine.initialized = false;
    worker = StopAttachedLocked(engine);
  }
  FinishWorker(std::move(worker));
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
