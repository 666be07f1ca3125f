// Path operations on UTF-16 paths, the same on every system but for the
// Windows separator and drive rules.
#include "platform/platform.h"

namespace vesk::platform {

namespace {

// Windows paths: backslashes separate too, and a drive's root ("C:\\")
// keeps its separator.
constexpr bool kWindowsPaths =
    std::filesystem::path::preferred_separator == L'\\';

bool IsSeparator(char16_t c) {
  return c == u'/' || (kWindowsPaths && c == u'\\');
}

}  // namespace

std::u16string_view WithoutStreamSuffix(std::u16string_view fileName) {
  return fileName.substr(0, fileName.find(u':'));
}

std::u16string_view FileExtension(std::u16string_view fileName) {
  const std::u16string_view name = WithoutStreamSuffix(fileName);
  if (name == u"." || name == u"..") return {};
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos || dot == 0) return {};
  return name.substr(dot);
}

std::u16string_view FileStem(std::u16string_view fileName) {
  const std::u16string_view name = WithoutStreamSuffix(fileName);
  return name.substr(0, name.size() - FileExtension(name).size());
}

std::u16string ParentDirectory(std::u16string_view path) {
  std::size_t slash = path.size();
  while (slash > 0 && !IsSeparator(path[slash - 1])) --slash;
  if (slash == 0) return {};
  std::size_t end = slash - 1;
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  if (end == 0) return std::u16string(path.substr(0, 1));  // the root
  if (kWindowsPaths && end == 2 && path[1] == u':') {
    return std::u16string(path.substr(0, 3));
  }
  return std::u16string(path.substr(0, end));
}

std::u16string JoinPath(const std::u16string& directory,
                        std::u16string_view name) {
  return PathText(NativePath(directory) / NativePath(name));
}

}  // namespace vesk::platform
