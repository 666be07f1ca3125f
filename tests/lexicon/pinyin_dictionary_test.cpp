#include <gtest/gtest.h>

#include "lexicon/lexicon_test_util.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk {
namespace {

using test::Convert;
using test::DictionaryFiles;
using test::Show;

class CharDictionary : public ::testing::Test {
 protected:
  PinyinLexicon lexicon;
  DictionaryFiles files;

  std::string Readings(uint32_t code) {
    return Show(lexicon.findCharReadings(code));
  }
};

TEST_F(CharDictionary, CodePointFormWithTrailingComment) {
  ASSERT_TRUE(files.LoadChars(lexicon, "U+4E2D: zhōng,zhòng  # 中\n"));
  EXPECT_EQ(Readings(0x4E2D), "zhong1 zhong4");
  EXPECT_EQ(lexicon.charCount(), 1u);
  EXPECT_EQ(Convert(lexicon, "中"), "zhong1");
}

TEST_F(CharDictionary, CharacterFormStoresTheSameEntry) {
  ASSERT_TRUE(files.LoadChars(lexicon, "中: zhōng, zhòng\n"));
  EXPECT_EQ(Readings(0x4E2D), "zhong1 zhong4");
}

TEST_F(CharDictionary, HashIsNoCommentInCharacterForm) {
  ASSERT_TRUE(files.LoadChars(lexicon, "中:zhōng # note\n"));
  const auto* readings = lexicon.findCharReadings(0x4E2D);
  ASSERT_NE(readings, nullptr);
  EXPECT_EQ(*readings, (std::vector<Syllable>{{"zhong # note", 1}}));
}

TEST_F(CharDictionary, CharacterFormKeysOnTheFirstCodeUnitOnly) {
  ASSERT_TRUE(files.LoadChars(lexicon, "中国: zhōng\n"));
  EXPECT_EQ(Readings(0x4E2D), "zhong1");
  EXPECT_EQ(lexicon.findCharReadings(0x56FD), nullptr);
}

TEST_F(CharDictionary, PrefixAndDigitsInEitherCase) {
  ASSERT_TRUE(files.LoadChars(lexicon, "u+4e2d:zhōng\nU+4E0d: bù\n"));
  EXPECT_EQ(Readings(0x4E2D), "zhong1");
  EXPECT_EQ(Readings(0x4E0D), "bu4");
}

TEST_F(CharDictionary, HexadecimalReadLikeTheCLibrary) {
  ASSERT_TRUE(files.LoadChars(lexicon,
                              "U+ 4E00: yī\n"
                              "U+0x4E8C: èr\n"
                              "U+4E09zz: sān\n"
                              "U++56DB: sì\n"));
  EXPECT_EQ(Readings(0x4E00), "yi1");
  EXPECT_EQ(Readings(0x4E8C), "er4");
  EXPECT_EQ(Readings(0x4E09), "san1");
  EXPECT_EQ(Readings(0x56DB), "si4");
}

TEST_F(CharDictionary, MalformedLinesAreSkippedAndLaterLinesLoad) {
  ASSERT_TRUE(files.LoadChars(lexicon,
                              "U+4E2D zhōng\n"
                              "U+XYZ: a\n"
                              "U+: a\n"
                              "U+0: a\n"
                              "U+100000000: a\n"
                              "U+-4E2D: a\n"
                              "U+4E00: , ,\n"
                              "U+4E01:   # only a comment\n"
                              "no colon at all\n"
                              ": a\n"
                              "U+4E03: qī\n"));
  EXPECT_EQ(lexicon.charCount(), 1u);
  EXPECT_EQ(Readings(0x4E03), "qi1");
}

TEST_F(CharDictionary, NulCharacterKeyIsIgnored) {
  EXPECT_FALSE(files.LoadChars(lexicon, std::string_view("\0: a\n", 5)));
  EXPECT_EQ(lexicon.charCount(), 0u);
}

TEST_F(CharDictionary, KeysBeyondTheBasicPlaneAreStoredButNeverRead) {
  ASSERT_TRUE(files.LoadChars(lexicon, "U+20000: kǎo\n𠀀: kāo\n"));
  EXPECT_EQ(lexicon.charCount(), 2u);
  EXPECT_EQ(Readings(0x20000), "kao3");
  EXPECT_EQ(Readings(0xD840), "kao1");  // the high surrogate of U+20000
  EXPECT_EQ(Convert(lexicon, "𠀀"), "");
}

TEST_F(CharDictionary, LaterLineReplacesEarlierAndCountsOnce) {
  ASSERT_TRUE(files.LoadChars(lexicon, "U+4E2D: zhōng\n中: zhòng,zhōng\n"));
  EXPECT_EQ(lexicon.charCount(), 1u);
  EXPECT_EQ(Readings(0x4E2D), "zhong4 zhong1");
  EXPECT_EQ(Convert(lexicon, "中"), "zhong4");
}

TEST_F(CharDictionary, OnlyCommentsAndBlankLinesLoadNothing) {
  EXPECT_FALSE(files.LoadChars(lexicon, "# pinyin\n\n   \n\t# more\r\n"));
  EXPECT_FALSE(files.LoadChars(lexicon, "\xEF\xBB\xBF"));
  EXPECT_FALSE(files.LoadChars(lexicon, ""));
  EXPECT_EQ(lexicon.charCount(), 0u);
}

TEST_F(CharDictionary, MissingFileLeavesTheLexiconUnchanged) {
  ASSERT_TRUE(files.LoadChars(lexicon, "U+4E2D: zhōng\n"));
  EXPECT_FALSE(lexicon.loadCharDictionary(files.Missing()));
  EXPECT_EQ(lexicon.charCount(), 1u);
  EXPECT_EQ(Readings(0x4E2D), "zhong1");
}

TEST_F(CharDictionary, ByteOrderMarkAndCrLfLoadLikePlainLf) {
  const std::string plain =
      "# readings\nU+4E2D: zhōng,zhòng # 中\n国: guó\n\n好: hǎo,hào\n"
      "U+4E00: yī";
  std::string marked = "\xEF\xBB\xBF";
  for (char c : plain) {
    if (c == '\n') marked += '\r';
    marked += c;
  }
  PinyinLexicon other;
  ASSERT_TRUE(files.LoadChars(lexicon, plain));
  ASSERT_TRUE(other.loadCharDictionary(files.Write("marked.txt", marked)));
  EXPECT_EQ(lexicon.charCount(), 4u);
  EXPECT_EQ(other.charCount(), lexicon.charCount());
  for (uint32_t code : {0x4E2D, 0x56FD, 0x597D, 0x4E00}) {
    EXPECT_EQ(Show(other.findCharReadings(code)), Readings(code)) << code;
  }
  EXPECT_EQ(Readings(0x4E00), "yi1");  // last line without a line feed
}

TEST_F(CharDictionary, ByteOrderMarkAfterTheStartIsText) {
  // The mark before the second line makes its first code unit U+FEFF.
  ASSERT_TRUE(files.LoadChars(lexicon, "U+4E00: yī\n\xEF\xBB\xBF中: zhōng\n"));
  EXPECT_EQ(lexicon.findCharReadings(0x4E2D), nullptr);
  EXPECT_EQ(Readings(0xFEFF), "zhong1");
}

TEST_F(CharDictionary, InvalidUtf8CharacterBecomesReplacementKey) {
  ASSERT_TRUE(files.LoadChars(lexicon, "\xFF\xFE: a\n"));
  EXPECT_EQ(Readings(0xFFFD), "a0");
}

TEST_F(CharDictionary, ReloadingAppliesTheFileOverWhatIsThere) {
  ASSERT_TRUE(files.LoadChars(lexicon, "U+4E2D: zhōng\nU+56FD: guó\n"));
  ASSERT_TRUE(files.LoadChars(lexicon, "U+4E2D: zhòng\nU+4E00: yī\n"));
  EXPECT_EQ(lexicon.charCount(), 3u);
  EXPECT_EQ(Readings(0x4E2D), "zhong4");
  EXPECT_EQ(Readings(0x56FD), "guo2");
  EXPECT_EQ(Convert(lexicon, "中国"), "zhong4 guo2");
}

}  // namespace
}  // namespace vesk
