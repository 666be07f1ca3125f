#include "frontend/syllable.h"

#include <array>
#include <cstring>

#include "frontend/phonetic_tables.h"

namespace vesk {

namespace {

constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool IsSingleLetterInitial(char c) {
  return c != '\0' && std::strchr("bpmfdtnlgkhjqxrzcsyw", c) != nullptr;
}

// Length of the initial of an already lower-cased spelling.
std::size_t InitialLength(std::string_view lower) {
  for (std::string_view two : {"zh", "ch", "sh"}) {
    if (lower.starts_with(two)) return 2;
  }
  if (!lower.empty() && IsSingleLetterInitial(lower.front())) return 1;
  return 0;
}

// The longest spelling that can have a unit: a two-letter initial and a
// four-letter final.
constexpr std::size_t kLongestSpelling = 6;

}  // namespace

SyllableParts SplitSyllable(std::string_view pinyin) {
  std::string lower(pinyin);
  for (char& c : lower) c = LowerAscii(c);
  std::size_t initialLength = InitialLength(lower);
  return {lower.substr(0, initialLength), lower.substr(initialLength)};
}

int32_t SyllableUnitIndex(std::string_view pinyin, int32_t tone) {
  // Syllabic nasals are recorded as en; the case matters here, before the
  // split lower-cases.
  if (pinyin == "ng" || pinyin == "n" || pinyin == "m") {
    pinyin = "en";
    if (tone == 3) tone = 4;
  }
  // Longer spellings have a final no table holds; cutting them off here keeps
  // the lower-cased copy on the stack.
  if (pinyin.size() > kLongestSpelling) return -1;
  std::array<char, kLongestSpelling> buffer{};
  for (std::size_t i = 0; i < pinyin.size(); ++i) {
    buffer[i] = LowerAscii(pinyin[i]);
  }
  std::string_view lower(buffer.data(), pinyin.size());
  std::size_t initialLength = InitialLength(lower);
  std::string_view initial = lower.substr(0, initialLength);
  std::string_view final = lower.substr(initialLength);
  if (final == "ue") final = "ve";

  int32_t block = 0;
  if (!initial.empty()) {
    auto base = InitialBase(initial);
    if (!base) return -1;
    block = *base;
  } else if (!final.empty() && final.front() == 'e') {
    block = 1664;
  } else if (!final.empty() && final.front() == 'o') {
    block = 5824;
  }
  auto slot = FinalOffset(final);
  if (!slot) return -1;
  // Callers pass tones 0..4; unsigned arithmetic keeps any other value from
  // being undefined behaviour.
  return int32_t(uint32_t(block) + uint32_t(*slot) + uint32_t(tone));
}

}  // namespace vesk
