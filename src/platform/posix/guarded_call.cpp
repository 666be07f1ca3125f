// Calls into host code that may throw or fault. The process-wide
// SIGSEGV/SIGBUS handler belongs to the host first: when the host (a JVM,
// Mono, Python's faulthandler) installed one before the engine's first
// guarded call, every fault goes to that handler, those inside host
// callbacks included. A JVM, say, takes faults in its own compiled code as
// part of normal running and resumes after them; jumping out from under it
// would corrupt it. Only where no handler was installed (the default action
// would end the process) does a fault raised on a thread inside CallGuarded
// jump back out of the call. So such a host's callback faults are its own to
// handle: the engine does not swallow them, and the host's handler decides.
// Another copy of the engine's own handler does not count as the host's:
// it recovers its own calls and passes on the rest, so ours are still ours.
//
// The per-thread guards live in a fixed table keyed by pthread_t rather
// than in thread_local storage: in a dlopen'ed library the first touch of a
// thread_local may allocate, which a signal handler must never do.
#include <dlfcn.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

struct GuardSlot {
  std::atomic<pthread_t> owner{};
  std::atomic<sigjmp_buf*> jump{nullptr};
  // The signal whose handler jumped back out of the call.
  std::atomic<int> caught{0};
};

constexpr int kSlotCount = 128;
constexpr int kWordBits = 64;
constexpr int kWordCount = kSlotCount / kWordBits;
GuardSlot slots[kSlotCount];
// Bit i set: slots[i] is in use. Lookups visit only the slots in use, so a
// call costs the same however large the table is.
std::atomic<uint64_t> usedBits[kWordCount];

struct sigaction previousSegv;
struct sigaction previousBus;
// Whether the handler found at installation is a host's, per signal.
std::atomic<bool> hostHandlesSegv{false};
std::atomic<bool> hostHandlesBus{false};

GuardSlot* SlotOf(pthread_t self) {
  for (int word = 0; word < kWordCount; ++word) {
    uint64_t bits = usedBits[word].load(std::memory_order_acquire);
    while (bits != 0) {
      GuardSlot& slot = slots[word * kWordBits + std::countr_zero(bits)];
      if (pthread_equal(slot.owner.load(std::memory_order_relaxed), self)) {
        return &slot;
      }
      bits &= bits - 1;
    }
  }
  return nullptr;
}

GuardSlot* ClaimSlot(pthread_t self) {
  for (int word = 0; word < kWordCount; ++word) {
    uint64_t bits = usedBits[word].load(std::memory_order_relaxed);
    while (~bits != 0) {
      const int bit = std::countr_one(bits);
      const uint64_t mask = uint64_t(1) << bit;
      const uint64_t before = usedBits[word].fetch_or(mask);
      if ((before & mask) == 0) {
        GuardSlot& slot = slots[word * kWordBits + bit];
        slot.owner.store(self, std::memory_order_relaxed);
        slot.jump.store(nullptr);
        return &slot;
      }
      bits = before | mask;
    }
  }
  return nullptr;
}

void ReleaseSlot(GuardSlot& slot) {
  const int index = int(&slot - slots);
  // No stale owner is left behind for a later thread with the same id.
  slot.owner.store(pthread_t{}, std::memory_order_relaxed);
  usedBits[index / kWordBits].fetch_and(~(uint64_t(1) << (index % kWordBits)),
                                        std::memory_order_release);
}

void ChainFault(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous =
      signal == SIGSEGV ? previousSegv : previousBus;
  // The previous handler runs with the signals it asked to have blocked; the
  // kernel restores the interrupted mask when ours returns.
  pthread_sigmask(SIG_BLOCK, &previous.sa_mask, nullptr);
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
  const bool hostHandles =
      (signal == SIGSEGV ? hostHandlesSegv : hostHandlesBus).load();
  // The faulting thread claimed its slot before the call, so its own owner
  // field is visible here (async-signal-safe: atomics and a scan).
  GuardSlot* slot = hostHandles ? nullptr : SlotOf(pthread_self());
  if (slot != nullptr) {
    sigjmp_buf* jump = slot->jump.load();
    if (jump != nullptr) {
      slot->caught.store(signal);
      siglongjmp(*jump, 1);
    }
  }
  ChainFault(signal, info, context);
}

// Whether the library holding address is a copy of the engine.
bool IsInEngineLibrary(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return false;
  // dlsym may find the name in another object (a main program's handle
  // searches every global library): it must be this object's own.
  const void* initialize = dlsym(library, "VeskSynthInitialize");
  Dl_info found{};
  const bool engine = initialize != nullptr &&
                      dladdr(initialize, &found) != 0 &&
                      found.dli_fbase == info.dli_fbase;
  dlclose(library);
  return engine;
}

// A handler of the host's own: anything but the default action, ignoring,
// and another copy of ours.
bool IsHostHandler(const struct sigaction& previous) {
  if (previous.sa_flags & SA_SIGINFO) {
    return previous.sa_sigaction != nullptr &&
           !IsInEngineLibrary(
               reinterpret_cast<const void*>(previous.sa_sigaction));
  }
  return previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
         !IsInEngineLibrary(reinterpret_cast<const void*>(previous.sa_handler));
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
    // Decided before ours is in place, so that no fault meets it undecided.
    sigaction(SIGSEGV, nullptr, &previousSegv);
    sigaction(SIGBUS, nullptr, &previousBus);
    hostHandlesSegv.store(IsHostHandler(previousSegv));
    hostHandlesBus.store(IsHostHandler(previousBus));
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
  // The mask is not saved: that costs a system call on every host call.
  // The handler runs with only its own signal added to the mask (no
  // SA_NODEFER, empty sa_mask) and that signal was unblocked when the fault
  // came, so unblocking it again restores the mask the fault interrupted.
  if (sigsetjmp(jump, 0) != 0) {  // a fault inside fn
    sigset_t caught;
    sigemptyset(&caught);
    sigaddset(&caught, slot.caught.load());
    pthread_sigmask(SIG_UNBLOCK, &caught, nullptr);
    return false;
  }
  // Read only by the handler on this very thread.
  slot.jump.store(&jump, std::memory_order_release);
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
  slot->jump.store(outer, std::memory_order_release);
  if (existing == nullptr) ReleaseSlot(*slot);
  return returned;
}

}  // namespace vesk::platform
