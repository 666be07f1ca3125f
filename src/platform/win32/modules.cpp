// The file of the module (DLL or program) holding an address.
#include <windows.h>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

constexpr DWORD kModuleFileNameLength = 260;

}  // namespace

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

}  // namespace vesk::platform
