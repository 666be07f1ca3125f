#include "lexicon/pinyin_lexicon.h"

#include <algorithm>

#include "frontend/neutral_tone_lexicon.h"
#include "frontend/text_runs.h"

namespace vesk {

namespace {

constexpr char16_t kBu = u'不';
constexpr char16_t kYi = u'一';
constexpr std::size_t kMinEdgeSlots = 1024;
// Linear probing stays short while the table is at most 60% full.
constexpr std::size_t kMaxLoadTenths = 6;

std::size_t EdgeSlot(uint32_t parent, char16_t unit, std::size_t mask) {
  const uint64_t key = (uint64_t(parent) << 16) | unit;
  return std::size_t((key * 0x9E3779B97F4A7C15ULL) >> 32) & mask;
}

}  // namespace

namespace {
// Created by the first Initialize; released only when the library unloads
// with no worker left that could read it.
PinyinLexicon* processLexicon = nullptr;
}  // namespace

PinyinLexicon& PinyinLexicon::instance() {
  if (processLexicon == nullptr) processLexicon = new PinyinLexicon();
  return *processLexicon;
}

void PinyinLexicon::releaseInstance() {
  delete processLexicon;
  processLexicon = nullptr;
}

PinyinLexicon::PinyinLexicon() : han_(kHanLast - kHanFirst + 1) {
  const auto& builtIn = NeutralToneLexicon();
  auto hint = phraseReadings_.cend();
  for (const auto& [word, reading] : builtIn) {
    hint = std::next(storePhrase(hint, word, reading));
  }
}

std::size_t PinyinLexicon::charCount() const { return charReadings_.size(); }

std::size_t PinyinLexicon::phraseCount() const {
  return phraseReadings_.size();
}

std::size_t PinyinLexicon::maxPhraseLength() const { return maxPhraseLength_; }

const std::vector<Syllable>* PinyinLexicon::findCharReadings(
    uint32_t code) const {
  auto it = charReadings_.find(code);
  return it == charReadings_.end() ? nullptr : &it->second;
}

const std::vector<Syllable>* PinyinLexicon::findPhraseReadings(
    std::u16string_view word) const {
  auto it = phraseReadings_.find(word);
  return it == phraseReadings_.end() ? nullptr : &it->second;
}

void PinyinLexicon::storeChar(uint32_t code, Reading reading) {
  auto [it, inserted] =
      charReadings_.insert_or_assign(code, std::move(reading));
  if (code >= kHanFirst && code <= kHanLast) {
    han_[code - kHanFirst].reading =
        it->second.empty() ? nullptr : it->second.data();
  }
}

PinyinLexicon::WordMap::iterator PinyinLexicon::storePhrase(
    WordMap::const_iterator hint, std::u16string word, Reading reading) {
  // With a good hint (files in sorted order) no tree search is needed.
  auto it = phraseReadings_.insert_or_assign(hint, std::move(word),
                                             std::move(reading));
  const std::u16string& key = it->first;
  maxPhraseLength_ = std::max(maxPhraseLength_, key.size());
  // Conversion seeks words only at characters of the block and never reads
  // a one-character word, so only longer words are indexed. A replaced
  // entry has new syllables, so the index is updated for it as well.
  if (key.size() >= 2 && IsHan(key[0])) indexWord(key, &it->second);
  return it;
}

void PinyinLexicon::reserveWordIndex(std::size_t moreEdges) {
  std::size_t capacity = kMinEdgeSlots;
  while (capacity * kMaxLoadTenths < (edgeCount_ + moreEdges) * 10) {
    capacity *= 2;
  }
  if (capacity > edges_.size()) rehashEdges(capacity);
}

void PinyinLexicon::rehashEdges(std::size_t capacity) {
  std::vector<Edge> old(capacity);
  old.swap(edges_);
  const std::size_t mask = edges_.size() - 1;
  for (const Edge& edge : old) {
    if (edge.parent == 0) continue;
    std::size_t slot = EdgeSlot(edge.parent, edge.unit, mask);
    while (edges_[slot].parent != 0) slot = (slot + 1) & mask;
    edges_[slot] = edge;
  }
}

std::size_t PinyinLexicon::findEdge(uint32_t parent, char16_t unit) const {
  if (edges_.empty()) return kNoEdge;
  const std::size_t mask = edges_.size() - 1;
  // The table always has free slots, and a free slot ends every search.
  for (std::size_t slot = EdgeSlot(parent, unit, mask);;
       slot = (slot + 1) & mask) {
    const Edge& edge = edges_[slot];
    if (edge.parent == parent && edge.unit == unit) return slot;
    if (edge.parent == 0) return kNoEdge;
  }
}

PinyinLexicon::Edge& PinyinLexicon::addEdge(uint32_t parent, char16_t unit) {
  if (edges_.size() * kMaxLoadTenths < (edgeCount_ + 1) * 10) {
    rehashEdges(std::max(kMinEdgeSlots, 2 * edges_.size()));
  }
  const std::size_t mask = edges_.size() - 1;
  std::size_t slot = EdgeSlot(parent, unit, mask);
  while (edges_[slot].parent != 0) slot = (slot + 1) & mask;
  ++edgeCount_;
  edges_[slot] = Edge{parent, ++nodeCount_, nullptr, 0, unit};
  return edges_[slot];
}

void PinyinLexicon::indexWord(std::u16string_view word,
                              const Reading* reading) {
  uint32_t& root = han_[word[0] - kHanFirst].wordNode;
  if (root == 0) root = ++nodeCount_;
  uint32_t node = root;
  Edge* edge = nullptr;
  for (std::size_t i = 1; i < word.size(); ++i) {
    const std::size_t slot = findEdge(node, word[i]);
    edge = slot != kNoEdge ? &edges_[slot] : &addEdge(node, word[i]);
    node = edge->child;
  }
  edge->syllables = reading->data();
  edge->syllableCount = uint32_t(reading->size());
}

const PinyinLexicon::Edge* PinyinLexicon::longestWordAt(
    std::u16string_view text, std::size_t pos, std::size_t& length) const {
  const std::size_t limit = std::min(maxPhraseLength_, text.size() - pos);
  if (limit < 2) return nullptr;
  uint32_t node = han_[text[pos] - kHanFirst].wordNode;
  const Edge* longest = nullptr;
  // Grows the window while it is still the prefix of some word; the last
  // window that is a word itself is the longest match.
  for (std::size_t w = 2; node != 0 && w <= limit; ++w) {
    const std::size_t slot = findEdge(node, text[pos + w - 1]);
    if (slot == kNoEdge) break;
    const Edge* edge = &edges_[slot];
    if (edge->syllables != nullptr) {
      longest = edge;
      length = w;
    }
    node = edge->child;
  }
  return longest;
}

std::vector<Syllable> PinyinLexicon::convert(std::u16string_view text) const {
  std::vector<Syllable> result;
  result.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char16_t unit = text[pos];
    if (!IsHan(unit)) {
      ++pos;
      continue;
    }
    std::size_t length = 0;
    if (const Edge* word = longestWordAt(text, pos, length)) {
      result.insert(result.end(), word->syllables,
                    word->syllables + word->syllableCount);
      pos += length;
      continue;
    }
    if (const Syllable* reading = han_[unit - kHanFirst].reading) {
      result.push_back(*reading);
    }
    ++pos;
  }
  applyToneSandhi(text, result);
  return result;
}

