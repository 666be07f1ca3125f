#include "writer.h"

#include "unicode_services.h"
#include "vocabulary.h"

namespace vesk::textprep {

void Writer::PutDigitOne() {
  Put(u'一');
  splitAfterOne_ = true;
}

void Writer::Put(char16_t c) {
  if (splitAfterOne_) {
    splitAfterOne_ = false;
    if (IsHan(c)) out_ += u' ';
  }
  if (IsSentenceMark(c)) {
    pendingPause_ = false;
    // A run of marks would play the pause once per mark.
    if (lastHeard_ != npos && IsSentenceMark(out_[lastHeard_]) &&
        lastHeard_ + 1 == out_.size())
      return;
  } else {
    FlushPause();
  }
  lastHeard_ = out_.size();
  out_ += c;
}

void Writer::PutHan(u16string_view run) {
  if (run.empty()) return;
  Put(run[0]);
  out_.append(run.substr(1));
  lastHeard_ = out_.size() - 1;
}

void Writer::FlushPause() {
  if (!pendingPause_) return;
  pendingPause_ = false;
  if (lastHeard_ == npos || IsSentenceMark(out_[lastHeard_])) return;
  // After what was heard, before the blanks and line breaks that follow.
  out_.insert(out_.begin() + std::ptrdiff_t(lastHeard_ + 1), kPause);
}

void PutDigitNames(u16string_view digits, Writer& w) {
  for (char16_t d : digits) {
    if (d == u'1')
      w.PutDigitOne();
    else
      w.Put(kDigitNames[std::size_t(d - u'0')]);
  }
}

u16string_view StripZeros(u16string_view digits) {
  const std::size_t first = digits.find_first_not_of(u'0');
  return first == u16string_view::npos ? digits.substr(digits.size() - 1)
                                       : digits.substr(first);
}

int ValueOf(u16string_view digits) {
  if (digits.size() > 4) return 1 << 30;
  int v = 0;
  for (char16_t d : digits) v = v * 10 + (d - u'0');
  return v;
}

bool ModernYear(u16string_view digits) {
  return digits.size() == 4 &&
         (StartsWith(digits, 0, u"19") || StartsWith(digits, 0, u"20"));
}

bool HasLiangBeforeHundreds(u16string_view digits) {
  digits = StripZeros(digits);
  for (std::size_t k = 0; k < digits.size(); ++k) {
    const std::size_t place = (digits.size() - 1 - k) % 4;  // 0 ones .. 3 千
    if (digits[k] == u'2' && place >= 2) return true;
  }
  return false;
}

namespace {

// 〇 is silent to the engine; 二 is said 两 at the head of a 万 or 亿 group
// and, when asked, before 百 and 千.
void SayLiang(u16string& reading, bool liangBeforeHundreds) {
  for (std::size_t i = 0; i < reading.size(); ++i) {
    if (reading[i] == u'〇') reading[i] = u'零';
    if (reading[i] != u'二' || i + 1 >= reading.size()) continue;
    const char16_t next = reading[i + 1];
    const bool groupHead =
        (next == u'万' || next == u'亿') &&
        (i == 0 || reading[i - 1] == u'万' || reading[i - 1] == u'亿');
    if (groupHead || (liangBeforeHundreds && (next == u'百' || next == u'千')))
      reading[i] = u'两';
  }
}

}  // namespace

bool PutCardinal(u16string_view digits, bool liangBeforeHundreds, Writer& w) {
  digits = StripZeros(digits);
  if (digits.size() > 18) return false;
  int64_t value = 0;
  for (char16_t d : digits) value = value * 10 + (d - u'0');
  std::optional<u16string> reading = SpellOutChinese(value);
  if (!reading) return false;
  SayLiang(*reading, liangBeforeHundreds);
  w.Put(*reading);
  return true;
}

void PutDecimal(const Decimal& d, NumberContext context, Writer& w) {
  const u16string_view integer = d.integer;
  if (context == NumberContext::kYear && d.fraction.empty()) {
    PutDigitNames(integer, w);
  } else if (StripZeros(integer).size() > 10) {
    // Grouped by thousands it is a quantity; otherwise a code.
    if (!(d.grouped && PutCardinal(integer, false, w)))
      PutDigitNames(integer, w);
  } else if (context == NumberContext::kTwoAsLiang && d.fraction.empty() &&
             StripZeros(integer) == u"2") {
    w.Put(u'两');
  } else {
    w.Put(d.fraction.empty() && integer.size() > 1 && integer[0] == u'0'
              ? StripZeros(integer)
              : integer);
  }
  if (!d.fraction.empty()) {
    w.Put(u'点');
    PutDigitNames(d.fraction, w);
  }
}

}  // namespace vesk::textprep
