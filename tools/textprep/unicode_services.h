// The two services the text preparation asks of the system's Unicode
// support: NFKC and the Chinese spell-out of a cardinal. Each system has its
// back end beside this header: unicode_icu.cpp (ICU, on Linux) and
// unicode_win32.cpp (Windows' NormalizeString, and the ICU that Windows 10
// 1903 and later ships as icu.dll). Everything else in the text preparation
// is the same on every system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::textprep {

// NFKC of part appended to out (part itself when the system cannot
// normalise it).
void AppendNfkc(std::u16string_view part, std::u16string& out);

// The largest value SpellOutChinese takes: eighteen digits.
inline constexpr int64_t kLargestSpelledValue = 999'999'999'999'999'999;

// value (0..kLargestSpelledValue) in Chinese words as ICU's Chinese
// spell-out writes it (一百二十三亿四千五百六十七万八千九百〇一: 二, never
// 两; 〇 for a zero inside). nullopt when the spell-out is not available
// here or the value is out of range.
std::optional<std::u16string> SpellOutChinese(int64_t value);

// Whether SpellOutChinese works on this system. It does not on Windows
// without icu.dll (before Windows 10 1903, and under Wine): there the
// numbers it would write in words are left as digits for the engine, or read
// digit by digit where the engine would do so anyway.
bool HasChineseSpellOut();

}  // namespace vesk::textprep
