// The lexicon: character and word readings, and text-to-pinyin conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "frontend/syllable.h"

namespace vesk {

class PinyinLexicon {
 public:
  // The process-wide lexicon, created on first call (from Initialize, before
  // any worker exists) and never destroyed.
  static PinyinLexicon& instance();

  // A fresh lexicon holding only the built-in words (tests, tools).
  PinyinLexicon();

  bool loadCharDictionary(const std::u16string& path);
  bool loadPhraseDictionary(const std::u16string& path);

  std::size_t charCount() const;
  std::size_t phraseCount() const;
  std::size_t maxPhraseLength() const;

  // Greedy longest-word conversion of text, then tone sandhi.
  std::vector<Syllable> convert(std::u16string_view text) const;

  // Tone changes of third tones, bu and yi, applied in place.
  static void applyToneSandhi(std::u16string_view text,
                              std::vector<Syllable>& syllables);

 private:
  std::unordered_map<uint32_t, std::vector<Syllable>> charReadings_;
  // std::less<> lets lookups take a u16string_view window of the text.
  std::map<std::u16string, std::vector<Syllable>, std::less<>> phraseReadings_;
  std::size_t maxPhraseLength_ = 0;
};

}  // namespace vesk
