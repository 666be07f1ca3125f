// Worker threads on Windows. The library is unloaded under the loader lock,
// where waiting for a thread deadlocks (an exiting thread needs that lock),
// so each thread holds its own reference to the library instead and drops it
// as it exits, in FreeLibraryAndExitThread, which never returns into the
// library. An unload therefore only happens once no thread runs our code.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

struct StartRecord {
  void (*fn)(void*);
  void* context;
  HMODULE library;
};

// Everything the thread owns is released before the last call: nothing of
// the library runs after FreeLibraryAndExitThread.
DWORD WINAPI ThreadEntry(void* start) {
  const StartRecord record = *static_cast<StartRecord*>(start);
  delete static_cast<StartRecord*>(start);
  record.fn(record.context);
  FreeLibraryAndExitThread(record.library, 0);
}

HANDLE NativeOf(const Thread& thread) {
  return reinterpret_cast<HANDLE>(thread.handle);
}

}  // namespace

Thread StartThread(void (*fn)(void*), void* context) {
  HMODULE library = nullptr;
  // Without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT: the thread's own
  // reference.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&ThreadEntry), &library)) {
    return {};
  }
  auto* start = new (std::nothrow) StartRecord{fn, context, library};
  DWORD id = 0;
  HANDLE native = start == nullptr
                      ? nullptr
                      : CreateThread(nullptr, 0, &ThreadEntry, start, 0, &id);
  if (native == nullptr) {
    delete start;
    // The caller is inside one of our exports, so the host holds the
    // library as well: this is never the last reference.
    FreeLibrary(library);
    return {};
  }
  Thread thread;
  thread.started = true;
  thread.handle = reinterpret_cast<uintptr_t>(native);
  thread.id = id;
  return thread;
}

bool IsCurrentThread(const Thread& thread) {
  return thread.started && thread.id == GetCurrentThreadId();
}

void JoinThread(Thread& thread) {
  if (!thread.started) return;
  WaitForSingleObject(NativeOf(thread), INFINITE);
  CloseHandle(NativeOf(thread));
  thread = {};
}

void DetachThread(Thread& thread) {
  if (!thread.started) return;
  CloseHandle(NativeOf(thread));
  thread = {};
}

// Reached from DLL_PROCESS_DETACH. After FreeLibrary, every worker has
// dropped its reference and is past our code; at process exit the others
// are already gone. Nothing is left to wait for.
void ReleaseThreadAtUnload(Thread& thread) { DetachThread(thread); }

bool ProcessIsExiting() {
  using ShutdownQuery = BOOLEAN(WINAPI*)();
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  const auto query = reinterpret_cast<ShutdownQuery>(reinterpret_cast<void*>(
      GetProcAddress(ntdll, "RtlDllShutdownInProgress")));
  return query != nullptr && query() != FALSE;
}

}  // namespace vesk::platform
