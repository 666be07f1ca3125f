#include "number_token.h"

namespace vesk::textprep {

namespace {

bool IsJoiner(char16_t c) {
  return c == u'.' || c == u',' || c == u':' || c == u'/' || c == u'⁄' ||
         IsMinus(c) || IsRangeMark(c);
}

// The length of the joiner at s[at] that a digit follows, 0 when none.
std::size_t JoinerLength(u16string_view s, std::size_t at) {
  if (at + 1 < s.size() && IsJoiner(s[at]) && IsDigit(s[at + 1])) return 1;
  if (StartsWith(s, at, u" / ") && at + 3 < s.size() && IsDigit(s[at + 3]))
    return 3;
  return 0;
}

}  // namespace

Token ScanToken(u16string_view s, std::size_t i) {
  Token t;
  for (;;) {
    std::size_t end = i;
    while (end < s.size() && IsDigit(s[end])) ++end;
    t.parts.push_back(s.substr(i, end - i));
    t.end = end;
    const std::size_t joiner = JoinerLength(s, end);
    if (joiner == 0) return t;
    const char16_t mark = joiner == 3 ? u'/' : s[end];
    t.marks.push_back(mark == u'⁄' ? u'/' : mark);
    i = end + joiner;
  }
}

std::optional<Decimal> AsDecimal(const Token& t, std::size_t from,
                                 std::size_t to) {
  Decimal d;
  d.integer = u16string(t.parts[from]);
  std::size_t k = from + 1;
  if (k < to && t.marks[k - 1] == u',' && t.parts[from].size() <= 3) {
    while (k < to && t.marks[k - 1] == u',' && t.parts[k].size() == 3) {
      d.integer += t.parts[k++];
      d.grouped = true;
    }
    if (!d.grouped) return std::nullopt;
  }
  if (k < to && t.marks[k - 1] == u'.') d.fraction = t.parts[k++];
  if (k != to) return std::nullopt;
  return d;
}

bool Below(const Decimal& a, const Decimal& b) {
  const u16string_view x = StripZeros(a.integer), y = StripZeros(b.integer);
  if (!a.fraction.empty() || !b.fraction.empty())
    return x.size() < y.size() || (x.size() == y.size() && x <= y);
  return x.size() < y.size() || (x.size() == y.size() && x < y);
}

bool ValidDate(u16string_view y, u16string_view m, u16string_view d) {
  const int month = ValueOf(m), day = ValueOf(d);
  return y.size() == 4 && (y[0] == u'1' || y[0] == u'2') && m.size() <= 2 &&
         d.size() <= 2 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool IsClock(const std::vector<u16string_view>& p) {
  if (p.size() < 2 || p.size() > 3) return false;
  const int hour = ValueOf(p[0]), minute = ValueOf(p[1]);
  return p[0].size() <= 2 && p[1].size() == 2 &&
         (hour < 24 || (hour == 24 && minute == 0)) && minute < 60 &&
         (p.size() == 2 || (p[2].size() == 2 && ValueOf(p[2]) < 60));
}

}  // namespace vesk::textprep
