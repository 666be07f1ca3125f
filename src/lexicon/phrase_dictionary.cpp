// Loading phrases.txt: one word and the readings of its syllables per line.
#include <iterator>

#include "lexicon/dictionary_file.h"
#include "lexicon/pinyin_lexicon.h"
#include "platform/platform.h"

namespace vesk {

bool PinyinLexicon::loadPhraseDictionary(const std::u16string& path) {
  const std::optional<std::string> content = readDictionaryFile(path);
  if (!content) return false;
  ReadingCache cache;  // its keys point into content

  // Each new word adds at least one index edge; shared prefixes make the
  // total hard to know before, so the table still grows as it must.
  reserveWordIndex(countLines(*content));
  // Words go straight into the map, in file order, so for a word on several
  // lines the last one wins. In a file sorted by key each word lands right
  // after the one before, and the hint spares the tree search; a file out of
  // order only pays the search.
  auto hint = phraseReadings_.cend();
  std::size_t stored = 0;
  forEachEntryLine(*content, [&](std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    // Blanks before the colon belong to the word.
    std::u16string word = platform::Utf8ToUtf16(line.substr(0, colon));
    const std::string_view readings = trimBlanks(line.substr(colon + 1));
    if (word.empty() || readings.empty()) return;
    Reading reading = parseReadings(readings, ' ', cache);
    if (reading.empty()) return;
    // The key lives as long as the lexicon: no spare capacity, and short
    // words back inside the string itself.
    word.shrink_to_fit();
    if (hint != phraseReadings_.cend() && hint->first < word) {
      hint = phraseReadings_.lower_bound(word);
    }
    hint = std::next(storePhrase(hint, std::move(word), std::move(reading)));
    ++stored;
  });
  return stored > 0;
}

}  // namespace vesk
