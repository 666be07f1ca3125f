#include <gtest/gtest.h>

#include "frontend/neutral_tone_lexicon.h"
#include "lexicon/lexicon_test_util.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk {
namespace {

using test::Convert;
using test::DictionaryFiles;
using test::Show;
using test::U16;

class PhraseDictionary : public ::testing::Test {
 protected:
  PinyinLexicon lexicon;
  DictionaryFiles files;
  const std::size_t builtIn = NeutralToneLexicon().size();

  std::string Readings(std::string_view word) {
    return Show(lexicon.findPhraseReadings(U16(word)));
  }
};

TEST_F(PhraseDictionary, WordWithSpaceSeparatedReadings) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "中国: zhōng guó\n"));
  EXPECT_EQ(Readings("中国"), "zhong1 guo2");
  EXPECT_EQ(lexicon.phraseCount(), builtIn + 1);
  EXPECT_GE(lexicon.maxPhraseLength(), 2u);
}

TEST_F(PhraseDictionary, BlankBeforeColonIsPartOfTheWord) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "中国 : zhōng guó\n"));
  EXPECT_EQ(Readings("中国 "), "zhong1 guo2");
  EXPECT_EQ(Readings("中国"), "<none>");
  EXPECT_EQ(lexicon.maxPhraseLength(), 3u);
  EXPECT_EQ(Convert(lexicon, "中国"), "");
  EXPECT_EQ(Convert(lexicon, "中国 人"), "zhong1 guo2");
}

TEST_F(PhraseDictionary, RunsOfSpacesSeparateOnceAndTabsDoNot) {
  ASSERT_TRUE(files.LoadPhrases(lexicon,
                                "中国:zhōng  guó\n"
                                "你好: nǐ\thǎo\n"));
  EXPECT_EQ(Readings("中国"), "zhong1 guo2");
  const auto* tabbed = lexicon.findPhraseReadings(U16("你好"));
  ASSERT_NE(tabbed, nullptr);
  EXPECT_EQ(*tabbed, (std::vector<Syllable>{{"ni\thao", 3}}));
}

TEST_F(PhraseDictionary, HashAfterColonIsOneMoreReading) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "中国: zhōng guó # note\n"));
  EXPECT_EQ(Readings("中国"), "zhong1 guo2 #0 note0");
}

TEST_F(PhraseDictionary, FileReadingReplacesBuiltInWord) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "东西: dōng xī\n"));
  EXPECT_EQ(lexicon.phraseCount(), builtIn);
  EXPECT_EQ(Readings("东西"), "dong1 xi1");
  EXPECT_EQ(Convert(lexicon, "东西"), "dong1 xi1");
  EXPECT_EQ(Convert(lexicon, "妈妈"), "ma1 ma0");
  for (const auto& [word, reading] : NeutralToneLexicon()) {
    if (word == U16("东西")) continue;
    EXPECT_EQ(Show(lexicon.findPhraseReadings(word)), Show(reading));
  }
}

TEST_F(PhraseDictionary, OneCharacterWordIsStoredButNeverRead) {
  ASSERT_TRUE(files.LoadChars(lexicon, "U+4E2D: zhōng\n"));
  ASSERT_TRUE(files.LoadPhrases(lexicon, "中: zhòng\n"));
  EXPECT_EQ(lexicon.phraseCount(), builtIn + 1);
  EXPECT_EQ(Readings("中"), "zhong4");
  EXPECT_EQ(Convert(lexicon, "中"), "zhong1");
}

TEST_F(PhraseDictionary, MalformedLinesAreSkipped) {
  ASSERT_TRUE(files.LoadPhrases(lexicon,
                                "中国 zhōng guó\n"
                                "中国:\n"
                                "中国:   \n"
                                ": zhōng guó\n"
                                "# 中国: zhōng guó\n"
                                "人民: rén mín\n"));
  EXPECT_EQ(lexicon.phraseCount(), builtIn + 1);
  EXPECT_EQ(Readings("人民"), "ren2 min2");
  EXPECT_EQ(Readings("中国"), "<none>");
}

