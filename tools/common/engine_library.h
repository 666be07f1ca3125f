// What every host shares about the engine: loading it by path and resolving
// its exports, finding the engine directory, listing voices. The system's
// side (loading a library, the engine's file name, where the engine lies) is
// engine_library_posix.cpp and engine_library_win32.cpp. A host reaches
// the engine only through these exports, exactly as a screen reader does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "vesksynth.h"
#include "vesksynth_exports.h"

namespace vesk::host {

// The fourteen exports of an engine library opened by path.
struct EngineApi {
#define VESK_HOST_FIELD(verb) decltype(&VeskSynth##verb) verb = nullptr;
  VESK_FOR_EACH_EXPORT(VESK_HOST_FIELD)
#undef VESK_HOST_FIELD
};

class EngineLibrary {
 public:
  // Opens the library and resolves every export; see ok() and error().
  explicit EngineLibrary(const std::filesystem::path& path);
  ~EngineLibrary();
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  bool ok() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  const EngineApi& api() const { return api_; }

 private:
  void* handle_ = nullptr;  // the system's handle of the loaded library
  std::string error_;
  EngineApi api_;
};

// The engine's file name on this system: libvesksynth.so, VeskSynth.dll.
extern const char* const kEngineFileName;

// Where a host is installed, which decides where the engine directory lies
// relative to it: programs in bin/, the speech-dispatcher module in
// lib/speech-dispatcher-modules/, or a host that is itself a library loaded
// by another program (the SAPI voice) with the engine beside its own file.
enum class HostPlace { kProgram, kSpeechDispatcherModule, kBesideModule };

// Engine directories to try, in order. kBesideModule: the directory of the
// module (program or library) the host kit is linked into. On Windows, where
// the engine is installed beside its host, that directory for every place.
// Elsewhere, for the other places: the installed layout relative to the
// running executable, the build tree's engine directory (every host is built
// in tools/<name>/), then the install prefix's. Nothing absolute from the
// build is kept, so an installed or built tree works wherever it is put.
std::vector<std::filesystem::path> EngineDirectories(HostPlace place);

// The engine library to load: option (a library file, or a directory that
// holds one) when not empty, else the first of the candidate directories
// that holds a library. nullopt with error when there is none.
std::optional<std::filesystem::path> FindEngine(
    const std::string& option,
    const std::vector<std::filesystem::path>& candidates, std::string& error);

// The levels of the engine's log callback (vesksynth.h).
inline constexpr int32_t kLogInfo = 1, kLogWarning = 2, kLogError = 4;

// "error", "warning" or "info": how a host names a level in its messages.
const char* LogLevelName(int32_t level);

// The names of the engine's voices, in the engine's order.
std::vector<std::u16string> VoiceNames(const EngineApi& api);

}  // namespace vesk::host
