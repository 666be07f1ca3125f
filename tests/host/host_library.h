// Host-side helpers: load a private copy of the built engine library and
// record what it sends to the log and play callbacks. The same helpers serve
// the Linux host tests (dlopen) and the Windows test program under Wine
// (LoadLibraryW), so that the tests in tests/host/ run on both systems.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "vesksynth.h"
#include "vesksynth_exports.h"

namespace vesk::test {

// The fourteen exports, resolved by name.
struct HostApi {
#define VESK_HOST_FIELD(verb) decltype(&VeskSynth##verb) verb = nullptr;
  VESK_FOR_EACH_EXPORT(VESK_HOST_FIELD)
#undef VESK_HOST_FIELD
};

// The names of the fourteen exports.
const std::vector<std::string>& ExportNames();

// The library as built (VESK_LIBRARY_PATH; under Wine, VESK_TEST_DLL when
// set).
std::filesystem::path BuiltLibraryPath();

// Guards a wait against a hang only; never reached when the engine works.
// 32-bit code under emulation speaks many times slower than natively.
constexpr std::chrono::seconds kHangLimit{120};

// Whether a C++ exception thrown by a host callback can leave it for the
// engine's frames: g++'s DWARF unwinder on 32-bit Windows cannot cross into
// another module (there a throwing callback ends the process), elsewhere
// the engine catches and drops it.
#if defined(_WIN32) && !defined(__x86_64__)
constexpr bool kHostExceptionsReachTheEngine = false;
#else
constexpr bool kHostExceptionsReachTheEngine = true;
#endif

// Loads the library where it lies instead of copying it.
struct AsInstalled {};

// One private engine: the built library copied into directory (a distinct
// file gives a distinct instance, so each test starts from a fresh engine)
// and opened as a host opens it: dlopen, or LoadLibraryW on Windows. Put
// pinyin.txt, phrases.txt and *.vl files into the same directory before
// calling Initialize.
class HostLibrary {
 public:
  explicit HostLibrary(const std::filesystem::path& directory);
  // The library file at path itself, beside the data installed with it.
  HostLibrary(const std::filesystem::path& path, AsInstalled);
  ~HostLibrary();
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  // False when copying, loading or resolving an export failed; see error().
  bool ok() const { return handle_ != nullptr && error_.empty(); }
  const std::string& error() const { return error_; }

  const HostApi& api() const { return api_; }
  const HostApi* operator->() const { return &api_; }

  const std::filesystem::path& libraryPath() const { return libraryPath_; }
  // The system's handle: the dlopen handle, or the HMODULE.
  void* handle() const { return handle_; }
  void* Symbol(const char* name) const;

  // dlclose or FreeLibrary, with no Uninitialize first; true when the system
  // reported success. Idempotent: the destructor calls it.
  bool Unload();

 private:
  void Load();

  void* handle_ = nullptr;
  std::filesystem::path libraryPath_;
  std::string error_;
  HostApi api_;
};

// --- Log callback recording (process-wide) ---

struct LogLine {
  int32_t level = 0;
  std::u16string text;
  friend bool operator==(const LogLine&, const LogLine&) = default;
};

// A LogCallback that appends to the recorded lines.
void RecordLog(int32_t level, const char16_t* text);
std::vector<LogLine> RecordedLogs();
void ClearRecordedLogs();
// "level: text" per line, UTF-8, for failure messages.
std::string Describe(const std::vector<LogLine>& lines);

// --- Play callback recording (process-wide) ---

struct PlayCall {
  std::u16string voiceName;
  bool nullSamples = false;
  std::vector<int16_t> samples;  // copy of the delivered samples
  int32_t byteCount = 0;
  int32_t userValue = 0;
  std::thread::id thread;

  bool IsCompletion() const { return nullSamples && byteCount == 0; }
};

// A PlayCallback that records each call, then runs the hook (if any) on the
// calling (worker) thread. Returns 0.
int32_t RecordPlay(const char16_t* voiceName, const int16_t* samples,
                   int32_t byteCount, int32_t userValue);
std::vector<PlayCall> RecordedPlays();
void ClearRecordedPlays();
// Runs after each recorded call; an empty function removes it.
void SetPlayHook(std::function<void(const PlayCall&)> hook);
// Waits until a completion call (null, 0) has been recorded; false when the
// limit passes first. The limit only guards against a hang.
bool WaitForCompletion(std::chrono::milliseconds limit = kHangLimit);
// Waits until at least count calls have been recorded; false on the limit.
bool WaitForPlays(std::size_t count,
                  std::chrono::milliseconds limit = kHangLimit);

// --- Threads of this process ---

// The threads of this process, or -1 where /proc/self/task cannot tell.
int ThreadCount();
// The calling thread's system id, or -1 where the host cannot tell it
// (Windows).
int CurrentThreadId();
// Waits until the thread with that id has ended: a worker that let itself
// go (Stop from inside the play callback) has left. A test must not end
// before that, or LeakSanitizer's walk over the threads at exit may meet it
// half gone and crash. True at once for the id -1 (Windows, whose loader
// winds such threads down itself); false on the limit.
bool WaitForThreadToEnd(int threadId,
                        std::chrono::milliseconds limit = kHangLimit);

}  // namespace vesk::test
