// Conversion of arbitrary UTF-16 text (lone surrogates, NUL, any block) with
// a small loaded dictionary.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "lexicon/pinyin_lexicon.h"

namespace {

using namespace std::literals;

// Characters of the small dictionaries and their neighbours, so that mapped
// input meets words, sandhi characters and unknown characters often.
constexpr std::u16string_view kAlphabet =
    u"中国人我们你好很是的了天气说话语音不一二三十百千万亿两水果老虎"
    u"丁丂七丄龥鿿\u4DFF\uA000a1 ，。\xD800\xDC00\uFFFD\0"sv;

const vesk::PinyinLexicon& Lexicon() {
  static const vesk::PinyinLexicon* lexicon = [] {
    auto* made = new vesk::PinyinLexicon;
    vesk::fuzz::MemoryFile chars, phrases;
    chars.Write(vesk::fuzz::SmallCharDictionary());
    phrases.Write(vesk::fuzz::SmallPhraseDictionary());
    vesk::fuzz::Require(made->loadCharDictionary(chars.path()), "chars");
    vesk::fuzz::Require(made->loadPhraseDictionary(phrases.path()), "phrases");
    return made;
  }();
  return *lexicon;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using vesk::fuzz::Require;
  if (size == 0) return 0;
  std::u16string text;
  if (data[0] & 1) {
    for (std::size_t i = 1; i < size; ++i)
      text += kAlphabet[data[i] % kAlphabet.size()];
  } else {
    text = vesk::fuzz::BytesToUtf16(data + 1, size - 1);
  }
  std::size_t han = 0;
  for (char16_t c : text) han += c >= 0x4E00 && c <= 0x9FFF;

  const auto syllables = Lexicon().convert(text);
  Require(syllables.size() <= han,
          "no word here reads more syllables than characters");
  for (const vesk::Syllable& s : syllables) {
    Require(!s.pinyin.empty(), "syllables have a spelling");
    Require(s.tone >= 0 && s.tone <= 4, "tone 0..4");
  }
  Require(Lexicon().convert(text) == syllables, "conversion is deterministic");
  return 0;
}
