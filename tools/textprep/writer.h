// The prepared text as it is written, and the words numbers are written in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk::textprep {

using std::u16string;
using std::u16string_view;

// The prepared text with the pauses still to be placed: a pause is put only
// between two things that are heard, never twice, never next to a mark the
// engine already pauses on.
class Writer {
 public:
  explicit Writer(std::size_t reserve) { out_.reserve(reserve); }
  void Pause() { pendingPause_ = true; }
  void Blank(char16_t c) { out_ += c; }
  // The one place the preparation makes up for the engine's reading: its
  // sandhi of 一 inside a Chinese run (一四 yi2 si4) is for words, so the 一
  // of a number read digit by digit (3点一 四) is followed by a blank, which
  // ends the run and keeps its first tone.
  void PutDigitOne();
  void Put(char16_t c);
  void Put(u16string_view s) {
    for (char16_t c : s) Put(c);
  }
  // A run of Chinese characters, the bulk of most text, in one piece.
  void PutHan(u16string_view run);
  u16string Take() { return std::move(out_); }

 private:
  static constexpr std::size_t npos = u16string::npos;
  void FlushPause();
  u16string out_;
  std::size_t lastHeard_ = npos;
  bool pendingPause_ = false;
  bool splitAfterOne_ = false;
};

// ---- Numbers in words ----------------------------------------------------

// 2026 → 二零二六 (with the 一 of PutDigitOne).
void PutDigitNames(u16string_view digits, Writer& w);
// Without leading zeros; "0" for zeros only.
u16string_view StripZeros(u16string_view digits);
// The value of a small field (dates, times); huge above four digits.
int ValueOf(u16string_view digits);
// A four-digit year of these centuries (19xx, 20xx).
bool ModernYear(u16string_view digits);

// A cardinal in Chinese words, from the system's Chinese spell-out
// (unicode_services.h), which has the engine's structure, with 两 where
// people say it: at the head of a 万 or 亿 group (两万), and with
// liangBeforeHundreds before 百 and 千 (两百, 一千两百). False when it
// cannot be spelled (more than 18 digits, or no spell-out on this system):
// a plain integer then stays digits for the engine, a long grouped number
// is read digit by digit.
bool PutCardinal(u16string_view digits, bool liangBeforeHundreds, Writer& w);

// Whether a plain integer has a 2 that people say 两: before 百 or 千.
bool HasLiangBeforeHundreds(u16string_view digits);

// A number as the engine should hear it: an integer part it reads itself
// (ASCII digits), the digits after the point one by one.
struct Decimal {
  u16string integer;  // digits, thousands separators removed
  u16string_view fraction;
  bool grouped = false;  // written with thousands separators
};

enum class NumberContext { kPlain, kYear, kTwoAsLiang };

void PutDecimal(const Decimal& d, NumberContext context, Writer& w);

}  // namespace vesk::textprep
