// What vesk-pinyin does, apart from its command line: the engine's reading
// of text as tone-digit pinyin, the engine's sandhi over given syllables, and
// a check of dictionary files against the engine's syllable parsing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/syllable.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk::tool {

// "zhong1", "de0": spelling and tone digit (0 for the neutral tone).
std::string FormatSyllable(const Syllable& syllable);
std::string FormatSyllables(const std::vector<Syllable>& syllables);

// "zhong1" -> zhong, 1; nullopt unless the piece ends in one digit 0..5
// (5 is read as the neutral tone too) after a non-empty spelling.
std::optional<Syllable> ParseToneDigitSyllable(std::string_view piece);

// The syllables of the Chinese runs of one line, as the engine reads them
// (sandhi stays inside a run); everything else is left out.
std::vector<Syllable> ReadLine(const PinyinLexicon& lexicon,
                               std::u16string_view line);

// Everything the engine says for one line, in order (the engine's own walk,
// worker/text_walk.h): the syllables of its Chinese runs and of its digit
// runs (read as numbers, or digit by digit when too long), "-" for a
// character without a reading, the letters it spells (upper case) and ","
// for each pause of a sentence mark. Other characters are silent and give
// nothing.
std::string SpokenLine(const PinyinLexicon& lexicon, std::u16string_view line);

// Applies the engine's sandhi to tone-digit syllables spoken for text, run
// by run as the engine does: the syllables are handed out to the Han runs of
// text in order, one per character. Returns nullopt when a piece is not a
// tone-digit syllable or the counts differ.
std::optional<std::vector<Syllable>> SandhiForText(
    std::u16string_view text, const std::vector<std::string_view>& pieces);

// One reading the engine would skip as unspeakable.
struct DictionaryProblem {
  std::size_t line = 0;
  std::string reading;
};

struct DictionaryCheck {
  bool opened = false;
  std::size_t entries = 0;   // lines that stored something
  std::size_t readings = 0;  // readings parsed
  std::vector<DictionaryProblem> problems;
};

// Parses a pinyin.txt or phrases.txt file with the engine's reading notation
// and reports every reading that is empty after parsing or has no unit index
// in any tone the reading names.
DictionaryCheck CheckDictionaryFile(const std::u16string& path,
                                    bool phraseFile);

}  // namespace vesk::tool
