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

// The syllables of a list of readings: every non-empty piece between
// delimiters, parsed, keeping those with a non-empty spelling.
std::vector<Syllable> parseReadings(std::string_view text, char delimiter);

// Calls fn(line) for every line of content that, trimmed, is neither empty
// nor a comment ("#" first). Lines end at LF; a CR before it is trimmed.
template <typename Fn>
void forEachEntryLine(std::string_view content, Fn&& fn) {
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    std::string_view line = trimBlanks(content.substr(0, end));
    content.remove_prefix(end == std::string_view::npos ? content.size()
                                                        : end + 1);
    if (!line.empty() && line.front() != '#') fn(line);
  }
}

// Number of lines in content, for reserving.
std::size_t countLines(std::string_view content);

// The whole file as bytes, without a leading byte-order mark; nullopt when it
// cannot be opened or read.
std::optional<std::string> readDictionaryFile(const std::u16string& path);

}  // namespace vesk
