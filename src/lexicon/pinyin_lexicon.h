// The lexicon: character and word readings, and text-to-pinyin conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory_resource>
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
  // Frees the process-wide lexicon; for library unload, once no thread can
  // read it any more.
  static void releaseInstance();

  // A fresh lexicon holding only the built-in words (tests, tools).
  PinyinLexicon();
  // The word index points into the maps, so a lexicon is never copied.
  PinyinLexicon(const PinyinLexicon&) = delete;
  PinyinLexicon& operator=(const PinyinLexicon&) = delete;

  bool loadCharDictionary(const std::u16string& path);
  bool loadPhraseDictionary(const std::u16string& path);

  std::size_t charCount() const;
  std::size_t phraseCount() const;
  std::size_t maxPhraseLength() const;

  // All stored readings of a character code or a word, or nullptr.
  const std::vector<Syllable>* findCharReadings(uint32_t code) const;
  const std::vector<Syllable>* findPhraseReadings(
      std::u16string_view word) const;

  // Greedy longest-word conversion of text, then tone sandhi.
  std::vector<Syllable> convert(std::u16string_view text) const;

  // Tone changes of third tones, bu and yi, applied in place.
  static void applyToneSandhi(std::u16string_view text,
                              std::vector<Syllable>& syllables);

 private:
  using Reading = std::vector<Syllable>;
  using WordMap = std::pmr::map<std::u16string, Reading, std::less<>>;

  // One step of the word index: from a node (a prefix of some stored word)
  // by the next code unit to the node of the longer prefix, with the
  // syllables of the word that ends there, if that prefix is a word.
  struct Edge {
    uint32_t parent = 0;  // 0: free slot
    uint32_t child = 0;
    const Syllable* syllables = nullptr;  // into phraseReadings_
    uint32_t syllableCount = 0;
    char16_t unit = 0;
  };

  void storeChar(uint32_t code, Reading reading);
  WordMap::iterator storePhrase(WordMap::const_iterator hint,
                                std::u16string word, Reading reading);
  void indexWord(std::u16string_view word, const Reading* reading);
  void reserveWordIndex(std::size_t moreEdges);
  void rehashEdges(std::size_t capacity);
  static constexpr std::size_t kNoEdge = SIZE_MAX;
  // The slot of an edge in edges_, or kNoEdge.
  std::size_t findEdge(uint32_t parent, char16_t unit) const;
  Edge& addEdge(uint32_t parent, char16_t unit);
  const Edge* longestWordAt(std::u16string_view text, std::size_t pos,
                            std::size_t& length) const;

  // The nodes of both maps, some 42,000 for the shipped files, are never
  // freed before the lexicon: they come from one growing arena, a pointer
  // bump each instead of a heap allocation, and go with it all at once.
  std::pmr::monotonic_buffer_resource mapNodes_{std::size_t(64) << 10};
  std::pmr::unordered_map<uint32_t, Reading> charReadings_{&mapNodes_};
  // std::less<> lets lookups take a u16string_view window of the text.
  WordMap phraseReadings_{&mapNodes_};
  std::size_t maxPhraseLength_ = 0;

  // Fast paths beside the two maps, which stay the source of truth. They
  // point at the stored syllable vectors; entries are never removed and map
  // nodes never move, and storing over an entry points them at its new
  // vector.
  //
  // Per character of U+4E00..U+9FFF: its first reading and the index node of
  // the one-character prefix (0: no word of two or more starts with it).
  struct HanEntry {
    const Syllable* reading = nullptr;  // into charReadings_
    uint32_t wordNode = 0;
  };
  std::vector<HanEntry> han_;
  // The words that conversion can match (two or more code units, the first
  // in the block) as a trie whose edges lie in an open-addressing table: one
  // probe, mostly one cache line, tells whether the window grown by one unit
  // still leads to a word. Syllables point straight at the stored vectors,
  // so copying a word's reading touches no map node.
  std::vector<Edge> edges_;
  std::size_t edgeCount_ = 0;
  uint32_t nodeCount_ = 0;
};

}  // namespace vesk
