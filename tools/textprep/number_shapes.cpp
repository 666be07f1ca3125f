// One renderer per shape of a number token, and the reader that scans a
// token, decides its shape and renders it.
#include <array>
#include <optional>
#include <utility>

#include "number_token.h"
#include "scan.h"
#include "shape_decision.h"

namespace vesk::textprep {

namespace {

using Parts = std::vector<u16string_view>;

// What follows a number and changes how it is said.
struct Suffix {
  u16string_view prefix;   // 百分之
  u16string_view reading;  // the unit's words
  std::size_t end = 0;     // after the written suffix
  bool liang = false;
  bool belowZero = false;  // a temperature: 零下 for the minus sign
};

// A one-letter unit counts only after a number that is not part of a name
// (iPhone 5s).
Suffix SuffixAt(const Scan& scan, std::size_t at, std::size_t start) {
  Suffix x;
  x.end = at;
  if (scan.At(at) == u'%' || scan.At(at) == u'‰') {
    x.prefix = scan.At(at) == u'%' ? u"百分之" : u"千分之";
    x.end = at + 1;
  } else if (auto unit = UnitAt(scan.s, at);
             unit && !(unit->first->written.size() == 1 &&
                       IsLetter(scan.HeardBefore(start)))) {
    x.reading = unit->first->reading;
    x.liang = unit->first->liang;
    x.end = unit->second;
    x.belowZero = unit->first->reading.back() == u'度';
  } else {
    x.liang = IsLiangWord(scan.At(at));
    x.belowZero = scan.At(at) == u'度';
  }
  return x;
}

void PutSuffix(Scan& scan, const Suffix& x) {
  scan.w.Put(x.reading);
  scan.i = x.end;
}

void PutSign(Writer& w, char16_t sign, bool belowZero) {
  if (IsMinus(sign))
    w.Put(belowZero ? u"零下" : u"负");
  else if (sign == u'+')
    w.Put(u'正');
  else if (sign == u'±')
    w.Put(u"正负");
}

// ---- Dates and times -----------------------------------------------------

void PutDate(Scan& scan, const Token& t) {
  PutDigitNames(t.parts[0], scan.w);
  scan.w.Put(u'年');
  scan.w.Put(StripZeros(t.parts[1]));
  scan.w.Put(u'月');
  if (t.parts.size() < 3) return;
  scan.w.Put(StripZeros(t.parts[2]));
  if (scan.At(scan.i) != u'日' && scan.At(scan.i) != u'号') scan.w.Put(u'日');
}

// 9点零5分, 8点零分30秒, 两点.
void PutClock(Writer& w, const Parts& p) {
  const int hour = ValueOf(p[0]), minute = ValueOf(p[1]);
  if (hour == 2)
    w.Put(u'两');
  else
    w.Put(StripZeros(p[0]));
  w.Put(u'点');
  if (minute != 0 || p.size() == 3) {
    if (minute < 10) w.Put(u'零');
    if (minute != 0) w.Put(StripZeros(p[1]));
    w.Put(u'分');
  }
  if (p.size() == 3) {
    const int second = ValueOf(p[2]);
    if (second < 10) w.Put(u'零');
    if (second != 0) w.Put(StripZeros(p[2]));
    w.Put(u'秒');
  }
}

// 上午 or 下午 for an am/pm after the time, which it consumes.
void PutHalfDay(Scan& scan) {
  if (const auto halfDay = HalfDayAt(scan.s, scan.i)) {
    scan.w.Put(halfDay->first);
    scan.i = halfDay->second;
  }
}

void PutClockRange(Scan& scan, const NumberText& n) {
  const auto middle = n.t.parts.begin() + std::ptrdiff_t(n.rangeAt);
  PutHalfDay(scan);
  PutClock(scan.w, Parts(n.t.parts.begin(), middle));
  scan.w.Put(u'到');
  PutClock(scan.w, Parts(middle, n.t.parts.end()));
}

// ---- Codes, fractions, ratios --------------------------------------------

// Addresses and versions: 192.168.1.10 digit by digit, 1.2.3 as numbers.
void PutDotted(Writer& w, const NumberText& n) {
  bool address = n.t.parts.size() == 4;
  for (u16string_view p : n.t.parts)
    address = address && p.size() <= 3 && ValueOf(p) <= 255;
  if (n.sign) w.Put(n.sign);
  for (std::size_t k = 0; k < n.t.parts.size(); ++k) {
    const u16string_view part = n.t.parts[k];
    if (k) w.Put(u'点');
    if (address || (part.size() > 1 && part[0] == u'0'))
      PutDigitNames(part, w);
    else
      w.Put(part);
  }
}

// Digit by digit, with a pause where each dash is.
void PutDashedCode(Writer& w, const Parts& parts) {
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k) w.Pause();
    PutDigitNames(parts[k], w);
  }
}

