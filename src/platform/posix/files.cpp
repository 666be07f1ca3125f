// Files named by UTF-16 paths, with 64-bit sizes and positions.
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <new>

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

namespace {
constexpr std::size_t kLargePage = std::size_t(2) << 20;
}  // namespace

void* AllocateForLargeRead(std::size_t size) {
  if (size < kLargePage) return ::operator new(size);
  void* memory = ::operator new(size, std::align_val_t(kLargePage));
  // Only whole large pages inside the buffer are advised: a last page that
  // the buffer only begins would make the whole page resident.
  madvise(memory, size & ~(kLargePage - 1), MADV_HUGEPAGE);
  return memory;
}

// The unsized forms: compilers that do not enable sized deallocation by
// default (clang) have no declaration of the sized ones.
void ReleaseLargeRead(void* memory, std::size_t size) noexcept {
  if (size < kLargePage) {
    ::operator delete(memory);
  } else {
    ::operator delete(memory, std::align_val_t(kLargePage));
  }
}

}  // namespace vesk::platform
