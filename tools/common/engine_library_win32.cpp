// The Windows side of engine_library.h: LoadLibraryW, and the engine beside
// its host, as it is installed and built.
#include <windows.h>

#include "engine_library.h"
#include "engine_library_system.h"

namespace vesk::host {

const char* const kEngineFileName = "VeskSynth.dll";

namespace system {

void* OpenLibrary(const std::filesystem::path& path, std::string& error) {
  HMODULE library = LoadLibraryW(path.c_str());
  if (library == nullptr) {
    error = "cannot load " + path.string() + " (Windows error " +
            std::to_string(GetLastError()) + ")";
  }
  return reinterpret_cast<void*>(library);
}

void* FindExport(void* library, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace system

std::vector<std::filesystem::path> EngineDirectories(HostPlace) {
  std::vector<std::filesystem::path> out;
  if (auto own = OwnModuleDirectory()) out.push_back(*own);
  return out;
}

}  // namespace vesk::host