void PinyinLexicon::applyToneSandhi(std::u16string_view text,
                                    std::vector<Syllable>& syllables) {
  // Syllable k belongs to the k-th character of the block in text, whether or
  // not that character produced it.
  std::size_t cursor = 0;
  auto nextHan = [&]() -> char16_t {
    while (cursor < text.size()) {
      const char16_t unit = text[cursor++];
      if (IsHan(unit)) return unit;
    }
    return 0;
  };
  const std::size_t count = syllables.size();
  for (std::size_t k = 0; k < count; ++k) {
    const char16_t linked = nextHan();
    Syllable& current = syllables[k];
    // Always the dictionary tone: syllable k+1 is changed only at step k+1.
    const bool hasNext = k + 1 < count;
    const int32_t nextTone = hasNext ? syllables[k + 1].tone : 0;

    if (hasNext && current.tone == 3 && nextTone == 3) current.tone = 2;
    if (linked == kBu && current.pinyin == "bu") {
      current.tone = (hasNext && nextTone == 4) ? 2 : 4;
    }
    if (linked == kYi && current.pinyin == "yi" && hasNext) {
      if (nextTone >= 1 && nextTone <= 3) {
        current.tone = 4;
      } else if (nextTone == 4) {
        current.tone = 2;
      }
    }
  }
}

}  // namespace vesk
