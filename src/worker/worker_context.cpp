#include "worker/worker_context.h"

namespace vesk {

void BeginUtterance(WorkerContext& context) {
  std::lock_guard lock(context.pauseMutex);
  context.running.exchange(true);
  context.paused.exchange(false);
}

void SignalStop(WorkerContext& context, UtteranceControl* control) {
  std::lock_guard lock(context.pauseMutex);
  context.running.exchange(false);
  context.paused.exchange(false);
  if (control != nullptr) control->stopped.store(true);
  context.pauseCondition.notify_all();
}

void PauseUtterance(WorkerContext& context) {
  std::lock_guard lock(context.pauseMutex);
  context.paused.exchange(true);
}

void WakeFromPause(WorkerContext& context) {
  std::lock_guard lock(context.pauseMutex);
  context.paused.exchange(false);
  context.pauseCondition.notify_all();
}

void EndUtterance(WorkerContext& context, const UtteranceControl& control) {
  std::lock_guard lock(context.pauseMutex);
  if (!control.stopped.load()) context.running.exchange(false);
}

bool WaitWhilePaused(WorkerContext& context, const UtteranceControl& control) {
  if (!context.paused.load()) return StillRunning(context, control);
  std::unique_lock lock(context.pauseMutex);
  context.pauseCondition.wait(lock, [&] {
    return !(context.paused.load() && StillRunning(context, control));
  });
  return StillRunning(context, control);
}

}  // namespace vesk
