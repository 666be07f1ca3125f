// Loading phrases.txt: one word and the readings of its syllables per line.
#include <algorithm>

#include "lexicon/dictionary_file.h"
#include "lexicon/pinyin_lexicon.h"
#include "platform/platform.h"

namespace vesk {

namespace {

struct PendingWord {
  std::u16string word;
  std::vector<Syllable> reading;
};

}  // namespace

bool PinyinLexicon::loadPhraseDictionary(const std::u16string& path) {
  const std::optional<std::string> content = readDictionaryFile(path);
  if (!content) return false;

  std::vector<PendingWord> pending;
  pending.reserve(countLines(*content));
  bool sorted = true;
  forEachEntryLine(*content, [&](std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    // Blanks before the colon belong to the word.
    std::u16string word = platform::Utf8ToUtf16(line.substr(0, colon));
    const std::string_view readings = trimBlanks(line.substr(colon + 1));
    if (word.empty() || readings.empty()) return;
    Reading reading = parseReadings(readings, ' ');
    if (reading.empty()) return;
    // The key lives as long as the lexicon: no spare capacity, and short
    // words back inside the string itself.
    word.shrink_to_fit();
    if (!pending.empty() && word < pending.back().word) sorted = false;
    pending.push_back({std::move(word), std::move(reading)});
  });
  if (pending.empty()) return false;

  // Stored in key order, each word right after the one before costs no tree
  // search. A stable sort keeps lines for the same word in file order, so
  // the last one still wins.
  if (!sorted) {
    std::stable_sort(pending.begin(), pending.end(),
                     [](const PendingWord& a, const PendingWord& b) {
                       return a.word < b.word;
                     });
  }
  // Each new word adds at least one index edge; shared prefixes make the
  // total hard to know before, so the table still grows as it must.
  reserveWordIndex(pending.size());
  auto hint = phraseReadings_.cend();
  for (PendingWord& entry : pending) {
    if (hint != phraseReadings_.cend() && hint->first < entry.word) {
      hint = phraseReadings_.lower_bound(entry.word);
    }
    hint = std::next(
        storePhrase(hint, std::move(entry.word), std::move(entry.reading)));
  }
  return true;
}

}  // namespace vesk