TEST_F(PhraseDictionary, OnlyCommentsLoadNothing) {
  EXPECT_FALSE(files.LoadPhrases(lexicon, "# words\n#中国: zhōng guó\n\n"));
  EXPECT_FALSE(lexicon.loadPhraseDictionary(files.Missing()));
  EXPECT_EQ(lexicon.phraseCount(), builtIn);
  EXPECT_EQ(lexicon.maxPhraseLength(), 2u);
}

TEST_F(PhraseDictionary, LastLineForAWordWins) {
  ASSERT_TRUE(files.LoadPhrases(lexicon,
                                "中国: zhòng guó\n"
                                "中国: zhōng guó\n"));
  EXPECT_EQ(lexicon.phraseCount(), builtIn + 1);
  EXPECT_EQ(Readings("中国"), "zhong1 guo2");
}

TEST_F(PhraseDictionary, ReadingCountNeedNotMatchWordLength) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "三个: sān\n"));
  EXPECT_EQ(Convert(lexicon, "三个"), "san1");
}

TEST_F(PhraseDictionary, ByteOrderMarkAndCrLfLoadLikePlainLf) {
  const std::string plain =
      "中国: zhōng guó\n中国人: zhōng guó rén\n人民: rén mín";
  std::string marked = "\xEF\xBB\xBF";
  for (char c : plain) {
    if (c == '\n') marked += '\r';
    marked += c;
  }
  PinyinLexicon other;
  ASSERT_TRUE(files.LoadPhrases(lexicon, plain));
  ASSERT_TRUE(other.loadPhraseDictionary(files.Write("marked.txt", marked)));
  EXPECT_EQ(other.phraseCount(), lexicon.phraseCount());
  EXPECT_EQ(other.maxPhraseLength(), 3u);
  for (const char* word : {"中国", "中国人", "人民"}) {
    EXPECT_EQ(Show(other.findPhraseReadings(U16(word))), Readings(word));
  }
  EXPECT_EQ(Readings("人民"), "ren2 min2");
}

TEST_F(PhraseDictionary, ReloadingKeepsOldWordsAndNeverLowersLongestLength) {
  ASSERT_TRUE(
      files.LoadPhrases(lexicon,
                        "中华人民共和国: zhōng huá rén mín gòng hé guó\n"
                        "中国: zhōng guó\n"));
  EXPECT_EQ(lexicon.maxPhraseLength(), 7u);
  ASSERT_TRUE(files.LoadPhrases(lexicon, "中国: zhòng guó\n人民: rén mín\n"));
  EXPECT_EQ(lexicon.maxPhraseLength(), 7u);
  EXPECT_EQ(lexicon.phraseCount(), builtIn + 3);
  EXPECT_EQ(Readings("中国"), "zhong4 guo2");
  EXPECT_EQ(Convert(lexicon, "中华人民共和国"),
            "zhong1 hua2 ren2 min2 gong4 he2 guo2");
  EXPECT_EQ(Convert(lexicon, "中国"), "zhong4 guo2");
}

TEST_F(PhraseDictionary, UnsortedFileLoadsEveryWord) {
  ASSERT_TRUE(files.LoadPhrases(lexicon,
                                "人民: rén mín\n"
                                "中国: zhōng guó\n"
                                "中国人: zhōng guó rén\n"
                                "一丁: yī dīng\n"
                                "中华: zhōng huá\n"));
  EXPECT_EQ(lexicon.phraseCount(), builtIn + 5);
  EXPECT_EQ(Convert(lexicon, "一丁中华人民中国人中国"),
            "yi4 ding1 zhong1 hua2 ren2 min2 zhong1 guo2 ren2 zhong1 guo2");
}

}  // namespace
}  // namespace vesk
