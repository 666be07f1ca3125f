// What the speech worker shares with whoever starts and stops it: the flags,
// the settings, the voices and the pause wait, and where its audio goes. The
// engine owns one; the worker knows nothing of the engine around it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "voice/voice_registry.h"

namespace vesk {

// Where the worker hands its audio: one call per chunk of samples and, at the
// natural end of an utterance, one call with null samples and 0 bytes. The
// samples are valid only during the call.
struct AudioSink {
  using Deliver = void (*)(void* target, const char16_t* voiceName,
                           const int16_t* samples, int32_t byteCount,
                           int32_t userValue);
  Deliver deliver = nullptr;
  void* target = nullptr;

  void operator()(const char16_t* voiceName, const int16_t* samples,
                  int32_t byteCount, int32_t userValue) const {
    if (deliver != nullptr)
      deliver(target, voiceName, samples, byteCount, userValue);
  }
};

// Owned by one utterance. A stop sets it, so a worker that was let go
// (stopped from inside its own play callback) ends at its next check even
// after a new utterance has set running again.
struct UtteranceControl {
  std::atomic<bool> stopped{false};
};

// The one clamp of a setting (rate, pitch, volume) to 0..100: applied when
// the host sets it, and again by whoever computes from an unchecked value.
constexpr int32_t ClampSetting(int32_t value) {
  return value < 0 ? 0 : value > 100 ? 100 : value;
}

struct WorkerContext {
  std::atomic<bool> running{false};
  std::atomic<bool> paused{false};
  // 0..100 each, stored through ClampSetting; the worker reads them once
  // per utterance.
  std::atomic<int32_t> rate{50};
  std::atomic<int32_t> pitch{50};
  std::atomic<int32_t> volume{50};
  // Changed only while no worker reads it.
  VoiceRegistry voices;
  std::mutex pauseMutex;
  std::condition_variable pauseCondition;
  AudioSink sink;
};

// Whether an utterance may go on: the context is running and this utterance
// has not been stopped.
inline bool StillRunning(const WorkerContext& context,
                         const UtteranceControl& control) {
  return context.running.load() && !control.stopped.load();
}

// The flags changes below are made under pauseMutex, so that none is lost by
// a worker just about to wait.

// A new utterance may speak: running set, paused cleared.
void BeginUtterance(WorkerContext& context);

// The one stop signal: running and paused cleared, the utterance (if any)
// marked stopped and every pause wait woken.
void SignalStop(WorkerContext& context, UtteranceControl* control);

// Holds the worker at its next chunk until WakeFromPause or a stop.
void PauseUtterance(WorkerContext& context);

// Lets a paused worker go on.
void WakeFromPause(WorkerContext& context);

// The end of an utterance: clears running unless the utterance was stopped,
// for then the flag may belong to the next one already.
void EndUtterance(WorkerContext& context, const UtteranceControl& control);

// Holds the calling worker while paused. Yields whether the utterance may go
// on.
bool WaitWhilePaused(WorkerContext& context, const UtteranceControl& control);

}  // namespace vesk
