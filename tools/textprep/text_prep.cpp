#include "text_prep.h"

#include "normalize.h"
#include "scan.h"
#include "unicode_services.h"

namespace vesk::textprep {

namespace {

// A word in Latin letters, with the digits, dashes and points that belong
// to it (x86_64, ISO-8859-1, H2O), is left to the engine, which spells the
// letters; only "v1.2.3" has its points read.
void Word(Scan& scan) {
  std::size_t end = scan.i;
  for (;;) {
    while (IsWordChar(scan.At(end))) ++end;
    const char16_t joiner = scan.At(end), next = scan.At(end + 1);
    if ((joiner == u'-' || joiner == u'.') && IsWordChar(next) &&
        !(joiner == u'.' && IsLetter(next)))
      ++end;
    else
      break;
  }
  const u16string_view word = scan.s.substr(scan.i, end - scan.i);
  if ((word[0] == u'v' || word[0] == u'V') && word.size() > 1 &&
      IsDigit(word[1]) &&
      word.find_first_not_of(u"0123456789.", 1) == u16string_view::npos) {
    scan.w.Put(word[0]);
    for (char16_t ch : word.substr(1)) scan.w.Put(ch == u'.' ? u'点' : ch);
  } else {
    scan.w.Put(word);
  }
  scan.i = end;
}

// ½ → 2分之1, 1½ → 1又2分之1.
void VulgarFraction(Scan& scan) {
  u16string parts;
  AppendNfkc(scan.s.substr(scan.i, 1), parts);  // "1⁄2"
  const std::size_t slash = parts.find(u'⁄');
  ++scan.i;
  if (slash == u16string::npos) return scan.w.Put(parts);
  if (scan.i > 1 && IsDigit(scan.s[scan.i - 2])) scan.w.Put(u'又');
  scan.w.Put(u16string_view(parts).substr(slash + 1));
  scan.w.Put(u"分之");
  scan.w.Put(u16string_view(parts).substr(0, slash));
}

// 元/斤, 5MB/s, 次/秒: "per" between a measure and a unit.
bool Per(Scan& scan) {
  const char16_t before = scan.i > 0 ? scan.s[scan.i - 1] : 0;
  if (!IsHan(before) && !IsLetter(before)) return false;
  if (IsPerWord(scan.At(scan.i + 1)) && IsHan(before)) {
    scan.w.Put(u'每');
    ++scan.i;
    return true;
  }
  const auto unit = UnitAt(scan.s, scan.i + 1);
  if (!unit || scan.At(scan.i + 1) == u' ') return false;
  scan.w.Put(u'每');
  scan.w.Put(unit->first->reading);
  scan.i = unit->second;
  return true;
}

// Symbol names, for hosts without a symbol pass of their own. Comparison
// signs are named only between numbers (a > in "首页 > 新闻" is a path).
bool Symbol(Scan& scan) {
  u16string_view name;
  std::size_t length = 1;
  if (const SymbolName* symbol =
          SymbolAt(scan.s, scan.i, IsDigit(scan.HeardBefore(scan.i)))) {
    name = symbol->name;
    length = symbol->written.size();
  }
  if (const Currency* currency = CurrencySign(scan.s[scan.i]))
    name = currency->reading;
  if (name.empty()) return false;
  scan.w.Put(name);
  scan.i += length;
  return true;
}

// A sign stands after a blank or a mark, never right after a number or a
// name (5-3, ISO-8859). Whether the one at scan.i starts a number.
bool SignsANumber(const Scan& scan) {
  const char16_t before = scan.i > 0 ? scan.s[scan.i - 1] : 0;
  return !IsWordChar(before) &&
         u16string_view(u")]}°℃℉²³").find(before) == u16string_view::npos;
}

// A number after a sign or a currency sign or code; false when there is
// none.
bool SignedNumber(Scan& scan) {
  const char16_t c = scan.s[scan.i];
  if (IsSign(c) && IsDigit(scan.At(scan.i + 1))) {
    const char16_t before = scan.i > 0 ? scan.s[scan.i - 1] : 0;
    if (before == u'%' || before == u'‰') {  // 50%-60%
      scan.w.Put(IsMinus(c) ? u'到' : c);
      ++scan.i;
      return true;
    }
    if (SignsANumber(scan)) {
      PrepareNumber(scan, scan.i + 1, c, nullptr);
      return true;
    }
  }
  const Currency* sign = CurrencySign(c);
  const Currency* currency = sign ? sign : CurrencyCodeAt(scan.s, scan.i);
  if (!currency) return false;
  const std::size_t written = sign ? 1 : currency->written.size();
  const std::size_t k = scan.At(scan.i + written) == u' ' ? scan.i + written + 1
                                                          : scan.i + written;
  if (!IsDigit(scan.At(k)) || IsLetter(scan.HeardBefore(scan.i))) return false;
  PrepareNumber(scan, k, 0, currency);
  return true;
}

// Line breaks, pausing marks, an ellipsis and blanks.
bool Spacing(Scan& scan) {
  const char16_t c = scan.s[scan.i];
  if (IsLineBreak(c) || IsPausingMark(c)) {
    scan.w.Pause();
    if (IsLineBreak(c)) scan.w.Blank(c);
    ++scan.i;
    return true;
  }
  if (c == u'.' && scan.At(scan.i + 1) == u'.') {  // "..." after NFKC
    while (scan.At(scan.i) == u'.') ++scan.i;
    scan.w.Pause();
    return true;
  }
  if (!IsSpace(c)) return false;
  scan.w.Blank(c);
  ++scan.i;
  return true;
}

void Step(Scan& scan) {
  const char16_t c = scan.s[scan.i];
  if (IsHan(c)) {
    std::size_t end = scan.i + 1;
    while (IsHan(scan.At(end))) ++end;
    scan.w.PutHan(scan.s.substr(scan.i, end - scan.i));
    scan.i = end;
    return;
  }
  if (IsDigit(c)) return PrepareNumber(scan, scan.i, 0, nullptr);
  if (SignedNumber(scan)) return;
  if (IsLetter(c)) return Word(scan);
  if (Spacing(scan)) return;
  if (IsVulgarFraction(c)) return VulgarFraction(scan);
  if (c == u'/' && Per(scan)) return;
  if (scan.options.readSymbols && Symbol(scan)) return;
  scan.w.Put(c);
  ++scan.i;
}

}  // namespace

std::u16string PrepareText(std::u16string_view text,
                           const PrepOptions& options) {
  const u16string normalized = Normalize(text);
  Scan scan(normalized, options);
  while (scan.i < scan.s.size()) Step(scan);
  return scan.w.Take();
}

}  // namespace vesk::textprep
