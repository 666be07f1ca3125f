// Worker threads on POSIX threads. Unloading the library (dlclose) may wait
// for a thread, so nothing beyond a pin for self-detached threads is needed
// to keep the code mapped while a thread runs it.
#include <dlfcn.h>
#include <pthread.h>

#include <new>
#include <type_traits>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

static_assert(std::is_integral_v<pthread_t> || std::is_pointer_v<pthread_t>,
              "pthread_t must fit the thread record's handle");
static_assert(sizeof(pthread_t) <= sizeof(uintptr_t));

struct StartRecord {
  void (*fn)(void*);
  void* context;
};

void* ThreadEntry(void* start) {
  const StartRecord record = *static_cast<StartRecord*>(start);
  delete static_cast<StartRecord*>(start);
  record.fn(record.context);
  return nullptr;
}

pthread_t NativeOf(const Thread& thread) { return (pthread_t)thread.handle; }

// The handle is kept on purpose: together with RTLD_NODELETE it keeps the
// object mapped whatever the host closes later.
void PinThisLibrary() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&ThreadEntry), &info) == 0 ||
      info.dli_fname == nullptr) {
    return;
  }
  ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NODELETE | RTLD_NOLOAD);
}

}  // namespace

Thread StartThread(void (*fn)(void*), void* context) {
  auto* start = new (std::nothrow) StartRecord{fn, context};
  if (start == nullptr) return {};
  pthread_t native{};
  if (::pthread_create(&native, nullptr, &ThreadEntry, start) != 0) {
    delete start;
    return {};
  }
  Thread thread;
  thread.started = true;
  thread.handle = (uintptr_t)native;
  return thread;
}

bool IsCurrentThread(const Thread& thread) {
  return thread.started && ::pthread_equal(NativeOf(thread), ::pthread_self());
}

void JoinThread(Thread& thread) {
  if (!thread.started) return;
  ::pthread_join(NativeOf(thread), nullptr);
  thread = {};
}

void DetachThread(Thread& thread) {
  if (!thread.started) return;
  if (IsCurrentThread(thread)) PinThisLibrary();
  ::pthread_detach(NativeOf(thread));
  thread = {};
}

void ReleaseThreadAtUnload(Thread& thread) {
  if (!thread.started) return;
  if (IsCurrentThread(thread)) {
    // Leaving the process from inside the play callback: the worker is this
    // very thread and never returns to the library.
    ::pthread_detach(NativeOf(thread));
    thread = {};
    return;
  }
  JoinThread(thread);
}

// exit() leaves the other threads running: the unload winds them down.
bool ProcessIsExiting() { return false; }

}  // namespace vesk::platform
