// What pinyin.txt and phrases.txt share: file reading, lines and readings.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/syllable.h"

namespace vesk {

// Removes leading and trailing space, tab, CR and LF.
std::string_view trimBlanks(std::string_view text);

// Splits at delimiter into trimmed pieces, empty pieces included.
std::vector<std::string_view> splitReadings(std::string_view text,
                                            char delimiter);

// One reading in tone-mark notation (zhōng, lǜ, ńg) to a syllable.
Syllable parseReading(std::string_view reading);

// The whole file as bytes, without a leading byte-order mark; nullopt when it
// cannot be opened or read.
std::optional<std::string> readDictionaryFile(const std::u16string& path);

}  // namespace vesk
