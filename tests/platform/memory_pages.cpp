#include "platform/memory_pages.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>

#include "platform/platform.h"
#endif

namespace vesk::test {

#if defined(_WIN32)

namespace {

constexpr std::size_t kPageSize = 4096;

DWORD Protection(Access access) {
  switch (access) {
    case Access::kNone:
      return PAGE_NOACCESS;
    case Access::kReadWrite:
      return PAGE_READWRITE;
    case Access::kReadWriteExecute:
      return PAGE_EXECUTE_READWRITE;
  }
  return PAGE_NOACCESS;
}

}  // namespace

Page::Page(Access access)
    : address_(VirtualAlloc(nullptr, kPageSize, MEM_COMMIT | MEM_RESERVE,
                            Protection(access))) {}

Page::~Page() {
  if (address_ != nullptr) VirtualFree(address_, 0, MEM_RELEASE);
}

std::u16string ExecutablePath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::u16string(reinterpret_cast<const char16_t*>(path), length);
}

#else

namespace {

std::size_t PageSize() { return std::size_t(::sysconf(_SC_PAGESIZE)); }

int Protection(Access access) {
  switch (access) {
    case Access::kNone:
      return PROT_NONE;
    case Access::kReadWrite:
      return PROT_READ | PROT_WRITE;
    case Access::kReadWriteExecute:
      return PROT_READ | PROT_WRITE | PROT_EXEC;
  }
  return PROT_NONE;
}

}  // namespace

Page::Page(Access access) {
  void* mapped = ::mmap(nullptr, PageSize(), Protection(access),
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped != MAP_FAILED) address_ = mapped;
}

Page::~Page() {
  if (address_ != nullptr) ::munmap(address_, PageSize());
}

std::u16string ExecutablePath() {
  return platform::PathText(std::filesystem::read_symlink("/proc/self/exe"));
}

#endif

const void* ReleasedAddress() {
  Page page(Access::kReadWrite);
  return page.get();
}

}  // namespace vesk::test
