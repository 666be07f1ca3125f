// Calls into host code that may throw or fault. A SIGSEGV/SIGBUS raised on a
// thread while it is inside CallGuarded jumps back out of the call; every
// other fault goes to the handler that was installed before ours.
//
// The per-thread guards live in a fixed table keyed by pthread_t rather
// than in thread_local storage: in a dlopen'ed library the first touch of a
// thread_local may allocate, which a signal handler must never do.
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

struct GuardSlot {
  std::atomic<bool> used{false};
  std::atomic<pthread_t> owner{};
  std::atomic<sigjmp_buf*> jump{nullptr};
};

constexpr int kSlotCount = 128;
GuardSlot slots[kSlotCount];

struct sigaction previousSegv;
struct sigaction previousBus;

GuardSlot* SlotOf(pthread_t self) {
  for (GuardSlot& slot : slots) {
    if (slot.used.load(std::memory_order_acquire) &&
        pthread_equal(slot.owner.load(std::memory_order_relaxed), self)) {
      return &slot;
    }
  }
  return nullptr;
}

GuardSlot* ClaimSlot(pthread_t self) {
  for (GuardSlot& slot : slots) {
    bool expected = false;
    if (!slot.used.load(std::memory_order_relaxed) &&
        slot.used.compare_exchange_strong(expected, true)) {
      slot.owner.store(self, std::memory_order_relaxed);
      slot.jump.store(nullptr);
      return &slot;
    }
  }
  return nullptr;
}

void ChainFault(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous =
      signal == SIGSEGV ? previousSegv : previousBus;
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction != nullptr) {
      previous.sa_sigaction(signal, info, context);
      return;
    }
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  // Default action: restore it; a real fault re-executes and ends the
  // process as it would have without us, a sent signal is sent again.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  if (info == nullptr || info->si_code <= 0) raise(signal);
}

void OnFault(int signal, siginfo_t* info, void* context) {
  // The owner field is written before used is published, so an acquire of
  // used makes it readable here (async-signal-safe: atomics and a scan).
  GuardSlot* slot = SlotOf(pthread_self());
  if (slot != nullptr) {
    sigjmp_buf* jump = slot->jump.load();
    if (jump != nullptr) siglongjmp(*jump, 1);
  }
  ChainFault(signal, info, context);
}

// Puts the previous handlers back when the library is unloaded, so that no
// fault is ever sent into unmapped code. Built before (and so destroyed
// after) the engine's own static objects, whose teardown joins the worker
// that may still be inside a guarded call.
struct FaultHandlerInstallation {
  std::mutex mutex;
  bool installed = false;

  void Install() {
    std::lock_guard lock(mutex);
    if (installed) return;
    struct sigaction action {};
    action.sa_sigaction = &OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &previousSegv);
    sigaction(SIGBUS, &action, &previousBus);
    installed = true;
  }

  ~FaultHandlerInstallation() {
    if (!installed) return;
    Restore(SIGSEGV, previousSegv);
    Restore(SIGBUS, previousBus);
  }

  // Only while ours is still the handler: one installed later owns it now.
  static void Restore(int signal, const struct sigaction& previous) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 &&
        (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &OnFault) {
      sigaction(signal, &previous, nullptr);
    }
  }
};

__attribute__((init_priority(200))) FaultHandlerInstallation installation;

void InstallFaultHandler() {
  static std::atomic<bool> done{false};
  if (done.load(std::memory_order_acquire)) return;
  installation.Install();
  done.store(true, std::memory_order_release);
}

bool RunCatchingExceptions(void (*fn)(void*), void* context) {
  try {
    fn(context);
    return true;
  } catch (...) {
    return false;
  }
}

// Out of line, so that no variable of the caller lives across the jump.
[[gnu::noinline]] bool RunWithJump(GuardSlot& slot, void (*fn)(void*),
                                   void* context) {
  sigjmp_buf jump;
  if (sigsetjmp(jump, 1) != 0) return false;  // a fault inside fn
  slot.jump.store(&jump);
  return RunCatchingExceptions(fn, context);
}

}  // namespace

bool CallGuarded(void (*fn)(void*), void* context) {
  InstallFaultHandler();
  const pthread_t self = pthread_self();
  GuardSlot* const existing = SlotOf(self);
  GuardSlot* const slot = existing != nullptr ? existing : ClaimSlot(self);
  if (slot == nullptr) return RunCatchingExceptions(fn, context);

  sigjmp_buf* const outer = slot->jump.load();
  const bool returned = RunWithJump(*slot, fn, context);
  slot->jump.store(outer);
  if (existing == nullptr) slot->used.store(false, std::memory_order_release);
  return returned;
}

}  // namespace vesk::platform
