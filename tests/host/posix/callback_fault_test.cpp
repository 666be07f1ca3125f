// Host callbacks that fault: a crash inside the host's own log or play
// callback must not take the host down, and speech goes on after it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

enum class Fault { Exception, SegmentationFault, BusError };

std::string FaultName(const testing::TestParamInfo<Fault>& info) {
  switch (info.param) {
    case Fault::Exception:
      return "Exception";
    case Fault::SegmentationFault:
      return "SegmentationFault";
    case Fault::BusError:
      return "BusError";
  }
  return "Unknown";
}

// A page that may not be touched: reading it raises SIGSEGV. Not null, so
// the sanitizers let the access through to the hardware.
const volatile int* ForbiddenPage() {
  static void* page =
      ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return static_cast<const volatile int*>(page);
}

// A shared mapping of an empty file: touching it raises SIGBUS.
const volatile int* PageBeyondFileEnd() {
  static void* page = [] {
    char name[] = "/tmp/vesk-sigbus-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) return static_cast<void*>(MAP_FAILED);
    ::unlink(name);
    void* mapped = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    return mapped;
  }();
  return static_cast<const volatile int*>(page);
}

bool CanRaise(Fault fault) {
  if (fault == Fault::SegmentationFault) return ForbiddenPage() != MAP_FAILED;
  if (fault == Fault::BusError) return PageBeyondFileEnd() != MAP_FAILED;
  return true;
}

int Raise(Fault fault) {
  switch (fault) {
    case Fault::Exception:
      throw std::runtime_error("host callback failed");
    case Fault::SegmentationFault:
      return *ForbiddenPage();
    case Fault::BusError:
      return *PageBeyondFileEnd();
  }
  return 0;
}

// What the faulting callbacks saw; one test at a time uses it.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  Fault fault = Fault::Exception;
  int faultsLeft = 0;
  std::vector<int16_t> unitMarkers;  // first sample of each sample call
  std::vector<int32_t> userValues;
  int completions = 0;
  std::vector<LogLine> logs;
  int logCalls = 0;
};
Seen* seen = new Seen;  // outlives workers of any test

int32_t PlayFaultingFirst(const char16_t*, const int16_t* samples,
                          int32_t byteCount, int32_t userValue) {
  bool fault = false;
  {
    std::lock_guard lock(seen->mutex);
    if (seen->faultsLeft > 0) {
      --seen->faultsLeft;
      fault = true;
    } else if (samples == nullptr && byteCount == 0) {
      ++seen->completions;
      seen->userValues.push_back(userValue);
    } else {
      seen->unitMarkers.push_back(samples[0]);
      seen->userValues.push_back(userValue);
    }
    seen->changed.notify_all();
  }
  // Outside the lock: a fault unwinds or jumps past this frame.
  if (fault) return Raise(seen->fault);
  return 0;
}

void LogFaultingFirst(int32_t level, const char16_t* text) {
  bool fault = false;
  {
    std::lock_guard lock(seen->mutex);
    ++seen->logCalls;
    if (seen->faultsLeft > 0) {
      --seen->faultsLeft;
      fault = true;
    } else {
      seen->logs.push_back({level, text});
    }
  }
  if (fault) Raise(seen->fault);
}

bool WaitForCompletions(int count) {
  std::unique_lock lock(seen->mutex);
  return seen->changed.wait_for(lock, std::chrono::seconds(30),
                                [&] { return seen->completions >= count; });
}

class CallbackFaultTest : public testing::TestWithParam<Fault> {
 protected:
  void SetUp() override {
    if (!CanRaise(GetParam())) GTEST_SKIP() << "cannot map a faulting page";
    std::lock_guard lock(seen->mutex);
    seen->fault = GetParam();
    seen->faultsLeft = 0;
    seen->unitMarkers.clear();
    seen->userValues.clear();
    seen->completions = 0;
    seen->logs.clear();
    seen->logCalls = 0;
  }

  // The punctuation unit is always there: the loader refuses a unit that
  // begins right after its own table entry, which a one-unit file has.
  void WriteVoice(std::vector<int32_t> units) {
    units.push_back(kPunctuationUnit);
    dir_.Write("voice.vl", BuildMarkerVoice(16000, units, 160));
  }

  TempDir dir_;
};

