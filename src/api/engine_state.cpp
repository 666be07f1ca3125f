#include "api/engine_state.h"

#include <new>
#include <utility>

#include "api/callbacks.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk {

namespace {

// The engine is built in place and torn down by EngineTeardown below, not by
// the usual static destruction, so that it can outlive the unload when a
// detached worker might still read it.
alignas(EngineState) unsigned char engineStorage[sizeof(EngineState)];

EngineState* BuildEngine() { return new (engineStorage) EngineState; }

// Unloading the library (or leaving the process) while a worker is attached
// stops it and disposes of its thread (platform::ReleaseThreadAtUnload); it
// ends at its next check of the stop flag.
struct EngineTeardown {
  EngineTeardown() { Engine(); }
  ~EngineTeardown() {
    if (platform::ProcessIsExiting()) return;
    EngineState& engine = Engine();
    platform::Thread worker;
    {
      std::lock_guard lock(engine.controlMutex);
      worker = StopAttachedLocked(engine);
    }
    platform::ReleaseThreadAtUnload(worker);
    // A detached worker may still be winding down: then the engine stays.
    if (engine.liveWorkers.load() == 0) {
      engine.~EngineState();
      PinyinLexicon::releaseInstance();
    }
  }
};

EngineTeardown teardown;

void DeliverToHost(void* target, const char16_t* voiceName,
                   const int16_t* samples, int32_t byteCount,
                   int32_t userValue) {
  InvokePlayCallback(*static_cast<EngineState*>(target), voiceName, samples,
                     byteCount, userValue);
}

}  // namespace

EngineState::EngineState() { workerContext.sink = {&DeliverToHost, this}; }

platform::Thread StopAttachedLocked(EngineState& engine) {
  SignalStop(engine.workerContext, engine.currentUtterance.get());
  engine.currentUtterance.reset();
  return std::exchange(engine.workerThread, {});
}

EngineState& Engine() {
  static EngineState* const engine = BuildEngine();
  return *engine;
}

}  // namespace vesk
