// Files named by UTF-16 paths, with 64-bit sizes and positions.
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/platform.h"

namespace vesk::platform {

std::FILE* OpenFile(const std::u16string& path, const char* mode) {
  std::FILE* file = std::fopen(NativePath(path).c_str(), mode);
  if (file == nullptr) return nullptr;
  // A directory opens for reading here but not where the engine's file
  // rules come from; refuse it like any other unreadable name.
  struct stat status {};
  if (::fstat(::fileno(file), &status) != 0 || S_ISDIR(status.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

int64_t FileSizeFromEnd(std::FILE* file) {
  if (file == nullptr || ::fseeko(file, 0, SEEK_END) != 0) return -1;
  const off_t end = ::ftello(file);
  return end < 0 ? -1 : int64_t(end);
}

bool SeekTo(std::FILE* file, int64_t position) {
  return file != nullptr && position >= 0 &&
         ::fseeko(file, off_t(position), SEEK_SET) == 0;
}

void ResizeForLargeRead(std::vector<uint8_t>& buffer, std::size_t size) {
  constexpr uintptr_t kLargePage = uintptr_t(2) << 20;
  buffer.clear();
  buffer.reserve(size);
  // Only whole large pages inside the buffer are advised; memory around it
  // keeps its pages.
  const auto start = reinterpret_cast<uintptr_t>(buffer.data());
  const uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t last = (start + size) & ~(kLargePage - 1);
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
  buffer.resize(size);
}

}  // namespace vesk::platform