TEST_P(CallbackFaultTest, PlayCallbackFaultingOnFirstChunkUtteranceGoesOn) {
  const int32_t a = LetterUnit('a'), b = LetterUnit('b'), c = LetterUnit('c');
  WriteVoice({a, b, c});
  HostLibrary lib(dir_.path());
  ASSERT_TRUE(lib.ok()) << lib.error();
  ASSERT_TRUE(lib->Initialize(nullptr));
  {
    std::lock_guard lock(seen->mutex);
    seen->faultsLeft = 1;
  }
  lib->SetPlayCallback(&PlayFaultingFirst);
  ASSERT_TRUE(lib->Speak(nullptr, u"abc", 41));
  ASSERT_TRUE(WaitForCompletions(1)) << "the utterance never completed";
  lib->Stop();
  {
    std::lock_guard lock(seen->mutex);
    // The first chunk (a) faulted; every later unit and the completion came.
    EXPECT_EQ(seen->unitMarkers,
              (std::vector<int16_t>{int16_t(b), int16_t(c)}));
    EXPECT_EQ(seen->completions, 1);
    EXPECT_EQ(seen->userValues, (std::vector<int32_t>{41, 41, 41}));
  }

  // The engine is still whole: a second utterance speaks all three units.
  {
    std::lock_guard lock(seen->mutex);
    seen->unitMarkers.clear();
  }
  ASSERT_TRUE(lib->Speak(nullptr, u"cab", 42));
  ASSERT_TRUE(WaitForCompletions(2));
  lib->Uninitialize();
  std::lock_guard lock(seen->mutex);
  EXPECT_EQ(seen->unitMarkers,
            (std::vector<int16_t>{int16_t(c), int16_t(a), int16_t(b)}));
}

TEST_P(CallbackFaultTest, PlayCallbackFaultingOnEveryChunkStillGetsCompletion) {
  WriteVoice({LetterUnit('x'), LetterUnit('y')});
  HostLibrary lib(dir_.path());
  ASSERT_TRUE(lib.ok()) << lib.error();
  ASSERT_TRUE(lib->Initialize(nullptr));
  {
    std::lock_guard lock(seen->mutex);
    seen->faultsLeft = 5;  // x, y and three marks
  }
  lib->SetPlayCallback(&PlayFaultingFirst);
  ASSERT_TRUE(lib->Speak(nullptr, u"x,y!?", 9));
  ASSERT_TRUE(WaitForCompletions(1));
  lib->Uninitialize();
  std::lock_guard lock(seen->mutex);
  EXPECT_TRUE(seen->unitMarkers.empty());
  EXPECT_EQ(seen->faultsLeft, 0);
  EXPECT_EQ(seen->completions, 1);
}

TEST_P(CallbackFaultTest, LogCallbackFaultingDuringInitializeStartUpGoesOn) {
  WriteVoice({LetterUnit('a')});
  HostLibrary lib(dir_.path());
  ASSERT_TRUE(lib.ok()) << lib.error();
  {
    std::lock_guard lock(seen->mutex);
    seen->faultsLeft = 1;  // the first message: no pinyin.txt
  }
  ASSERT_TRUE(lib->Initialize(&LogFaultingFirst));
  {
    std::lock_guard lock(seen->mutex);
    EXPECT_EQ(seen->faultsLeft, 0);
    // Every later message still arrives, ending with the completion line.
    ASSERT_FALSE(seen->logs.empty());
    EXPECT_EQ(seen->logs.back(),
              (LogLine{1, u"Halden语音插件初始化完成，加载了 1 个语音库"}));
  }
  // And the engine works.
  lib->SetPlayCallback(&PlayFaultingFirst);
  ASSERT_TRUE(lib->Speak(nullptr, u"a", 3));
  ASSERT_TRUE(WaitForCompletions(1));
  lib->Uninitialize();
  std::lock_guard lock(seen->mutex);
  EXPECT_EQ(seen->unitMarkers,
            (std::vector<int16_t>{int16_t(LetterUnit('a'))}));
  EXPECT_EQ(seen->logs.back(), (LogLine{1, u"Halden语音插件已卸载"}));
}

TEST_P(CallbackFaultTest, LogCallbackFaultingOnEveryMessageStillInitializes) {
  WriteVoice({LetterUnit('a')});
  HostLibrary lib(dir_.path());
  ASSERT_TRUE(lib.ok()) << lib.error();
  {
    std::lock_guard lock(seen->mutex);
    seen->faultsLeft = 1000;
  }
  ASSERT_TRUE(lib->Initialize(&LogFaultingFirst));
  EXPECT_TRUE(lib->Uninitialize());
  std::lock_guard lock(seen->mutex);
  // Start-up (two or more messages) and shut-down (one) all reached the host.
  EXPECT_GE(seen->logCalls, 3);
  EXPECT_TRUE(seen->logs.empty());
}

INSTANTIATE_TEST_SUITE_P(AllFaults, CallbackFaultTest,
                         testing::Values(Fault::Exception,
                                         Fault::SegmentationFault,
                                         Fault::BusError),
                         FaultName);

