// The engine's walk of a text: what it says, in order, before any voice is
// asked for a unit. The worker plays these items; vesk-pinyin prints them.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "frontend/syllable.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk {

struct SpokenItem {
  enum class Kind {
    kCharacterSyllable,  // of a Chinese character: another tone may stand in
    kNumberSyllable,     // of a number or a digit: its own tone only
    kLetter,             // an ASCII letter, spelled by its name
    kPause,              // a sentence mark
  };
  Kind kind = Kind::kPause;
  Syllable syllable;  // the syllables' kinds; may be empty (no reading)
  char letter = 0;    // kLetter: 'a'..'z'

  friend bool operator==(const SpokenItem&, const SpokenItem&) = default;
};

// Appends the items of the run of text that begins at start (runs as
// frontend/text_runs.h divides them) and returns where the run ends: a
// Chinese run through the lexicon with its sandhi, a digit run read as a
// number (digit by digit when too long for one), letters one by one, a
// pause for a sentence mark, nothing for anything else.
std::size_t WalkRun(std::u16string_view text, std::size_t start,
                    const PinyinLexicon& lexicon, std::vector<SpokenItem>& out);

// Every item the engine says for text, in order.
std::vector<SpokenItem> WalkText(std::u16string_view text,
                                 const PinyinLexicon& lexicon);

}  // namespace vesk
