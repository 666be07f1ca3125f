// Helpers for the lexicon tests: dictionary files in a temporary directory and
// a compact spelling of syllable sequences.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frontend/syllable.h"
#include "lexicon/pinyin_lexicon.h"
#include "support/test_files.h"

namespace vesk::test {

// "zhong1 guo2": each syllable's pinyin and tone, separated by blanks.
inline std::string Show(const std::vector<Syllable>& syllables) {
  std::string text;
  for (const Syllable& syllable : syllables) {
    if (!text.empty()) text += ' ';
    text += syllable.pinyin + std::to_string(syllable.tone);
  }
  return text;
}

inline std::string Show(const std::vector<Syllable>* syllables) {
  return syllables ? Show(*syllables) : "<none>";
}

// Dictionary files written on demand into one temporary directory.
class DictionaryFiles {
 public:
  std::u16string Write(const std::string& name, std::string_view bytes) {
    return U16(dir_.Write(name, bytes).string());
  }
  bool LoadChars(PinyinLexicon& lexicon, std::string_view bytes) {
    return lexicon.loadCharDictionary(Write("pinyin.txt", bytes));
  }
  bool LoadPhrases(PinyinLexicon& lexicon, std::string_view bytes) {
    return lexicon.loadPhraseDictionary(Write("phrases.txt", bytes));
  }
  std::u16string Missing() const {
    return U16((dir_.path() / "absent.txt").string());
  }

 private:
  TempDir dir_;
};

// Converts UTF-8 text and shows the result.
inline std::string Convert(const PinyinLexicon& lexicon,
                           std::string_view text) {
  return Show(lexicon.convert(U16(text)));
}

}  // namespace vesk::test
