// The fixed tables of the unit index space. Voice files depend on every value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "frontend/syllable.h"

namespace vesk {

// 26 letter blocks of 416 indices; 16 per final slot; tone 0..4 inside a slot.
inline constexpr int32_t kLetterBlockSize = 416;
inline constexpr int32_t kSlotSize = 16;
// Played for the eight sentence marks.
inline constexpr int32_t kPunctuationUnit = 24;

// Block start of an initial ("b" .. "z", "zh", "ch", "sh"); case-sensitive.
std::optional<int32_t> InitialBase(std::string_view initial);
// Slot start of a final ("a", "ui", "ve", ...); case-sensitive.
std::optional<int32_t> FinalOffset(std::string_view final);
// Unit of a digit's own syllable, for '0'..'9'; -1 for any other character.
int32_t DigitUnit(char16_t digit);
// The syllable that unit says (ling2, yi1, ...), for '0'..'9'; an empty
// syllable for any other character.
Syllable DigitSyllable(char16_t digit);
// Unit of a letter's name, for 'a'..'z' only.
int32_t LetterUnit(char letter);

}  // namespace vesk
