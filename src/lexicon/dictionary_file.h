// What pinyin.txt and phrases.txt share: file reading, lines and readings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/syllable.h"

namespace vesk {

// Removes leading and trailing space, tab, CR and LF. Inline: every line and
// every reading of both files passes through it.
inline std::string_view trimBlanks(std::string_view text) {
  const auto isBlank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
  };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits at delimiter into trimmed pieces, empty pieces included.
std::vector<std::string_view> splitReadings(std::string_view text,
                                            char delimiter);

// One reading in tone-mark notation (zhōng, lǜ, ńg) to a syllable.
Syllable parseReading(std::string_view reading);

// The syllable of each reading text met during one load, parsed once: each
// of the two files spells tens of thousands of readings with fewer than
// 2,000 distinct texts. The keys are views into the content being loaded, so
// a cache lives no longer than that content (one load call).
class ReadingCache {
 public:
  // The same syllable as parseReading(reading); the reference holds until
  // the next call.
  const Syllable& parse(std::string_view reading);

 private:
  // Open addressing over a power-of-two table, at most half full: readings
  // are a few bytes long, and a general hash map spends more on hashing and
  // buckets than parseReading spends on the reading.
  struct Slot {
    std::string_view reading;
    uint32_t syllable = 0;  // 1 + its index in syllables_; 0: a free slot
  };
  void grow();
  std::vector<Slot> slots_;
  std::vector<Syllable> syllables_;
};

// The syllables of a list of readings: every non-empty piece between
// delimiters, parsed, keeping those with a non-empty spelling.
std::vector<Syllable> parseReadings(std::string_view text, char delimiter);
// The same, each piece parsed through the load's cache.
std::vector<Syllable> parseReadings(std::string_view text, char delimiter,
                                    ReadingCache& cache);

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
