// Files named by UTF-16 paths, with 64-bit sizes and positions.
#include <windows.h>

#include <cstdio>
#include <new>

#include "platform/platform.h"

namespace vesk::platform {

std::FILE* OpenFile(const std::u16string& path, const char* mode) {
  if (mode == nullptr) return nullptr;
  // An embedded NUL would silently name another file.
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return nullptr;
  std::wstring wideMode;
  for (const char* c = mode; *c != '\0'; ++c) wideMode += wchar_t(*c);
  const auto* widePath = reinterpret_cast<const wchar_t*>(path.c_str());
  // The CRT opens directories for reading on some systems; a directory is
  // never a file the engine can use.
  const DWORD attributes = GetFileAttributesW(widePath);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return nullptr;
  }
  return _wfopen(widePath, wideMode.c_str());
}

int64_t FileSizeFromEnd(std::FILE* file) {
  if (file == nullptr || _fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
}

bool SeekTo(std::FILE* file, int64_t position) {
  return file != nullptr && position >= 0 &&
         _fseeki64(file, position, SEEK_SET) == 0;
}

void* AllocateForLargeRead(std::size_t size) { return ::operator new(size); }

void ReleaseLargeRead(void* memory, std::size_t) noexcept {
  ::operator delete(memory);
}

}  // namespace vesk::platform
