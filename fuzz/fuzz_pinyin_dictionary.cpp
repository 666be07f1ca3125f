// pinyin.txt loader: arbitrary file contents, then conversion of every
// character the file mentions.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "lexicon/pinyin_lexicon.h"
#include "platform/platform.h"

namespace {

std::u16string HanOf(const uint8_t* data, std::size_t size) {
  const std::u16string all = vesk::platform::Utf8ToUtf16(
      std::string_view(reinterpret_cast<const char*>(data), size));
  std::u16string han;
  for (char16_t c : all) {
    if (c >= 0x4E00 && c <= 0x9FFF) han += c;
  }
  return han;
}

void CheckSyllables(const std::vector<vesk::Syllable>& syllables) {
  for (const vesk::Syllable& s : syllables) {
    vesk::fuzz::Require(!s.pinyin.empty(), "syllables have a spelling");
    vesk::fuzz::Require(s.tone >= 0 && s.tone <= 4, "tone 0..4");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using vesk::fuzz::Require;
  static vesk::fuzz::MemoryFile file;
  file.Write(data, size);

  vesk::PinyinLexicon lexicon;
  const bool loaded = lexicon.loadCharDictionary(file.path());
  Require(loaded == (lexicon.charCount() > 0),
          "result tells whether it stored");
  const std::size_t count = lexicon.charCount();

  const std::u16string han = HanOf(data, size);
  const auto first = lexicon.convert(han);
  Require(first.size() <= han.size(), "at most one syllable per character");
  CheckSyllables(first);
  for (char16_t c : han) {
    if (const auto* readings = lexicon.findCharReadings(c)) {
      Require(!readings->empty(), "a stored character has a reading");
      CheckSyllables(*readings);
    }
  }

  // Loading the same file again changes nothing.
  Require(lexicon.loadCharDictionary(file.path()) == loaded, "reload result");
  Require(lexicon.charCount() == count, "reload count");
  Require(lexicon.convert(han) == first, "reload conversion");
  return 0;
}
