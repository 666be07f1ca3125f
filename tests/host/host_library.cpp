#include "host/host_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif
#include <dirent.h>

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "support/test_files.h"

#ifndef VESK_LIBRARY_PATH
#error "VESK_LIBRARY_PATH must name the built engine library"
#endif

namespace vesk::test {

namespace {

// --- The system's loader: the one part that differs between hosts ---

#if defined(_WIN32)

bool CopyLibrary(const std::filesystem::path& from,
                 const std::filesystem::path& to, std::string& error) {
  if (CopyFileW(from.c_str(), to.c_str(), FALSE)) return true;
  error = "cannot copy the library: error " + std::to_string(GetLastError());
  return false;
}

void* OpenLibrary(const std::filesystem::path& path, std::string& error) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    error = "LoadLibraryW failed: error " + std::to_string(GetLastError());
  }
  return module;
}

void* FindSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(handle), name));
}

bool CloseLibrary(void* handle) {
  return FreeLibrary(static_cast<HMODULE>(handle)) != FALSE;
}

std::filesystem::path LibraryToTest() {
  wchar_t value[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableW(L"VESK_TEST_DLL", value, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return value;
  return VESK_LIBRARY_PATH;
}

#else

bool CopyLibrary(const std::filesystem::path& from,
                 const std::filesystem::path& to, std::string& error) {
  std::error_code code;
  std::filesystem::copy_file(
      from, to, std::filesystem::copy_options::overwrite_existing, code);
  if (!code) return true;
  error = "cannot copy the library: " + code.message();
  return false;
}

void* OpenLibrary(const std::filesystem::path& path, std::string& error) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : "dlopen failed";
  }
  return handle;
}

void* FindSymbol(void* handle, const char* name) {
  return ::dlsym(handle, name);
}

bool CloseLibrary(void* handle) { return ::dlclose(handle) == 0; }

std::filesystem::path LibraryToTest() { return VESK_LIBRARY_PATH; }

#endif

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn& out, std::string& error) {
  void* symbol = FindSymbol(handle, name);
  if (symbol == nullptr) {
    error = std::string("missing export ") + name;
    return false;
  }
  out = reinterpret_cast<Fn>(symbol);
  return true;
}

struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<LogLine> logs;
  std::vector<PlayCall> plays;
  std::function<void(const PlayCall&)> hook;
  // Hooks still running: they may refer to the waiting test's locals, so a
  // wait for the completion call also waits for its hook to return.
  int hooksRunning = 0;
};

Recorder& Recorded() {
  static Recorder* recorder = new Recorder;  // outlives late worker threads
  return *recorder;
}

}  // namespace

const std::vector<std::string>& ExportNames() {
#define VESK_NAME_ENTRY(verb) VESK_EXPORT_NAME(verb),
  static const std::vector<std::string> names = {
      VESK_FOR_EACH_EXPORT(VESK_NAME_ENTRY)};
#undef VESK_NAME_ENTRY
  return names;
}

std::filesystem::path BuiltLibraryPath() { return LibraryToTest(); }

HostLibrary::HostLibrary(const std::filesystem::path& directory)
    : libraryPath_(directory / BuiltLibraryPath().filename()) {
  if (CopyLibrary(BuiltLibraryPath(), libraryPath_, error_)) Load();
}

HostLibrary::HostLibrary(const std::filesystem::path& path, AsInstalled)
    : libraryPath_(path) {
  Load();
}

void HostLibrary::Load() {
  handle_ = OpenLibrary(libraryPath_, error_);
  if (handle_ == nullptr) return;
#define VESK_RESOLVE(verb) \
  if (!Resolve(handle_, VESK_EXPORT_NAME(verb), api_.verb, error_)) return;
  VESK_FOR_EACH_EXPORT(VESK_RESOLVE)
#undef VESK_RESOLVE
}

HostLibrary::~HostLibrary() { Unload(); }

void* HostLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? FindSymbol(handle_, name) : nullptr;
}

bool HostLibrary::Unload() {
  const bool closed = handle_ != nullptr && CloseLibrary(handle_);
  handle_ = nullptr;
  api_ = HostApi{};
  return closed;
}

void RecordLog(int32_t level, const char16_t* text) {
  Recorder& r = Recorded();
  std::lock_guard lock(r.mutex);
  r.logs.push_back({level, text != nullptr ? std::u16string(text) : u""});
  r.changed.notify_all();
}

std::vector<LogLine> RecordedLogs() {
  Recorder& r = Recorded();
  std::lock_guard lock(r.mutex);
  return r.logs;
}

void ClearRecordedLogs() {
  Recorder& r = Recorded();
  std::lock_guard lock(r.mutex);
  r.logs.clear();
}

std::string Describe(const std::vector<LogLine>& lines) {
  std::string out;
  for (const LogLine& line : lines) {
    out += std::to_string(line.level) + ": " + U8(line.text) + "\n";
  }
  return out;
}

int32_t RecordPlay(const char16_t* voiceName, const int16_t* samples,
                   int32_t byteCount, int32_t userValue) {
  PlayCall call;
  call.voiceName = voiceName != nullptr ? std::u16string(voiceName) : u"";
  call.nullSamples = samples == nullptr;
  if (samples != nullptr && byteCount > 0) {
    call.samples.assign(samples, samples + byteCount / 2);
  }
  call.byteCount = byteCount;
  call.userValue = userValue;
  call.thread = std::this_thread::get_id();
  Recorder& r = Recorded();
  std::function<void(const PlayCall&)> hook;
  {
    std::lock_guard lock(r.mutex);
    r.plays.push_back(call);
    hook = r.hook;
    if (hook) ++r.hooksRunning;
    r.changed.notify_all();
  }
  if (hook) {
    hook(call);
    std::lock_guard lock(r.mutex);
    --r.hooksRunning;
    r.changed.notify_all();
  }
  return 0;
}

std::vector<PlayCall> RecordedPlays() {
  Recorder& r = Recorded();
  std::lock_guard lock(r.mutex);
  return r.plays;
}

void ClearRecordedPlays() {
  Recorder& r = Recorded();
  std::lock_guard lock(r.mutex);
  r.plays.clear();
}

void SetPlayHook(std::function<void(const PlayCall&)> hook) {
  Recorder& r = Recorded();
  std::lock_guard lock(r.mutex);
  r.hook = std::move(hook);
}

bool WaitForCompletion(std::chrono::milliseconds limit) {
  Recorder& r = Recorded();
  std::unique_lock lock(r.mutex);
  return r.changed.wait_for(lock, limit, [&] {
    if (r.hooksRunning != 0) return false;
    for (const PlayCall& call : r.plays) {
      if (call.IsCompletion()) return true;
    }
    return false;
  });
}

bool WaitForPlays(std::size_t count, std::chrono::milliseconds limit) {
  Recorder& r = Recorded();
  std::unique_lock lock(r.mutex);
  return r.changed.wait_for(lock, limit,
                            [&] { return r.plays.size() >= count; });
}

int ThreadCount() {
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(tasks))
    count += entry->d_name[0] != '.';
  ::closedir(tasks);
  return count;
}

int CurrentThreadId() {
#if defined(_WIN32)
  return -1;
#else
  return int(::gettid());
#endif
}

bool WaitForThreadToEnd(int threadId, std::chrono::milliseconds limit) {
  if (threadId < 0) return true;
  const std::filesystem::path task =
      "/proc/self/task/" + std::to_string(threadId);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::error_code error;
  while (std::filesystem::exists(task, error)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace vesk::test
