// phrases.txt loader: arbitrary file contents, then conversion of the text of
// the file itself, so its words are looked for.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "lexicon/pinyin_lexicon.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using vesk::fuzz::Require;
  static vesk::fuzz::MemoryFile charFile;
  static const bool charsWritten =
      (charFile.Write(vesk::fuzz::SmallCharDictionary()), true);
  (void)charsWritten;
  static vesk::fuzz::MemoryFile file;
  file.Write(data, size);

  vesk::PinyinLexicon lexicon;
  Require(lexicon.loadCharDictionary(charFile.path()), "small dictionary");
  const std::size_t builtIn = lexicon.phraseCount();
  const std::size_t builtInLongest = lexicon.maxPhraseLength();
  const bool loaded = lexicon.loadPhraseDictionary(file.path());
  const std::size_t count = lexicon.phraseCount();
  const std::size_t longest = lexicon.maxPhraseLength();
  Require(count >= builtIn, "words are only added or replaced");
  Require(longest >= builtInLongest, "longest word never falls");
  Require(loaded || count == builtIn, "nothing stored without success");

  const std::u16string text = vesk::platform::Utf8ToUtf16(
      std::string_view(reinterpret_cast<const char*>(data), size));
  const auto first = lexicon.convert(text);
  for (const vesk::Syllable& s : first) {
    Require(!s.pinyin.empty(), "syllables have a spelling");
    Require(s.tone >= 0 && s.tone <= 4, "tone 0..4");
  }

  Require(lexicon.loadPhraseDictionary(file.path()) == loaded, "reload result");
  Require(lexicon.phraseCount() == count, "reload count");
  Require(lexicon.maxPhraseLength() == longest, "reload longest word");
  Require(lexicon.convert(text) == first, "reload conversion");
  return 0;
}
