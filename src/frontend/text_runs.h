// How spoken text divides into runs: Chinese characters, ASCII digits and
// ASCII letters are each read a run at a time; the eight sentence marks and
// everything else one code unit at a time. The worker walks text by these
// rules, the lexicon converts only Chinese characters, and the hosts cut
// text only where a run ends.
#pragma once

#include <cstddef>
#include <string_view>

namespace vesk {

// The block of Chinese characters the engine reads (one UTF-16 code unit
// each).
inline constexpr char16_t kHanFirst = 0x4E00;
inline constexpr char16_t kHanLast = 0x9FFF;

enum class TextRun { Han, Digits, Letters, SentenceMark, Other };

constexpr bool IsHan(char16_t c) { return c >= kHanFirst && c <= kHanLast; }

constexpr TextRun ClassifyCharacter(char16_t c) {
  if (IsHan(c)) return TextRun::Han;
  if (c >= u'0' && c <= u'9') return TextRun::Digits;
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))
    return TextRun::Letters;
  switch (c) {
    case u'!':
    case u',':
    case u'.':
    case u'?':
    case u'\u3002':  // 。
    case u'\uFF01':  // ！
    case u'\uFF0C':  // ，
    case u'\uFF1F':  // ？
      return TextRun::SentenceMark;
    default:
      return TextRun::Other;
  }
}

// Whether a run of this kind goes on while the next character is of the same
// kind. Text cut after a character of any other kind is read exactly as the
// whole would be.
constexpr bool Continues(TextRun run) {
  return run == TextRun::Han || run == TextRun::Digits ||
         run == TextRun::Letters;
}

// End of the run that begins at start (start < text.size()).
constexpr std::size_t RunEnd(std::u16string_view text, std::size_t start) {
  const TextRun run = ClassifyCharacter(text[start]);
  std::size_t end = start + 1;
  if (!Continues(run)) return end;
  while (end < text.size() && ClassifyCharacter(text[end]) == run) ++end;
  return end;
}

}  // namespace vesk
