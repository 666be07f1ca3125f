// Memory classification and module lookup for callback pointers and the
// engine's own directory.
#include <windows.h>

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

constexpr DWORD kModuleFileNameLength = 260;

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
  }
  return region;
}

// ReadProcessMemory on our own process reports a fault as a failed call
// instead of raising it, so no handler is needed.
std::optional<uintptr_t> ReadPointer(const void* address) {
  uintptr_t value = 0;
  SIZE_T read = 0;
  if (!ReadProcessMemory(GetCurrentProcess(), address, &value, sizeof value,
                         &read) ||
      read != sizeof value) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::u16string> ModulePathOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module)) {
    return std::nullopt;
  }
  wchar_t path[kModuleFileNameLength];
  const DWORD length = GetModuleFileNameW(module, path, kModuleFileNameLength);
  // A full buffer means the name was cut: its directory would be wrong.
  if (length == 0 || length >= kModuleFileNameLength) return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t*>(path), length);
}

void PinModuleOf(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
      static_cast<LPCWSTR>(address), &module);
}

}  // namespace vesk::platform
