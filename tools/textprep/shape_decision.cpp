// Which shape a number token has, from the token and the text around it.
#include "shape_decision.h"

namespace vesk::textprep {

namespace {

template <typename Pred>
bool AllMarks(const Token& t, Pred pred) {
  for (char16_t m : t.marks)
    if (!pred(m)) return false;
  return true;
}

bool Bare(const NumberText& n) { return n.sign == 0 && n.currency == nullptr; }

// Another decimal on the same line: 2008.08 is then a figure among figures.
bool AmongFigures(const Scan& scan, const NumberText& n) {
  std::size_t from = n.start, to = n.t.end;
  while (from > 0 && !IsLineBreak(scan.s[from - 1])) --from;
  while (to < scan.s.size() && !IsLineBreak(scan.s[to])) ++to;
  for (std::size_t k = from + 1; k + 1 < to; ++k) {
    if (k >= n.start && k < n.t.end) continue;
    if (scan.s[k] == u'.' && IsDigit(scan.s[k - 1]) && IsDigit(scan.s[k + 1]))
      return true;
  }
  return false;
}

// 2008.08, 2008/08: a year of this or the last century and a two-digit
// month, with nothing after it that makes it an amount.
bool YearMonth(const Scan& scan, const NumberText& n) {
  const Token& t = n.t;
  if (t.parts.size() != 2 || !Bare(n) || !ModernYear(t.parts[0]) ||
      t.parts[1].size() != 2 || !ValidDate(t.parts[0], t.parts[1], u"1"))
    return false;
  if (t.marks[0] == u'/') return true;
  const char16_t after = scan.At(scan.SkipBlanks(t.end));
  return t.marks[0] == u'.' && !IsLetter(after) && !IsDigit(after) &&
         after != u'%' && after != u'元' && !AmongFigures(scan, n);
}

// 比分1-2, 战胜对手0:1: small numbers after a word of sport.
bool Score(const Scan& scan, const NumberText& n) {
  const Token& t = n.t;
  if (t.parts.size() != 2 || !Bare(n) ||
      !(IsMinus(t.marks[0]) || t.marks[0] == u':'))
    return false;
  if (t.parts[0].size() > 3 || t.parts[1].size() > 3) return false;
  if (t.marks[0] == u':' && IsClock(t.parts)) return false;
  return AfterScoreWord(scan.s, n.start);
}

Shape ColonShape(const Token& t) {
  if (IsClock(t.parts)) return Shape::kClock;
  // 3:2, 16:9: a score or a ratio when it cannot be a time.
  const bool ratio =
      t.parts.size() == 2 && t.parts[0][0] != u'0' && t.parts[1][0] != u'0';
  return ratio ? Shape::kRatio : Shape::kLeft;
}

// 3/4 is 四分之三; a/b with a >= b is as likely a date or a page count.
Shape SlashShape(const Token& t) {
  if (ValueOf(t.parts[0]) >= ValueOf(t.parts[1]) || t.parts[0][0] == u'0' ||
      t.parts[1][0] == u'0')
    return Shape::kLeft;
  return Shape::kFraction;
}

// More than one dash: a telephone number or a code, unless it hangs on a
// dash before it.
Shape DashesShape(const Scan& scan, const NumberText& n) {
  const bool dashes = AllMarks(n.t, [](char16_t m) { return IsMinus(m); });
  return dashes && scan.HeardBefore(n.start) != u'-' ? Shape::kDashCode
                                                     : Shape::kLeft;
}

// 9:00-18:00: clocks on both sides of the range mark.
bool ClockRange(const Token& t, std::size_t rangeAt) {
  for (std::size_t k = 0; k + 1 < t.parts.size(); ++k) {
    if (k + 1 != rangeAt && t.marks[k] != u':') return false;
  }
  const auto middle = t.parts.begin() + std::ptrdiff_t(rangeAt);
  return IsClock({t.parts.begin(), middle}) && IsClock({middle, t.parts.end()});
}

// Two numbers around a dash or a range mark.
Shape PairShape(const Scan& scan, const NumberText& n) {
  const Token& t = n.t;
  const std::size_t parts = t.parts.size();
  const auto from = AsDecimal(t, 0, n.rangeAt);
  const auto to = AsDecimal(t, n.rangeAt, parts);
  if (!from || !to) return Shape::kLeft;
  if (!IsMinus(t.marks[n.rangeAt - 1])) return Shape::kRange;
  const bool code = AfterCodeWord(scan.s, n.start) || t.parts[0][0] == u'0';
  if (code && parts == 2) return Shape::kTelephone;
  if (parts == 2 && Bare(n) && ValidDate(t.parts[0], t.parts[1], u"1") &&
      t.parts[1].size() == 2)
    return Shape::kYearMonth;
  const bool formula = scan.At(scan.SkipBlanks(scan.i)) == u'=' ||
                       scan.HeardBefore(n.start) == u'=';
  if (formula) return scan.options.readSymbols ? Shape::kFormula : Shape::kLeft;
  // 2-3 reads 二到三 only when it rises; 3-2 may be a score, a date or a
  // subtraction, and is left as two numbers.
  return Below(*from, *to) ? Shape::kRange : Shape::kLeft;
}

// Decimals, ranges and clocks: the marks between the parts decide.
Shape RunShape(const Scan& scan, NumberText& n) {
  const Token& t = n.t;
  const std::size_t parts = t.parts.size();
  n.rangeAt = parts;
  bool clock = false;
  for (std::size_t k = 0; k + 1 < parts; ++k) {
    if (IsMinus(t.marks[k]) || IsRangeMark(t.marks[k])) {
      if (n.rangeAt != parts) return DashesShape(scan, n);
      n.rangeAt = k + 1;
    } else if (t.marks[k] == u':') {
      clock = true;
    } else if (t.marks[k] != u'.' && t.marks[k] != u',') {
      return Shape::kLeft;
    }
  }
  if (clock) {
    return n.rangeAt != parts && Bare(n) && ClockRange(t, n.rangeAt)
               ? Shape::kClockRange
               : Shape::kLeft;
  }
  if (n.rangeAt == parts)
    return AsDecimal(t, 0, parts) ? Shape::kSingle : Shape::kLeft;
  return PairShape(scan, n);
}

}  // namespace

Shape DecideShape(const Scan& scan, NumberText& n) {
  const Token& t = n.t;
  const std::size_t parts = t.parts.size();
  if (Score(scan, n)) return Shape::kScore;
  if (parts == 3 && Bare(n) && t.marks[0] == t.marks[1] &&
      (IsMinus(t.marks[0]) || t.marks[0] == u'/' || t.marks[0] == u'.') &&
      ValidDate(t.parts[0], t.parts[1], t.parts[2]))
    return Shape::kDate;
  if (t.marks.size() >= 1 && t.marks.size() <= 2 && Bare(n) &&
      AllMarks(t, [](char16_t m) { return m == u':'; }))
    return ColonShape(t);
  if (parts >= 3 && n.currency == nullptr &&
      AllMarks(t, [](char16_t m) { return m == u'.'; }))
    return Shape::kDotted;
  if (YearMonth(scan, n)) return Shape::kYearMonth;
  if (parts == 2 && t.marks[0] == u'/' && n.currency == nullptr)
    return SlashShape(t);
  return RunShape(scan, n);
}

}  // namespace vesk::textprep
