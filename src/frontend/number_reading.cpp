#include "frontend/number_reading.h"

#include <array>
#include <optional>

namespace vesk {

namespace {

constexpr std::array<char16_t, 10> kDigitNames{
    u'零', u'一', u'二', u'三', u'四', u'五', u'六', u'七', u'八', u'九'};
// Ones, tens, hundreds, thousands; the ones have no unit.
constexpr std::array<char16_t, 4> kPositionUnits{0, u'十', u'百', u'千'};

constexpr char16_t kZero = u'零';
constexpr char16_t kPairTwo = u'两';
constexpr char16_t kWan = u'万';
constexpr char16_t kYi = u'亿';

constexpr uint64_t kDigitByDigitLimit = 10'000'000'000ULL;

bool IsCSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Decimal value as the C library's string-to-unsigned conversion reads it:
// leading white space, an optional sign, digits up to the first other
// character. nullopt when no digit is read or the value leaves 64 bits.
std::optional<uint64_t> ParseUnsigned(std::u16string_view text) {
  std::size_t at = 0;
  while (at < text.size() && IsCSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
    negative = text[at] == u'-';
    ++at;
  }
  std::size_t firstDigit = at;
  uint64_t value = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    uint64_t digit = text[at] - u'0';
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (at == firstDigit) return std::nullopt;
  return negative ? uint64_t(0) - value : value;
}

// A group of value 2 in front of 万 or 亿 is said 两; 二 stays wherever it is
// only the last digit of a larger group (十二万, 一百零二亿).
void AppendGroup(std::u16string& out, uint32_t value, bool continued,
                 char16_t groupUnit) {
  if (value == 2) {
    out += kPairTwo;
  } else {
    out += ReadDigitGroup(value, continued);
  }
  out += groupUnit;
}

}  // namespace

std::u16string ReadDigitGroup(uint32_t value, bool continued) {
  std::u16string result;
  value %= 10000;  // a group has four digits; never index past the tables
  if (value == 0) return result;
  const std::array<uint32_t, 4> digits{value / 1000, value / 100 % 10,
                                       value / 10 % 10, value % 10};
  for (int i = 0; i < 4; ++i) {
    const uint32_t digit = digits[i];
    const int position = 3 - i;
    if (digit == 0) {
      if (!result.empty() && result.back() != kZero) result += kZero;
    } else if (digit == 1 && position == 1 && !continued && result.empty()) {
      result += kPositionUnits[1];
    } else {
      result += kDigitNames[digit];
      if (position > 0) result += kPositionUnits[position];
    }
  }
  while (!result.empty() && result.back() == kZero) result.pop_back();
  return result;
}

std::u16string ReadNumber(std::u16string_view digits) {
  while (!digits.empty() && digits.front() == u'0') digits.remove_prefix(1);
  if (digits.empty()) return std::u16string(1, kZero);
  auto parsed = ParseUnsigned(digits);
  if (!parsed || *parsed >= kDigitByDigitLimit) return {};

  const uint64_t value = *parsed;
  const auto yi = uint32_t(value / 100'000'000);
  const auto wan = uint32_t(value / 10'000 % 10'000);
  const auto low = uint32_t(value % 10'000);

  std::u16string result;
  if (yi != 0) {
    AppendGroup(result, yi, false, kYi);
    if (wan == 0) {
      if (low != 0) {
        // 零 even before a full thousands group: 一亿零一千.
        result += kZero;
        result += ReadDigitGroup(low, low < 1000);
      }
      return result;
    }
  }
  if (wan != 0) {
    AppendGroup(result, wan, yi != 0 && wan < 1000, kWan);
    if (low != 0) {
      if (low < 1000) result += kZero;
      result += ReadDigitGroup(low, low < 1000);
    }
    return result;
  }
  return ReadDigitGroup(low, false);
}

}  // namespace vesk