void PutBetween(Writer& w, const Token& t, u16string_view word) {
  w.Put(t.parts[0]);
  w.Put(word);
  w.Put(t.parts[1]);
}

void PutFraction(Writer& w, const NumberText& n) {
  PutSign(w, n.sign, false);
  w.Put(n.t.parts[1]);
  w.Put(u"分之");
  w.Put(n.t.parts[0]);
}

// ---- Quantities ----------------------------------------------------------

// A birth cohort (80后, 00后) or a year of two digits before a month (98年3
// 月, 08年): digit by digit.
bool ShortYear(const Scan& scan, const Decimal& d) {
  if (d.integer.size() != 2 || !d.fraction.empty()) return false;
  if (scan.At(scan.i) == u'后') return !d.grouped;
  if (scan.At(scan.i) != u'年') return false;
  if (d.integer[0] == u'0') return true;
  std::size_t k = scan.i + 1;
  while (IsDigit(scan.At(k))) ++k;
  return k > scan.i + 1 && k - scan.i <= 3 && scan.At(k) == u'月';
}

bool IsYear(const Scan& scan, const Decimal& d, const NumberText& n) {
  if (n.sign || n.currency) return false;
  return (scan.At(scan.i) == u'年' && ValidDate(d.integer, u"1", u"1") &&
          d.fraction.empty()) ||
         ShortYear(scan, d);
}

// A code read digit by digit: after a word such as 电话, or with a leading
// zero where no date or time field follows (007, 07).
bool IsCode(const Scan& scan, const Decimal& d, const NumberText& n) {
  if (n.sign || n.currency || !d.fraction.empty() || d.grouped) return false;
  const bool leadingZero =
      d.integer[0] == u'0' && !IsFieldWord(scan.At(scan.i));
  if (d.integer.size() == 2) return leadingZero;
  return d.integer.size() >= 3 &&
         (AfterCodeWord(scan.s, n.start) || leadingZero);
}

// A plain integer: the engine reads it as it is, unless a 2 in it is said
// 两 before 百 or 千. A year such as 2026 is left as it is; a round 2000 is
// a quantity.
bool PutPlainInteger(Scan& scan, const Decimal& d) {
  const bool year = ModernYear(d.integer) && !d.integer.ends_with(u"00");
  if (!HasLiangBeforeHundreds(d.integer) || year) return false;
  return PutCardinal(d.integer, true, scan.w);
}

bool PutSingle(Scan& scan, const NumberText& n) {
  Decimal d = *AsDecimal(n.t, 0, n.t.parts.size());
  // 100.00元: no fraction to read in an amount of money.
  if ((n.currency || scan.At(scan.i) == u'元') &&
      d.fraction.find_first_not_of(u'0') == u16string_view::npos)
    d.fraction = {};
  if (IsCode(scan, d, n)) {
    PutDigitNames(d.integer, scan.w);
    return true;
  }
  const Suffix suffix = SuffixAt(scan, scan.i, n.start);
  const NumberContext context = IsYear(scan, d, n) ? NumberContext::kYear
                                : (suffix.liang && !n.ordinal && !n.sign)
                                    ? NumberContext::kTwoAsLiang
                                    : NumberContext::kPlain;
  if (n.currency) {
    PutSign(scan.w, n.sign, false);
    PutDecimal(d, context, scan.w);
    scan.w.Put(n.currency->reading);
    return true;
  }
  if (!n.sign && suffix.prefix.empty() && suffix.reading.empty() &&
      context == NumberContext::kPlain && d.fraction.empty() && !d.grouped &&
      d.integer.size() <= 10)
    return PutPlainInteger(scan, d);
  PutSign(scan.w, n.sign, suffix.belowZero);
  scan.w.Put(suffix.prefix);
  PutDecimal(d, context, scan.w);
  PutSuffix(scan, suffix);
  return true;
}

// 2020-2025 and 1990~2000年: years, read digit by digit.
bool AreYears(const Scan& scan, const Decimal& from, const Decimal& to,
              const Suffix& suffix) {
  const auto year = [](const Decimal& d) {
    return d.fraction.empty() && !d.grouped && ValidDate(d.integer, u"1", u"1");
  };
  if (!year(from) || !year(to)) return false;
  return scan.At(scan.i) == u'年' ||
         (ModernYear(from.integer) && ModernYear(to.integer) &&
          !IsHan(scan.At(scan.i)) && suffix.reading.empty() &&
          suffix.prefix.empty());
}

void PutRange(Scan& scan, const NumberText& n) {
  const auto from = AsDecimal(n.t, 0, n.rangeAt);
  const auto to = AsDecimal(n.t, n.rangeAt, n.t.parts.size());
  const Suffix suffix = SuffixAt(scan, scan.i, n.start);
  const NumberContext context = AreYears(scan, *from, *to, suffix)
                                    ? NumberContext::kYear
                                    : NumberContext::kPlain;
  if (n.currency) {
    PutDecimal(*from, context, scan.w);
    scan.w.Put(u'到');
    PutDecimal(*to, context, scan.w);
    scan.w.Put(n.currency->reading);
    return;
  }
  PutSign(scan.w, n.sign, suffix.belowZero);
  scan.w.Put(suffix.prefix);
  PutDecimal(*from, context, scan.w);
  scan.w.Put(u'到');
  scan.w.Put(suffix.prefix);
  PutDecimal(*to, context, scan.w);
  PutSuffix(scan, suffix);
}

