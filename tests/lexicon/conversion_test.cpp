#include <gtest/gtest.h>

#include <string>

#include "frontend/neutral_tone_lexicon.h"
#include "lexicon/lexicon_test_util.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk {
namespace {

using test::Convert;
using test::DictionaryFiles;
using test::Show;
using test::U16;

constexpr std::string_view kChars =
    "U+4E2D: zhōng,zhòng\n"
    "国: guó\n"
    "人: rén\n"
    "民: mín\n"
    "华: huá\n"
    "共: gòng\n"
    "和: hé,huo\n"
    "妈: mā\n"
    "好: hǎo,hào\n";

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(files.LoadChars(lexicon, kChars)); }

  PinyinLexicon lexicon;
  DictionaryFiles files;
};

TEST(NewLexicon, HoldsOnlyTheBuiltInWords) {
  PinyinLexicon lexicon;
  EXPECT_EQ(lexicon.phraseCount(), 104u);
  EXPECT_EQ(lexicon.maxPhraseLength(), 2u);
  EXPECT_EQ(lexicon.charCount(), 0u);
  EXPECT_EQ(Convert(lexicon, "妈妈"), "ma1 ma0");
  EXPECT_EQ(Convert(lexicon, "妈"), "");
}

TEST(NewLexicon, InstanceIsOneLexiconWithTheBuiltInWords) {
  PinyinLexicon& lexicon = PinyinLexicon::instance();
  EXPECT_EQ(&lexicon, &PinyinLexicon::instance());
  EXPECT_GE(lexicon.phraseCount(), 104u);
  EXPECT_GE(lexicon.maxPhraseLength(), 2u);
  EXPECT_EQ(Convert(lexicon, "我们"), "wo3 men0");
}

TEST(NewLexicon, ReadsEveryBuiltInWordInOneText) {
  PinyinLexicon lexicon;
  std::u16string text;
  std::vector<Syllable> expected;
  for (const auto& [word, reading] : NeutralToneLexicon()) {
    text += word;
    expected.insert(expected.end(), reading.begin(), reading.end());
  }
  ASSERT_EQ(expected.size(), 208u);
  EXPECT_EQ(Show(lexicon.convert(text)), Show(expected));
  // Separated by punctuation the words read the same.
  std::u16string separated;
  for (const auto& [word, reading] : NeutralToneLexicon()) {
    separated += word + u"，";
  }
  EXPECT_EQ(Show(lexicon.convert(separated)), Show(expected));
}

TEST_F(Conversion, TextWithoutCharactersOfTheBlockGivesNothing) {
  EXPECT_EQ(Convert(lexicon, ""), "");
  EXPECT_EQ(Convert(lexicon, "abc, 123"), "");
  EXPECT_EQ(Convert(lexicon, "\xE3\x80\x82\xEF\xBC\x8C"), "");  // 。，
  EXPECT_EQ(Convert(lexicon, "𠀀"), "");
}

TEST_F(Conversion, SingleCharactersUseTheirFirstReading) {
  EXPECT_EQ(Convert(lexicon, "中国人"), "zhong1 guo2 ren2");
  EXPECT_EQ(Convert(lexicon, "和"), "he2");
}

TEST_F(Conversion, OtherCodeUnitsAreSkippedSilently) {
  EXPECT_EQ(Convert(lexicon, "a中 1国,人"), "zhong1 guo2 ren2");
  std::u16string lone = u"中";
  lone += char16_t(0xD800);
  lone += u"国";
  EXPECT_EQ(Show(lexicon.convert(lone)), "zhong1 guo2");
}

TEST_F(Conversion, CharacterWithoutReadingGivesNothing) {
  EXPECT_EQ(Convert(lexicon, "中丐国"), "zhong1 guo2");
  EXPECT_EQ(Convert(lexicon, "丐"), "");
}

TEST_F(Conversion, LongestWordWins) {
  ASSERT_TRUE(files.LoadPhrases(lexicon,
                                "中华: zhōng huà\n"
                                "中华人民: zhōng huá rén mín\n"));
  EXPECT_EQ(Convert(lexicon, "中华人民"), "zhong1 hua2 ren2 min2");
  EXPECT_EQ(Convert(lexicon, "中华"), "zhong1 hua4");
  EXPECT_EQ(Convert(lexicon, "中华人"), "zhong1 hua4 ren2");
  EXPECT_EQ(Convert(lexicon, "国中华人民国"),
            "guo2 zhong1 hua2 ren2 min2 guo2");
}

TEST_F(Conversion, NoBacktrackingForABetterFollowingWord) {
  ASSERT_TRUE(files.LoadPhrases(lexicon,
                                "中华: zhōng huà\n"
                                "华人民: huā rēn mīn\n"));
  EXPECT_EQ(Convert(lexicon, "中华人民"), "zhong1 hua4 ren2 min2");
  EXPECT_EQ(Convert(lexicon, "华人民"), "hua1 ren1 min1");
}

TEST_F(Conversion, WordsAreSoughtOnlyAtCharactersOfTheBlock) {
  ASSERT_TRUE(files.LoadPhrases(lexicon,
                                "a中: ā zhòng\n"
                                "中a: zhòng ā\n"));
  // A window is looked up as it stands, other code units included.
  EXPECT_EQ(Convert(lexicon, "中a"), "zhong4 a1");
  EXPECT_EQ(Convert(lexicon, "a中"), "zhong1");
}

TEST_F(Conversion, WordsLongerThanTheRestOfTheTextAreNotMatched) {
  ASSERT_TRUE(files.LoadPhrases(
      lexicon, "中华人民共和国: zhōng huá rén mín gòng hé guó\n"));
  EXPECT_EQ(Convert(lexicon, "中华人民共和"),
            "zhong1 hua2 ren2 min2 gong4 he2");
  EXPECT_EQ(Convert(lexicon, "中华人民共和国"),
            "zhong1 hua2 ren2 min2 gong4 he2 guo2");
}

TEST_F(Conversion, VeryLongWordsBesideShorterOnesWithTheSamePrefix) {
  // Lengths on both sides of 63 code units, all starting with 中.
  auto word = [](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += i % 2 ? "国" : "中";
    return text;
  };
  std::string file;
  for (std::size_t length : {2, 61, 62, 63, 64, 70, 100}) {
    file += word(length) + ": w" + std::to_string(length) + "\n";
  }
  ASSERT_TRUE(files.LoadPhrases(lexicon, file));
  EXPECT_EQ(lexicon.maxPhraseLength(), 100u);
  for (std::size_t length : {2, 61, 62, 63, 64, 70, 100}) {
    EXPECT_EQ(Convert(lexicon, word(length)),
              "w" + std::to_string(length) + "0");
  }
  EXPECT_EQ(Convert(lexicon, word(65)), "w640 zhong1");
  std::string rest;
  for (int i = 0; i < 14; ++i) rest += " w20";
  EXPECT_EQ(Convert(lexicon, word(99)), "w700" + rest + " zhong1");
  EXPECT_EQ(Convert(lexicon, word(3)), "w20 zhong1");
}

TEST_F(Conversion, ConversionLeavesTheLexiconAsItIs) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "中国: zhōng guó\n"));
  const std::size_t words = lexicon.phraseCount();
  auto first = lexicon.convert(U16("中国好好"));
  first[0].pinyin = "changed";
  EXPECT_EQ(Convert(lexicon, "中国好好"), "zhong1 guo2 hao2 hao3");
  EXPECT_EQ(lexicon.phraseCount(), words);
  EXPECT_EQ(lexicon.charCount(), 9u);
}

}  // namespace
}  // namespace vesk
