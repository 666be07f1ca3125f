// Toned pinyin syllables and their unit indices.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vesk {

// One spoken syllable: lower-case ASCII pinyin without tone mark (u-umlaut
// written v) and its tone, 1..4, or 0 for the neutral tone.
struct Syllable {
  std::string pinyin;
  int32_t tone = 0;

  friend bool operator==(const Syllable&, const Syllable&) = default;
};

struct SyllableParts {
  std::string initial;
  std::string final;
};

// Splits a spelling into initial and final; lower-cases ASCII letters first.
SyllableParts SplitSyllable(std::string_view pinyin);

// The unit index of a spelling in a tone, or -1 when the spelling has no
// place in the index space. Voice files are keyed by these numbers.
int32_t SyllableUnitIndex(std::string_view pinyin, int32_t tone);

}  // namespace vesk
