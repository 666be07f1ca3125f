// The file of the shared object holding an address.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

std::optional<std::string> ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t got =
        ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (got < 0) return std::nullopt;
    if (std::size_t(got) < buffer.size()) {
      buffer.resize(std::size_t(got));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The file mapped at address, from the process's own map.
std::optional<std::string> MappedFileOf(const void* address) {
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) return std::nullopt;
  const uintptr_t target = reinterpret_cast<uintptr_t>(address);
  std::optional<std::string> result;
  char* line = nullptr;
  std::size_t capacity = 0;
  while (::getline(&line, &capacity, maps) > 0) {
    uintptr_t start = 0;
    uintptr_t end = 0;
    int pathAt = 0;
    if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %*s %*s %*s %*s %n",
                    &start, &end, &pathAt) >= 2 &&
        pathAt > 0 && target >= start && target < end) {
      std::string path(line + pathAt);
      while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) {
        path.pop_back();
      }
      if (!path.empty() && path.front() == '/') result = path;
      break;
    }
  }
  std::free(line);
  std::fclose(maps);
  return result;
}

}  // namespace

std::optional<std::u16string> ModulePathOf(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0) return std::nullopt;
  std::string path = info.dli_fname != nullptr ? info.dli_fname : "";
  // The main program reports its invocation name (or nothing), not a path.
  if (path.empty() || path.find('/') == std::string::npos) {
    std::optional<std::string> executable = ExecutablePath();
    if (!executable) return std::nullopt;
    path = *executable;
  } else if (path.front() != '/') {
    // Opened by a relative name, and the working directory may have changed
    // since: the kernel's map knows the file.
    std::optional<std::string> mapped = MappedFileOf(address);
    if (!mapped) return std::nullopt;
    path = *mapped;
  }
  return PathText(std::filesystem::path(std::move(path)));
}

}  // namespace vesk::platform