// A second copy of the engine finds the first one's handler installed: that
// is no host's, so the second still recovers the faults in its callbacks.
TEST(HostFaultHandler, AnotherEngineCopyDoesNotCountAsTheHost) {
  if (!CanRaise(Fault::SegmentationFault)) GTEST_SKIP() << "no faulting page";
  TempDir firstDir, secondDir;
  firstDir.Write("v.vl", BuildMarkerVoice(16000, {LetterUnit('a')}, 160));
  secondDir.Write("v.vl", BuildMarkerVoice(16000, {LetterUnit('a')}, 160));
  HostLibrary first(firstDir.path());
  ASSERT_TRUE(first.ok()) << first.error();
  ASSERT_TRUE(first->Initialize(&RecordLog));
  HostLibrary second(secondDir.path());
  ASSERT_TRUE(second.ok()) << second.error();
  ASSERT_TRUE(second->Initialize(&RecordLog));
  {
    std::lock_guard lock(seen->mutex);
    seen->fault = Fault::SegmentationFault;
    seen->faultsLeft = 1;
    seen->completions = 0;
  }
  second->SetPlayCallback(&PlayFaultingFirst);
  ASSERT_TRUE(second->Speak(nullptr, u"aa", 3));
  ASSERT_TRUE(WaitForCompletions(1)) << "the utterance never completed";
  second->Uninitialize();
  first->Uninitialize();
  std::lock_guard lock(seen->mutex);
  EXPECT_EQ(seen->faultsLeft, 0);
}

// A host with a SIGSEGV handler of its own, installed before the engine's
// first guarded call, as a JVM does: it takes faults in pages it keeps
// inaccessible on purpose, opens the page and resumes the faulting code.
// The engine must let it have every one of its faults, those inside its
// play callback included.
std::atomic<int> hostFaults{0};
std::atomic<char*> lazyPages{nullptr};
constexpr std::size_t kLazyPageSize = 4096;

void HostFaultHandler(int, siginfo_t* info, void*) {
  char* pages = lazyPages.load();
  char* address = static_cast<char*>(info->si_addr);
  if (pages != nullptr && address >= pages &&
      address < pages + 2 * kLazyPageSize) {
    char* page = pages + (address - pages) / kLazyPageSize * kLazyPageSize;
    ::mprotect(page, kLazyPageSize, PROT_READ | PROT_WRITE);
    hostFaults.fetch_add(1);
    return;  // the access runs again and now succeeds
  }
  signal(SIGSEGV, SIG_DFL);  // not ours: die of it
}

std::atomic<bool> callbackRanToItsEnd{false};
int32_t PlayTouchingLazyPage(const char16_t*, const int16_t* samples,
                             int32_t byteCount, int32_t userValue) {
  if (samples != nullptr && byteCount > 0 && !callbackRanToItsEnd.load()) {
    volatile char* second = lazyPages.load() + kLazyPageSize;
    second[0] = 7;
    callbackRanToItsEnd.store(second[0] == 7);
  }
  return RecordPlay(nullptr, samples, byteCount, userValue);
}

TEST(HostFaultHandler, GetsItsFaultsInsideAndOutsideItsCallbacks) {
  void* mapped = ::mmap(nullptr, 2 * kLazyPageSize, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  lazyPages.store(static_cast<char*>(mapped));
  hostFaults.store(0);
  callbackRanToItsEnd.store(false);
  struct sigaction host {};
  host.sa_sigaction = &HostFaultHandler;
  host.sa_flags = SA_SIGINFO;
  sigemptyset(&host.sa_mask);
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGSEGV, &host, &before), 0);
  {
    TempDir dir;
    dir.Write("v.vl", BuildMarkerVoice(16000, {LetterUnit('a')}, 160));
    HostLibrary lib(dir.path());
    ASSERT_TRUE(lib.ok()) << lib.error();
    ClearRecordedLogs();
    ClearRecordedPlays();
    ASSERT_TRUE(lib->Initialize(&RecordLog));  // the engine's handler is in

    // Outside the engine.
    volatile char* first = lazyPages.load();
    first[0] = 5;
    EXPECT_EQ(first[0], 5);
    EXPECT_EQ(hostFaults.load(), 1);

    // Inside the play callback: the host resumes its own code, which then
    // finishes normally.
    lib->SetPlayCallback(&PlayTouchingLazyPage);
    ASSERT_TRUE(lib->Speak(nullptr, u"a", 5));
    ASSERT_TRUE(WaitForCompletion());
    EXPECT_EQ(hostFaults.load(), 2);
    EXPECT_TRUE(callbackRanToItsEnd.load());
    EXPECT_EQ(RecordedPlays().size(), 2u);  // the unit and the completion
    lib->Uninitialize();
    lib.Unload();
    // Unloading handed the signal back to the host.
    struct sigaction now {};
    ::sigaction(SIGSEGV, nullptr, &now);
    EXPECT_EQ(now.sa_sigaction, &HostFaultHandler);
  }
  ::sigaction(SIGSEGV, &before, nullptr);
  lazyPages.store(nullptr);
  ::munmap(mapped, 2 * kLazyPageSize);
}

}  // namespace
}  // namespace vesk::test
