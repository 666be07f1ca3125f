#include "host_text.h"

#include "frontend/text_runs.h"
#include "platform/platform.h"

namespace vesk::host {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

std::u16string ToUtf16(std::string_view text) {
  return platform::Utf8ToUtf16(text);
}

bool IsSafeCutAfter(char16_t c) {
  return !Continues(ClassifyCharacter(c)) && !IsHighSurrogate(c);
}

std::size_t NextPieceLength(std::u16string_view text, std::size_t limit,
                            bool final) {
  if (limit == 0) limit = 1;
  if (text.size() <= limit) {
    if (final) return text.size();
    const auto lineEnd = text.rfind(u'\n');
    return lineEnd == std::u16string_view::npos ? 0 : lineEnd + 1;
  }
  const std::u16string_view window = text.substr(0, limit);
  const auto lineEnd = window.rfind(u'\n');
  if (lineEnd != std::u16string_view::npos) return lineEnd + 1;
  for (std::size_t at = window.size(); at > 0; --at) {
    if (IsSafeCutAfter(window[at - 1])) return at;
  }
  // One unbroken run longer than the limit: cut it, but keep a surrogate
  // pair whole.
  std::size_t cut = limit;
  if (cut > 1 && IsHighSurrogate(text[cut - 1])) --cut;
  return cut;
}

bool HasContent(std::u16string_view piece) {
  for (char16_t c : piece) {
    if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n') return true;
  }
  return false;
}

}  // namespace vesk::host
