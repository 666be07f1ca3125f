#include <gtest/gtest.h>

#include "lexicon/lexicon_test_util.h"
#include "lexicon/pinyin_lexicon.h"

namespace vesk {
namespace {

using test::Convert;
using test::DictionaryFiles;
using test::Show;
using test::U16;

constexpr std::string_view kChars =
    "不: bù\n"
    "一: yī\n"
    "好: hǎo\n"
    "小: xiǎo\n"
    "老: lǎo\n"
    "虎: hǔ\n"
    "是: shì\n"
    "天: tiān\n"
    "年: nián\n"
    "起: qǐ\n"
    "个: gè\n"
    "吗: ma\n"
    "了: le\n"
    "甲: jiǎ\n"
    "乙: yǐ\n";

class ToneSandhi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(files.LoadChars(lexicon, kChars)); }

  PinyinLexicon lexicon;
  DictionaryFiles files;
};

// Applies sandhi to syllables written "pinyin tone" against text.
std::string Sandhi(std::string_view text, std::vector<Syllable> syllables) {
  PinyinLexicon::applyToneSandhi(U16(text), syllables);
  return Show(syllables);
}

TEST_F(ToneSandhi, ThirdToneBeforeThirdToneBecomesSecond) {
  EXPECT_EQ(Convert(lexicon, "好"), "hao3");
  EXPECT_EQ(Convert(lexicon, "小老虎"), "xiao2 lao2 hu3");
  EXPECT_EQ(Convert(lexicon, "好是"), "hao3 shi4");
}

TEST_F(ToneSandhi, ThirdTonesInsideOneWord) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "老虎: lǎo hǔ\n"));
  EXPECT_EQ(Convert(lexicon, "老虎"), "lao2 hu3");
}

TEST_F(ToneSandhi, NeutralToneGivesNoSecondThirdTone) {
  EXPECT_EQ(Convert(lexicon, "我们"), "wo3 men0");
  EXPECT_EQ(Convert(lexicon, "好吗"), "hao3 ma0");
}

TEST_F(ToneSandhi, BuBeforeFourthToneBecomesSecond) {
  EXPECT_EQ(Convert(lexicon, "不是"), "bu2 shi4");
}

TEST_F(ToneSandhi, BuIsFourthToneBeforeOtherTonesAndAtTheEnd) {
  EXPECT_EQ(Convert(lexicon, "不天"), "bu4 tian1");
  EXPECT_EQ(Convert(lexicon, "不年"), "bu4 nian2");
  EXPECT_EQ(Convert(lexicon, "不好"), "bu4 hao3");
  EXPECT_EQ(Convert(lexicon, "不了"), "bu4 le0");
  EXPECT_EQ(Convert(lexicon, "不"), "bu4");
  EXPECT_EQ(Sandhi("不", {{"bu", 2}}), "bu4");
  EXPECT_EQ(Sandhi("不天", {{"bu", 0}, {"tian", 1}}), "bu4 tian1");
}

TEST_F(ToneSandhi, YiFollowsTheNextTone) {
  EXPECT_EQ(Convert(lexicon, "一天"), "yi4 tian1");
  EXPECT_EQ(Convert(lexicon, "一年"), "yi4 nian2");
  EXPECT_EQ(Convert(lexicon, "一起"), "yi4 qi3");
  EXPECT_EQ(Convert(lexicon, "一个"), "yi2 ge4");
}

TEST_F(ToneSandhi, YiKeepsItsToneBeforeNeutralAndAtTheEnd) {
  EXPECT_EQ(Convert(lexicon, "一了"), "yi1 le0");
  EXPECT_EQ(Convert(lexicon, "一"), "yi1");
  EXPECT_EQ(Sandhi("一吗", {{"yi", 2}, {"ma", 0}}), "yi2 ma0");
}

TEST_F(ToneSandhi, RulesReadTheDictionaryToneOfTheNextSyllable) {
  // The second 不 becomes 4 at the end, but the first saw its dictionary 4.
  EXPECT_EQ(Convert(lexicon, "不不"), "bu2 bu4");
  EXPECT_EQ(Convert(lexicon, "一一一"), "yi4 yi4 yi1");
  // A third tone before 不 (dictionary tone 4) stays third.
  EXPECT_EQ(Convert(lexicon, "好不是"), "hao3 bu2 shi4");
  // 一 before 起 (3): the 3 is never lowered before 一 reads it.
  EXPECT_EQ(Convert(lexicon, "好一起"), "hao3 yi4 qi3");
  // Before a third tone that itself becomes second, it is still second.
  EXPECT_EQ(Convert(lexicon, "好好好"), "hao2 hao2 hao3");
}

TEST_F(ToneSandhi, BuAndYiRulesOverrideTheThirdToneRule) {
  EXPECT_EQ(Sandhi("不好", {{"bu", 3}, {"hao", 3}}), "bu4 hao3");
  EXPECT_EQ(Sandhi("一好", {{"yi", 3}, {"hao", 3}}), "yi4 hao3");
}

TEST_F(ToneSandhi, RulesNeedTheExactSpelling) {
  EXPECT_EQ(Sandhi("不是", {{"fou", 3}, {"shi", 4}}), "fou3 shi4");
  EXPECT_EQ(Sandhi("一天", {{"yī", 1}, {"tian", 1}}), "yī1 tian1");
  EXPECT_EQ(Sandhi("好是", {{"bu", 4}, {"shi", 4}}), "bu4 shi4");
}

TEST_F(ToneSandhi, UnreadCharacterBeforeBuShiftsThePairing) {
  // 丐 has no reading, so the syllable bu is paired with 丐 and shi with 不.
  EXPECT_EQ(Convert(lexicon, "丐不是"), "bu4 shi4");
  EXPECT_EQ(Convert(lexicon, "不是丐"), "bu2 shi4");
}

TEST_F(ToneSandhi, WordWithMoreSyllablesThanCharactersShiftsThePairing) {
  // Syllables jia yi bu bu pair with 甲 乙 不 and nothing: the word's own
  // third syllable fires the rule of 不, the syllable of 不 itself does not.
  ASSERT_TRUE(files.LoadPhrases(lexicon, "甲乙: jiǎ yǐ bù\n"));
  EXPECT_EQ(Convert(lexicon, "甲乙不"), "jia2 yi3 bu2 bu4");
}

TEST_F(ToneSandhi, WordWithFewerSyllablesThanCharactersShiftsThePairing) {
  ASSERT_TRUE(files.LoadPhrases(lexicon, "好好: hǎo\n"));
  // hao bu shi pair with 好 好 不: the syllable of 不 meets no rule.
  EXPECT_EQ(Convert(lexicon, "好好不是"), "hao3 bu4 shi4");
}

TEST_F(ToneSandhi, OtherCodeUnitsDoNotTakePartInThePairing) {
  EXPECT_EQ(Convert(lexicon, "a不, b是"), "bu2 shi4");
  EXPECT_EQ(Sandhi("xx不yy", {{"bu", 4}}), "bu4");
  EXPECT_EQ(Sandhi("", {{"bu", 4}, {"shi", 4}}), "bu4 shi4");
}

TEST_F(ToneSandhi, SandhiNeverCrossesCalls) {
  EXPECT_EQ(Convert(lexicon, "不"), "bu4");
  EXPECT_EQ(Convert(lexicon, "是"), "shi4");
  EXPECT_EQ(Convert(lexicon, "好"), "hao3");
}

TEST_F(ToneSandhi, EmptySyllablesStayEmpty) { EXPECT_EQ(Sandhi("不", {}), ""); }

}  // namespace
}  // namespace vesk
