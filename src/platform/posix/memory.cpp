// Memory classification from the process's own map, and reads that survive
// an unreadable address.
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

// A mapping of a file: it has an inode and a path. A memfd is anonymous
// memory under a file's name (thunk allocators use it too).
bool IsFileBacked(unsigned long inode, const char* path) {
  return inode != 0 && path[0] == '/' && std::strncmp(path, "/memfd:", 7) != 0;
}

}  // namespace

std::optional<MemoryRegion> QueryMemory(const void* address) {
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) return std::nullopt;
  const uintptr_t target = reinterpret_cast<uintptr_t>(address);
  MemoryRegion region;  // not found: not mapped
  char line[512];
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    const bool wholeLine = std::strchr(line, '\n') != nullptr;
    uintptr_t start = 0;
    uintptr_t end = 0;
    char permissions[5] = {};
    unsigned long inode = 0;
    int pathAt = 0;
    if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %4s %*s %*s %lu %n",
                    &start, &end, permissions, &inode, &pathAt) >= 4 &&
        target >= start && target < end) {
      region.committed = true;
      region.writable = permissions[1] == 'w';
      region.executable = permissions[2] == 'x';
      region.fileBacked = IsFileBacked(inode, pathAt > 0 ? line + pathAt : "");
      break;
    }
    // Skip the rest of an overlong line (a long path name).
    while (!wholeLine) {
      const int c = std::fgetc(maps);
      if (c == '\n' || c == EOF) break;
    }
  }
  std::fclose(maps);
  return region;
}

std::optional<uintptr_t> ReadPointer(const void* address) {
  uintptr_t value = 0;
  iovec local{&value, sizeof value};
  iovec remote{const_cast<void*>(address), sizeof value};
  const ssize_t got = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
  if (got == ssize_t(sizeof value)) return value;
  if (got >= 0 || (errno != ENOSYS && errno != EPERM)) return std::nullopt;

  // Without process_vm_readv: the kernel copies from the address into a pipe
  // and reports EFAULT instead of faulting.
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return std::nullopt;
  std::optional<uintptr_t> result;
  if (::write(pipeEnds[1], address, sizeof value) == ssize_t(sizeof value) &&
      ::read(pipeEnds[0], &value, sizeof value) == ssize_t(sizeof value)) {
    result = value;
  }
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  return result;
}

}  // namespace vesk::platform
