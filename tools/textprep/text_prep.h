// Text preparation for the hosts we ship (vesk-say, sd_vesk, vesk-pinyin):
// turns real text (full-width forms, numbers with signs and decimal points,
// dates, times, units, symbols) into text that the engine reads the way a
// Chinese listener expects. The engine itself never rewrites text; a screen
// reader that loads it does its own preparation.
//
// What the engine reads: Chinese characters U+4E00..U+9FFF through its
// dictionaries, runs of ASCII digits as one cardinal number each (up to ten
// digits; longer runs digit by digit), ASCII letters spelled, a pause on
// , . ! ? 。 ， ！ ？ and silence for everything else. So the prepared text
// keeps ASCII digits wherever the engine's cardinal is the right reading and
// writes Chinese words for the rest:
//   NFKC (full-width ２０２６, ＡＢＣ, ㎞), 〇 as 零
//   3.14 → 3点一 四 (a blank after a digit 一 keeps the sandhi of 一 off)
//   -3 → 负3, +5 → 正5, -3度 → 零下3度, -3℃ → 零下3摄氏度
//   100% → 百分之100, 1,000,000 → 1000000, 3/4 → 4分之3
//   3-5, 3~5 → 3到5; 3:2 → 3比2 (not a time); 1.2.3 → 1点2点3
//   192.168.1.10, telephone numbers, codes with a leading zero and runs
//   of 11 digits and more: digit by digit; 2个 → 两个
//   2026年, 2026-12-09, 2026/12/9, 2026.12.09 → 二零二六年12月9日
//   9:05 → 9点零5分, 08:00:30 → 8点零分30秒, 3:30 pm → 下午3点30分
//   ¥100 → 100元 ($ 美元, € 欧元, £ 英镑), 5km → 5千米, 100m² → 100平方米
//   CNY 100, 100 USD → 100元, 100美元 (RMB, EUR, HKD, JPY too)
//   2008/08, 2008.08, 2008-08 → 二零零八年8月 (not among other decimals)
//   1 / 2 → 2分之1; 3<=5, 3>=2, 1!=2 → 小于等于, 大于等于, 不等于
//   比分1-2, 逆转3:2 → 1比2, 3比2 after a word of sport
//   200, 2000, 1200 → 两百, 两千, 一千两百 (a year such as 2026 stays)
//   line breaks, ；：、… — and brackets → one pause (，), never doubled
// How: the text is normalised (normalize.h), then read left to right
// (text_prep.cpp); a number token is scanned (number_token.h), its one shape
// decided (shape_decision.h) and written by that shape's renderer
// (number_shapes.cpp). Every word list and table is in vocabulary.h.
// Left as they are for the engine: plain integers, names with digits
// (Windows 10, ISO-8859-1, x86_64, H2O, iPhone 5s, 5G), 第3章, and patterns
// that could mean several things (12/9, 5-3): their digits are read as plain
// numbers rather than guessed at.
#pragma once

#include <string>
#include <string_view>

namespace vesk::textprep {

struct PrepOptions {
  // Read symbols and punctuation names (¥, %, +, ×, …) in Chinese. Off in
  // the speech-dispatcher module, whose server runs its own symbol pass.
  //
  // Off, only the names of symbols that stand apart from numbers are left
  // alone: a lone %, &, #, @, ¥, the math signs between numbers (1+2=3) and
  // a minus in a formula. A mark that is part of how a number is said is
  // number reading and is read either way: the sign of -3, the point of
  // 3.14, 100% (百分之100, not "100 percent sign"), ¥100, 5km, 3~5, and the
  // pauses, which name nothing.
  bool readSymbols = true;
};

// Returns the prepared text: valid UTF-16 (unpaired surrogates, silent to
// the engine, are dropped), at most 20 times as long as the input plus 16
// code units. Never fails: text it does not understand is handed on as it
// is. Thread-safe; keeps no state between calls.
std::u16string PrepareText(std::u16string_view text,
                           const PrepOptions& options = {});

}  // namespace vesk::textprep
