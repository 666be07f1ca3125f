// A number token and the shape it has: digit runs and the single marks
// between them ("2026-12-09": 2026 - 12 - 09), decided once, then read by
// the one renderer of that shape.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "vocabulary.h"
#include "writer.h"

namespace vesk::textprep {

struct Token {
  std::vector<u16string_view> parts;
  std::vector<char16_t> marks;
  std::size_t end = 0;
};

// The token whose first digit is s[i]. A blank-spaced slash between digits
// (1 / 2) joins like a slash.
Token ScanToken(u16string_view s, std::size_t i);

// Parts [from, to) read as one decimal: 1,234,567.89. nullopt when they
// are not one.
std::optional<Decimal> AsDecimal(const Token& t, std::size_t from,
                                 std::size_t to);

// a < b for decimals without fraction, a <= b with one, as digit strings.
bool Below(const Decimal& a, const Decimal& b);

bool ValidDate(u16string_view y, u16string_view m, u16string_view d);

// h:mm or h:mm:ss on a 24-hour clock.
bool IsClock(const std::vector<u16string_view>& parts);

enum class Shape {
  kLeft,        // not understood: left to the engine's plain numbers
  kSingle,      // one number, with its sign, currency, unit or percent
  kRange,       // 3-5, 3~5, 1.5~2.5, 2020-2025
  kDate,        // 2026-12-09, 2026/12/9, 2026.12.09
  kYearMonth,   // 2026-12, 2008/08, 2008.08
  kClock,       // 9:05, 08:00:30
  kClockRange,  // 9:00-18:00
  kRatio,       // 3:2, 16:9 (no time)
  kScore,       // 比分1-2, 战胜对手0:1
  kDotted,      // 192.168.1.10, 1.2.3
  kFraction,    // 3/4, 1 / 2
  kTelephone,   // 0571-88888888
  kDashCode,    // 400-800-8888
  kFormula,     // 5-3=2
};

// What surrounds a number token in the text.
struct NumberText {
  Token t;
  std::size_t start = 0;  // where its text begins (a sign or a currency)
  char16_t sign = 0;
  const Currency* currency = nullptr;
  std::size_t rangeAt = 0;  // ranges: the first part of the second number
  bool ordinal = false;     // after 第
};

}  // namespace vesk::textprep
