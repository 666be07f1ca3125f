// Files named by UTF-16 paths, with 64-bit sizes and positions.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

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

void ResizeForLargeRead(std::vector<uint8_t>& buffer, std::size_t size) {
  buffer.resize(size);
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::u16string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(OpenFile(path, "rb"));
  if (!file) return std::nullopt;
  const int64_t size = FileSizeFromEnd(file.get());
  if (size < 0 || uint64_t(size) > SIZE_MAX / 2 || !SeekTo(file.get(), 0)) {
    return std::nullopt;
  }
  // A 32-bit process runs out of address space long before SIZE_MAX.
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!bytes.empty() &&
      std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace vesk::platform
