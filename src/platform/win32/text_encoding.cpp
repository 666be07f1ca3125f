// UTF-8 <-> UTF-16 through the system converters: code page 65001 without
// flags turns invalid input into U+FFFD instead of failing.
#include <windows.h>

#include <climits>

#include "platform/platform.h"

namespace vesk::platform {

namespace {

// The converters take int lengths; longer input goes in pieces cut where no
// character is split.
constexpr std::size_t kPieceLimit = std::size_t(1) << 29;

std::size_t Utf8PieceLength(std::string_view utf8) {
  if (utf8.size() <= kPieceLimit) return utf8.size();
  // Back up over continuation bytes (at most three) to a lead byte.
  std::size_t end = kPieceLimit;
  while (end > kPieceLimit - 3 && (uint8_t(utf8.at(end)) & 0xC0) == 0x80) --end;
  return end;
}

std::size_t Utf16PieceLength(std::u16string_view utf16) {
  if (utf16.size() <= kPieceLimit) return utf16.size();
  const char16_t next = utf16.at(kPieceLimit);
  return next >= 0xDC00 && next <= 0xDFFF ? kPieceLimit - 1 : kPieceLimit;
}

void AppendUtf16(std::string_view utf8, std::u16string& out) {
  const int length = int(utf8.size());
  const int needed =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) return;
  const std::size_t start = out.size();
  out.resize(start + std::size_t(needed));
  const int written = MultiByteToWideChar(
      CP_UTF8, 0, utf8.data(), length,
      reinterpret_cast<wchar_t*>(out.data() + start), needed);
  out.resize(start + std::size_t(written > 0 ? written : 0));
}

void AppendUtf8(std::u16string_view utf16, std::string& out) {
  const auto* wide = reinterpret_cast<const wchar_t*>(utf16.data());
  const int length = int(utf16.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0,
                                         nullptr, nullptr);
  if (needed <= 0) return;
  const std::size_t start = out.size();
  out.resize(start + std::size_t(needed));
  const int written = WideCharToMultiByte(
      CP_UTF8, 0, wide, length, out.data() + start, needed, nullptr, nullptr);
  out.resize(start + std::size_t(written > 0 ? written : 0));
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  while (!utf8.empty()) {
    const std::size_t piece = Utf8PieceLength(utf8);
    AppendUtf16(utf8.substr(0, piece), out);
    utf8.remove_prefix(piece);
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  while (!utf16.empty()) {
    const std::size_t piece = Utf16PieceLength(utf16);
    AppendUtf8(utf16.substr(0, piece), out);
    utf16.remove_prefix(piece);
  }
  return out;
}

std::filesystem::path NativePath(std::u16string_view path) {
  return std::filesystem::path(
      std::wstring(reinterpret_cast<const wchar_t*>(path.data()), path.size()));
}

std::u16string PathText(const std::filesystem::path& path) {
  const std::wstring& native = path.native();
  return std::u16string(reinterpret_cast<const char16_t*>(native.data()),
                        native.size());
}

std::u16string HostText(std::u16string_view text) {
  return std::u16string(text);
}

}  // namespace vesk::platform
