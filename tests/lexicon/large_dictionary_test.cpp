// A dictionary of real size (200,000 words of 2 to 24 characters sharing
// prefixes), checked against a plain model of greedy longest matching.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <unordered_map>

#include "frontend/neutral_tone_lexicon.h"
#include "lexicon/lexicon_test_util.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk {
namespace {

using test::DictionaryFiles;
using test::Show;
using test::U8;

constexpr std::size_t kWords = 200'000;
constexpr std::size_t kLongest = 24;
constexpr std::size_t kAlphabet = 3000;
constexpr char16_t kFirstChar = 0x4E10;  // above 一 and 不

// Readings of tones 0, 1, 2 and 4 with made-up spellings: no sandhi rule can
// fire, so the model below needs only the segmentation.
constexpr const char* kToneMarks[] = {"a", "\xC4\x81", "\xC3\xA1", "\xC3\xA0"};

struct Model {
  std::map<std::u16string, std::vector<Syllable>, std::less<>> words;
  std::unordered_map<char16_t, Syllable> chars;
  std::size_t longest = 0;

  std::vector<Syllable> Convert(std::u16string_view text) const {
    std::vector<Syllable> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
      const char16_t unit = text[pos];
      if (unit < 0x4E00 || unit > 0x9FFF) {
        ++pos;
        continue;
      }
      bool matched = false;
      for (std::size_t w = std::min(longest, text.size() - pos); w >= 2; --w) {
        auto it = words.find(text.substr(pos, w));
        if (it != words.end()) {
          out.insert(out.end(), it->second.begin(), it->second.end());
          pos += w;
          matched = true;
          break;
        }
      }
      if (matched) continue;
      if (auto it = chars.find(unit); it != chars.end())
        out.push_back(it->second);
      ++pos;
    }
    return out;
  }
};

class LargeDictionary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::mt19937 random(20261209);
    auto pick = [&](std::size_t n) {
      return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    model = new Model;
    for (const auto& [word, reading] : NeutralToneLexicon()) {
      model->words[word] = reading;
    }
    model->longest = 2;

    // Characters: every seventh one has no reading.
    std::string charFile = "# synthetic\n";
    for (std::size_t i = 0; i < kAlphabet; ++i) {
      if (i % 7 == 3) continue;
      const char16_t c = char16_t(kFirstChar + i);
      const std::size_t tone = pick(4);
      charFile += "U+" + ToHex(c) + ": c" + std::to_string(i) +
                  kToneMarks[tone] + ",x\n";
      model->chars[c] = Syllable{"c" + std::to_string(i) + "a",
                                 int32_t(tone == 3 ? 4 : tone)};
    }

    // Words: families of prefixes of one random stem, so most positions
    // see many candidate lengths.
    std::vector<std::u16string> lines;
    while (lines.size() < kWords) {
      std::u16string stem;
      for (std::size_t i = 0; i < kLongest; ++i) {
        stem += char16_t(kFirstChar + pick(kAlphabet));
      }
      stems.push_back(stem);
      for (std::size_t n = 0; n < 8 && lines.size() < kWords; ++n) {
        lines.push_back(stem.substr(0, 2 + pick(kLongest - 1)));
      }
    }
    std::shuffle(lines.begin(), lines.end(), random);
    // A few hundred words again at the end with new readings: the last wins.
    for (std::size_t i = 0; i < 500; ++i) lines.push_back(lines[pick(kWords)]);

    std::string phraseFile;
    phraseFile.reserve(lines.size() * 64);
    for (std::size_t id = 0; id < lines.size(); ++id) {
      const std::size_t tone = pick(4);
      phraseFile += U8(lines[id]) + ": w" + std::to_string(id) + " x" +
                    kToneMarks[tone] + "\n";
      model->words[lines[id]] = {Syllable{"w" + std::to_string(id), 0},
                                 Syllable{"xa", int32_t(tone == 3 ? 4 : tone)}};
      model->longest = std::max(model->longest, lines[id].size());
    }

    files = new DictionaryFiles;
    lexicon = new PinyinLexicon;
    ASSERT_TRUE(files->LoadChars(*lexicon, charFile));
    ASSERT_TRUE(files->LoadPhrases(*lexicon, phraseFile));
  }

  static void TearDownTestSuite() {
    delete lexicon;
    delete files;
    delete model;
    stems.clear();
  }

  static std::string ToHex(char16_t c) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (int shift = 12; shift >= 0; shift -= 4)
      hex += digits[(c >> shift) & 15];
    return hex;
  }

  // Text of random pieces: whole stems, prefixes that may or may not be
  // words, random characters, and now and then punctuation.
  static std::u16string RandomText(std::mt19937& random, std::size_t pieces) {
    auto pick = [&](std::size_t n) {
      return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::u16string text;
    for (std::size_t i = 0; i < pieces; ++i) {
      switch (pick(5)) {
        case 0:
          text += stems[pick(stems.size())];
          break;
        case 1:
        case 2:
          text += stems[pick(stems.size())].substr(0, 1 + pick(kLongest));
          break;
        case 3:
          for (std::size_t n = 1 + pick(4); n > 0; --n) {
            text += char16_t(kFirstChar + pick(kAlphabet));
          }
          break;
        default:
          text += pick(2) ? u"，" : u" a1 ";
      }
    }
    return text;
  }

  static inline Model* model = nullptr;
  static inline DictionaryFiles* files = nullptr;
  static inline PinyinLexicon* lexicon = nullptr;
  static inline std::vector<std::u16string> stems;
};

