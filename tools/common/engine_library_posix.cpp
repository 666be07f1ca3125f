// The POSIX side of engine_library.h: dlopen, and the engine directories of
// the installed layout and of the build tree.
#include <dlfcn.h>

#include "engine_library.h"
#include "engine_library_system.h"

namespace vesk::host {

const char* const kEngineFileName = "libvesksynth.so";

namespace system {

void* OpenLibrary(const std::filesystem::path& path, std::string& error) {
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* message = ::dlerror();
    error = message != nullptr ? message : "cannot load " + path.string();
  }
  return library;
}

void* FindExport(void* library, const char* name) {
  return ::dlsym(library, name);
}

void CloseLibrary(void* library) { ::dlclose(library); }

}  // namespace system

std::vector<std::filesystem::path> EngineDirectories(HostPlace place) {
  std::vector<std::filesystem::path> out;
  if (place == HostPlace::kBesideModule) {
    if (auto own = OwnModuleDirectory()) out.push_back(*own);
    return out;
  }
  std::error_code failure;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (!failure) {
    const auto here = self.parent_path();
    const char* installed = place == HostPlace::kProgram
                                ? VESK_ENGINE_FROM_PROGRAMS
                                : VESK_ENGINE_FROM_SPEECH_DISPATCHER_MODULES;
    out.push_back((here / installed).lexically_normal());
    out.push_back((here / VESK_ENGINE_FROM_BUILT_HOSTS).lexically_normal());
  }
  out.push_back(std::filesystem::path(VESK_INSTALLED_ENGINE_DIR));
  return out;
}

}  // namespace vesk::host