void PutFormula(Scan& scan, const NumberText& n) {
  PutSign(scan.w, n.sign, false);
  PutDecimal(*AsDecimal(n.t, 0, n.rangeAt), NumberContext::kPlain, scan.w);
  scan.w.Put(u'减');
  PutDecimal(*AsDecimal(n.t, n.rangeAt, n.t.parts.size()),
             NumberContext::kPlain, scan.w);
}

// Writes the reading of the shape; false when it is left to the engine.
bool Render(Scan& scan, const NumberText& n, Shape shape) {
  Writer& w = scan.w;
  switch (shape) {
    case Shape::kLeft:
      return false;
    case Shape::kSingle:
      return PutSingle(scan, n);
    case Shape::kRange:
      PutRange(scan, n);
      break;
    case Shape::kDate:
    case Shape::kYearMonth:
      PutDate(scan, n.t);
      break;
    case Shape::kClock:
      PutHalfDay(scan);
      PutClock(w, n.t.parts);
      break;
    case Shape::kClockRange:
      PutClockRange(scan, n);
      break;
    case Shape::kRatio:
    case Shape::kScore:
      PutBetween(w, n.t, u"比");
      break;
    case Shape::kDotted:
      PutDotted(w, n);
      break;
    case Shape::kFraction:
      PutFraction(w, n);
      break;
    case Shape::kTelephone:
    case Shape::kDashCode:
      PutDashedCode(w, n.t.parts);
      break;
    case Shape::kFormula:
      PutFormula(scan, n);
      break;
  }
  return true;
}

// 138 1234 5678: a mobile number written in groups.
bool SpacedPhone(Scan& scan, std::size_t at) {
  static constexpr std::array<std::size_t, 3> kGroups = {3, 4, 4};
  if (scan.At(at) != u'1') return false;
  std::size_t k = at;
  for (std::size_t g = 0; g < kGroups.size(); ++g) {
    if (g && scan.At(k++) != u' ') return false;
    for (std::size_t d = 0; d < kGroups[g]; ++d, ++k)
      if (!IsDigit(scan.At(k))) return false;
  }
  if (IsWordChar(scan.At(k))) return false;
  for (std::size_t g = 0, from = at; g < kGroups.size(); ++g) {
    if (g) scan.w.Blank(u' ');
    PutDigitNames(scan.s.substr(from, kGroups[g]), scan.w);
    from += kGroups[g] + 1;
  }
  scan.i = k;
  return true;
}

// A currency code after an amount (100 USD, 100USD): the currency, and the
// position after its code.
std::optional<std::pair<const Currency*, std::size_t>> TrailingCurrency(
    const Scan& scan, std::size_t end) {
  const std::size_t at = scan.At(end) == u' ' ? end + 1 : end;
  const Currency* code = CurrencyCodeAt(scan.s, at);
  if (!code) return std::nullopt;
  return std::pair{code, at + code->written.size()};
}

}  // namespace

void PrepareNumber(Scan& scan, std::size_t at, char16_t sign,
                   const Currency* currency) {
  NumberText n{ScanToken(scan.s, at), scan.i, sign, currency};
  const std::size_t end = n.t.end;
  // A number run into letters that are no unit (5G, 1080p, 3D) is a name.
  if (IsLetter(scan.At(end)) && !UnitAt(scan.s, end) &&
      !HalfDayAt(scan.s, end) && !CurrencyCodeAt(scan.s, end)) {
    std::size_t wordEnd = end;
    while (IsWordChar(scan.At(wordEnd))) ++wordEnd;
    scan.w.Put(scan.s.substr(n.start, wordEnd - n.start));
    scan.i = wordEnd;
    return;
  }
  if (!sign && !currency && SpacedPhone(scan, at)) return;
  n.ordinal = scan.HeardBefore(n.start) == u'第';
  scan.i = end;
  const Shape shape = DecideShape(scan, n);
  const auto code = TrailingCurrency(scan, end);
  const bool amount = shape == Shape::kSingle || shape == Shape::kRange;
  if (amount && code && !n.currency) n.currency = code->first;
  if (!Render(scan, n, shape)) {
    // Not understood: the digits are left to the engine's plain number
    // reading, the marks between them to its silence or pause.
    scan.w.Put(scan.s.substr(n.start, end - n.start));
  } else if (amount && code && n.currency == code->first) {
    scan.i = code->second;
  }
}

}  // namespace vesk::textprep