TEST_F(LargeDictionary, CountsAndLongestLength) {
  EXPECT_EQ(lexicon->phraseCount(), model->words.size());
  EXPECT_GT(lexicon->phraseCount(), kWords / 2);
  EXPECT_EQ(lexicon->maxPhraseLength(), kLongest);
  EXPECT_EQ(lexicon->charCount(), model->chars.size());
}

TEST_F(LargeDictionary, EveryStoredWordHasTheLastReadingOfTheFile) {
  std::size_t checked = 0;
  for (const auto& [word, reading] : model->words) {
    const auto* stored = lexicon->findPhraseReadings(word);
    ASSERT_NE(stored, nullptr) << U8(word);
    ASSERT_EQ(*stored, reading) << U8(word);
    ++checked;
  }
  EXPECT_EQ(checked, lexicon->phraseCount());
}

TEST_F(LargeDictionary, WordsAloneReadAsThemselves) {
  std::size_t id = 0;
  for (const auto& [word, reading] : model->words) {
    if (id++ % 8) continue;
    ASSERT_EQ(lexicon->convert(word), reading) << U8(word);
  }
}

TEST_F(LargeDictionary, ConversionMatchesGreedyLongestMatch) {
  std::mt19937 random(7);
  const std::u16string text = RandomText(random, 4000);
  ASSERT_GT(text.size(), 20'000u);
  const auto expected = model->Convert(text);
  const auto actual = lexicon->convert(text);
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(actual[i], expected[i]) << "syllable " << i;
  }
}

TEST_F(LargeDictionary, ReloadingOverALoadedLexiconKeepsEverything) {
  PinyinLexicon fresh;
  DictionaryFiles more;
  ASSERT_TRUE(more.LoadPhrases(fresh, "中国: zhōng guó\n"));
  // The big file over a lexicon that already holds other words.
  std::string phraseFile;
  std::size_t id = 0;
  for (const auto& [word, reading] : model->words) {
    if (id++ % 8) continue;
    phraseFile += U8(word) + ": " + reading[0].pinyin + "\n";
  }
  ASSERT_TRUE(more.LoadPhrases(fresh, phraseFile));
  EXPECT_EQ(Show(fresh.findPhraseReadings(u"中国")), "zhong1 guo2");
  EXPECT_EQ(fresh.maxPhraseLength(), kLongest);
  id = 0;
  for (const auto& [word, reading] : model->words) {
    if (id++ % 8) continue;
    const auto converted = fresh.convert(word);
    ASSERT_EQ(converted.size(), 1u) << U8(word);
    ASSERT_EQ(converted[0].pinyin, reading[0].pinyin) << U8(word);
  }
}

}  // namespace
}  // namespace vesk
