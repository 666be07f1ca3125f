// The one place of the text preparation's vocabulary: which characters are
// what, and the words, units, currencies and symbols it reads.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

#include "frontend/text_runs.h"

namespace vesk::textprep {

using std::u16string_view;

// ---- Characters ----------------------------------------------------------

constexpr bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
constexpr bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
constexpr bool IsWordChar(char16_t c) {
  return IsDigit(c) || IsLetter(c) || c == u'_';
}
constexpr bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == 0x3000 || c == 0xA0;
}
constexpr bool IsLineBreak(char16_t c) {
  return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 ||
         c == 0x2028 || c == 0x2029;
}
// The marks on which the engine plays its pause.
constexpr bool IsSentenceMark(char16_t c) {
  return ClassifyCharacter(c) == TextRun::SentenceMark;
}
// Marks a reader pauses on that the engine passes over in silence.
constexpr bool IsPausingMark(char16_t c) {
  return u16string_view(u";:、…—―–()[]{}【】〔〕〖〗|‖•").find(c) !=
         u16string_view::npos;
}
// ¼ ½ ¾ and ⅐ … ⅞: NFKC would run them into a digit before (1½ → 11⁄2).
constexpr bool IsVulgarFraction(char16_t c) {
  return (c >= 0xBC && c <= 0xBE) || (c >= 0x2150 && c <= 0x215E) ||
         c == 0x2189;
}
constexpr bool IsMinus(char16_t c) { return c == u'-' || c == 0x2212; }
constexpr bool IsRangeMark(char16_t c) {
  return c == u'~' || c == 0x301C || c == u'–';
}
constexpr bool IsSign(char16_t c) {
  return IsMinus(c) || c == u'+' || c == u'±';
}

constexpr bool StartsWith(u16string_view s, std::size_t at,
                          u16string_view prefix) {
  return s.substr(at, prefix.size()) == prefix;
}

// ---- Words ---------------------------------------------------------------

inline constexpr u16string_view kDigitNames = u"零一二三四五六七八九";
// The engine's default pause mark for the pauses added here.
inline constexpr char16_t kPause = u'，';

// Words shortly before a number that make it a code read digit by digit.
bool AfterCodeWord(u16string_view s, std::size_t at);
// Words shortly before a score (比分, 战胜 …): a-b and a:b read a比b.
bool AfterScoreWord(u16string_view s, std::size_t at);
// Measure words after which 2 is said 两.
bool IsLiangWord(char16_t c);
// After a number, these name a date or time field, where the engine's
// reading of a leading zero (05月) is already right.
bool IsFieldWord(char16_t c);
// Measures after "/" read 每 (元/斤, 次/秒).
bool IsPerWord(char16_t c);

// ---- Units, money, times of day, symbols ---------------------------------

struct Unit {
  u16string_view written;
  u16string_view reading;
  bool liang;  // 2 of it is said 两
};

// The unit written at s[at] (after at most one blank), with its end.
std::optional<std::pair<const Unit*, std::size_t>> UnitAt(u16string_view s,
                                                          std::size_t at);

struct Currency {
  u16string_view written;  // a sign (¥) or a code (CNY)
  u16string_view reading;
};

// The currency sign at c, or nullptr.
const Currency* CurrencySign(char16_t c);
// The currency code (CNY, USD …) written at s[at], or nullptr.
const Currency* CurrencyCodeAt(u16string_view s, std::size_t at);

// am/pm at s[at] (after at most one blank): its reading and end.
std::optional<std::pair<u16string_view, std::size_t>> HalfDayAt(
    u16string_view s, std::size_t at);

struct SymbolName {
  u16string_view written;
  u16string_view name;
  bool betweenNumbers;  // named only between numbers (a path's >)
};

// The symbol written at s[at], longest first (<= before <), that may be
// named there: one named only between numbers needs a digit heard before
// it and one after it. nullptr when there is none.
const SymbolName* SymbolAt(u16string_view s, std::size_t at, bool digitBefore);

}  // namespace vesk::textprep
