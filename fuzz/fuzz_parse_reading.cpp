// The reading notation and the line helpers of the dictionary files.
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "lexicon/dictionary_file.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using vesk::fuzz::Require;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const vesk::Syllable syllable = vesk::parseReading(text);
  Require(syllable.tone >= 0 && syllable.tone <= 4, "tone 0..4");
  Require(syllable.pinyin.size() <= size, "marks never lengthen a reading");
  for (char c : syllable.pinyin) {
    Require(!(c >= 'A' && c <= 'Z'), "no upper-case ASCII in pinyin");
  }

  const std::string_view trimmed = vesk::trimBlanks(text);
  Require(trimmed.empty() ||
              (!IsBlank(trimmed.front()) && !IsBlank(trimmed.back())),
          "trimmed ends are not blank");
  Require(trimmed.data() >= text.data() &&
              trimmed.data() + trimmed.size() <= text.data() + text.size(),
          "trim stays inside the text");

  for (char delimiter : {',', ' '}) {
    std::size_t delimiters = 0;
    for (char c : text) delimiters += c == delimiter;
    const auto pieces = vesk::splitReadings(text, delimiter);
    Require(pieces.size() == delimiters + 1, "one piece more than delimiters");
    std::size_t nonEmpty = 0;
    for (std::string_view piece : pieces) {
      Require(piece == vesk::trimBlanks(piece), "pieces are trimmed");
      nonEmpty += !piece.empty();
    }
    const auto syllables = vesk::parseReadings(text, delimiter);
    vesk::ReadingCache cache;
    Require(vesk::parseReadings(text, delimiter, cache) == syllables,
            "read through a cache as parsed afresh");
    Require(vesk::parseReadings(text, delimiter, cache) == syllables,
            "and again from what the cache holds");
    Require(syllables.size() <= nonEmpty, "at most one syllable per piece");
    for (const vesk::Syllable& s : syllables) {
      Require(!s.pinyin.empty(), "kept syllables have a spelling");
      Require(s.tone >= 0 && s.tone <= 4, "list tones 0..4");
    }
  }
  return 0;
}
