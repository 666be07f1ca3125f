// Names the tests during which a hardware fault or a structured exception
// was raised, on any thread, so that run-tests.sh can find them by what they
// do: where 32-bit programs run under qemu-i386, the emulator carries only a
// few faults per process, and those tests run in processes of their own.
//
// With VESK_FAULTING_TESTS set to a file name, a vectored handler counts
// every exception as it is raised (first chance, before any frame sees it)
// and a test event listener appends one line per such test to the file as
// the test ends:  Suite.Name <first code> <count>. The file is written as
// the run goes, so that it names what came before a process that died.
// Without the variable it installs nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace vesk::test {
namespace {

// g++'s own C++ exceptions on x86_64 travel as structured exceptions with
// "GCC" in the low bytes of the code; they are no faults.
bool IsGccException(DWORD code) { return (code & 0xF0FFFFFFu) == 0x20474343u; }

std::atomic<long> raised{0};
std::atomic<DWORD> firstCode{0};

LONG CALLBACK NoteException(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (!IsGccException(code)) {
    DWORD none = 0;
    firstCode.compare_exchange_strong(none, code);
    ++raised;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

class FaultRecorder : public ::testing::EmptyTestEventListener {
 public:
  explicit FaultRecorder(std::FILE* out) : out_(out) {}

  void OnTestStart(const ::testing::TestInfo&) override {
    raised = 0;
    firstCode = 0;
  }

  void OnTestEnd(const ::testing::TestInfo& info) override {
    const long count = raised.exchange(0);
    if (count == 0) return;
    std::fprintf(out_, "%s.%s 0x%08lx %ld\n", info.test_suite_name(),
                 info.name(), static_cast<unsigned long>(firstCode.load()),
                 count);
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
};

// Installed before main runs: gtest_main owns main, and listeners added
// before RUN_ALL_TESTS hear every test.
[[maybe_unused]] const bool installed = [] {
  const char* name = std::getenv("VESK_FAULTING_TESTS");
  if (name == nullptr || *name == '\0') return false;
  std::FILE* out = std::fopen(name, "w");
  if (out == nullptr) {
    std::fprintf(stderr, "fault recorder: cannot write %s\n", name);
    return false;
  }
  AddVectoredExceptionHandler(1, &NoteException);
  ::testing::UnitTest::GetInstance()->listeners().Append(
      new FaultRecorder(out));
  return true;
}();

}  // namespace
}  // namespace vesk::test
