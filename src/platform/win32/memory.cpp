// Memory classification for callback pointers, and reads that survive an
// unreadable address.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

// PAGE_GUARD, PAGE_NOCACHE and PAGE_WRITECOMBINE modify a protection; they
// say nothing about reading, writing or running.
constexpr DWORD kProtectionModifiers = 0x700;

bool IsWritable(DWORD protection) {
  return protection == PAGE_READWRITE || protection == PAGE_WRITECOPY ||
         protection == PAGE_EXECUTE_READWRITE ||
         protection == PAGE_EXECUTE_WRITECOPY;
}

bool IsExecutable(DWORD protection) {
  return protection == PAGE_EXECUTE || protection == PAGE_EXECUTE_READ ||
         protection == PAGE_EXECUTE_READWRITE ||
         protection == PAGE_EXECUTE_WRITECOPY;
}

}  // namespace

std::optional<MemoryRegion> QueryMemory(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(address, &info, sizeof info) == 0) return std::nullopt;
  MemoryRegion region;
  region.committed = info.State == MEM_COMMIT;
  if (region.committed) {
    const DWORD protection = info.Protect & ~kProtectionModifiers;
    region.writable = IsWritable(protection);
    region.executable = IsExecutable(protection);
    region.fileBacked = info.Type == MEM_IMAGE || info.Type == MEM_MAPPED;
  }
  return region;
}

namespace {

// Whether the bytes at address can be read without touching a guard page
// (reading one would take its one-shot guard away from its owner).
bool IsPlainReadable(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(address, &info, sizeof info) == 0) return false;
  if (info.State != MEM_COMMIT) return false;
  if ((info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
  return (info.Protect & ~kProtectionModifiers) != 0;
}

struct PointerRead {
  const void* address;
  uintptr_t value;
};

void ReadInto(void* context) {
  auto* read = static_cast<PointerRead*>(context);
  std::memcpy(&read->value, read->address, sizeof read->value);
}

}  // namespace

// The region may change between the query and the read (another thread
// frees it): the read itself is guarded as well.
std::optional<uintptr_t> ReadPointer(const void* address) {
  const auto* first = static_cast<const uint8_t*>(address);
  if (first == nullptr || !IsPlainReadable(first) ||
      !IsPlainReadable(first + sizeof(uintptr_t) - 1)) {
    return std::nullopt;
  }
  PointerRead read{address, 0};
  if (!CallGuarded(&ReadInto, &read)) return std::nullopt;
  return read.value;
}

}  // namespace vesk::platform
