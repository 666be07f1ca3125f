// Number reading: every run of digits must read back to its own value.
#include <cstdint>
#include <string>

#include "frontend/number_reading.h"
#include "fuzz_support.h"

namespace {

constexpr std::u16string_view kDigitNames = u"零一二三四五六七八九";

int DigitOf(char16_t c) {
  if (c == u'两') return 2;
  const std::size_t at = kDigitNames.find(c);
  return at == std::u16string_view::npos ? -1 : int(at);
}

// Reads a Chinese numeral back into its value; -1 for a character that no
// reading may contain.
int64_t ValueOfReading(std::u16string_view reading) {
  int64_t total = 0, section = 0, digit = 0;
  for (char16_t c : reading) {
    if (int d = DigitOf(c); d >= 0) {
      digit = d;
    } else if (c == u'十' || c == u'百' || c == u'千') {
      const int64_t unit = c == u'十' ? 10 : c == u'百' ? 100 : 1000;
      section += (digit == 0 && c == u'十' ? 1 : digit) * unit;
      digit = 0;
    } else if (c == u'万') {
      total += (section + digit) * 10000;
      section = digit = 0;
    } else if (c == u'亿') {
      total = (total + section + digit) * 100000000;
      section = digit = 0;
    } else {
      return -1;
    }
  }
  return total + section + digit;
}

void CheckDigits(const std::u16string& digits) {
  using vesk::fuzz::Require;
  const std::u16string reading = vesk::ReadNumber(digits);
  std::size_t first = digits.find_first_not_of(u'0');
  if (first == std::u16string::npos) {
    Require(reading == u"零", "only zeros read 零");
    return;
  }
  const std::u16string_view significant =
      std::u16string_view(digits).substr(first);
  if (significant.size() > 10) {
    Require(reading.empty(), "10^10 and more read empty");
    return;
  }
  int64_t value = 0;
  for (char16_t c : significant) value = value * 10 + (c - u'0');
  Require(!reading.empty(), "a readable number has a reading");
  Require(reading.back() != u'零', "no trailing 零");
  Require(reading.find(u"零零") == std::u16string::npos, "no double 零");
  Require(ValueOfReading(reading) == value, "reading means the value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    // A run of ASCII digits, as the worker cuts them out of a text.
    std::u16string digits;
    for (std::size_t i = 1; i < size; ++i)
      digits += char16_t(u'0' + data[i] % 10);
    CheckDigits(digits);
  } else {
    // Anything at all: no crash, and only numeral characters come out.
    const std::u16string text = vesk::fuzz::BytesToUtf16(data + 1, size - 1);
    const std::u16string reading = vesk::ReadNumber(text);
    vesk::fuzz::Require(ValueOfReading(reading) >= 0,
                        "reading made of numeral characters");
  }
  return 0;
}
