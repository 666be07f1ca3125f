// Reading runs of ASCII digits as Chinese cardinal numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vesk {

// The Chinese reading of a run of ASCII digits, or "" when the value is
// 10,000,000,000 or more (the caller then reads it digit by digit).
std::u16string ReadNumber(std::u16string_view digits);

// The reading of one group of four digits (0..9999). continued: the group
// follows a higher group, so 10..19 read with a leading one.
std::u16string ReadDigitGroup(uint32_t value, bool continued);

}  // namespace vesk
