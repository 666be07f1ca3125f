#include "frontend/syllable.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk {
namespace {

void ExpectSplit(std::string_view pinyin, std::string_view initial,
                 std::string_view final) {
  SyllableParts parts = SplitSyllable(pinyin);
  EXPECT_EQ(parts.initial, initial) << pinyin;
  EXPECT_EQ(parts.final, final) << pinyin;
}

TEST(SplitSyllable, TwoLetterInitialsComeFirst) {
  ExpectSplit("zhuang", "zh", "uang");
  ExpectSplit("shi", "sh", "i");
  ExpectSplit("chi", "ch", "i");
  ExpectSplit("zi", "z", "i");
  ExpectSplit("z", "z", "");
}

TEST(SplitSyllable, YAndWAreInitials) {
  ExpectSplit("yue", "y", "ue");
  ExpectSplit("wo", "w", "o");
}

TEST(SplitSyllable, VowelSpellingsHaveNoInitial) {
  ExpectSplit("er", "", "er");
  ExpectSplit("ang", "", "ang");
  ExpectSplit("", "", "");
}

TEST(SplitSyllable, LowerCasesAsciiOnly) {
  ExpectSplit("ZHuang", "zh", "uang");
  ExpectSplit("L\xC3\x9C", "l", "\xC3\x9C");
}

TEST(SyllableUnitIndex, ApicalSyllablesUseTheSlotOfI) {
  EXPECT_EQ(SyllableUnitIndex("zhi", 1), 8449);
  EXPECT_EQ(SyllableUnitIndex("Zhi", 1), 8449);
  EXPECT_EQ(SyllableUnitIndex("si", 4), 7488 + 128 + 4);
  EXPECT_EQ(SyllableUnitIndex("ri", 4), 7072 + 128 + 4);
}

TEST(SyllableUnitIndex, BlockPlusSlotPlusTone) {
  EXPECT_EQ(SyllableUnitIndex("ma", 0), 4992);
  EXPECT_EQ(SyllableUnitIndex("yi", 1), 10113);
  EXPECT_EQ(SyllableUnitIndex("er", 4), 1908);
  EXPECT_EQ(SyllableUnitIndex("ou", 1), 6065);
  EXPECT_EQ(SyllableUnitIndex("o", 2), 6050);
  EXPECT_EQ(SyllableUnitIndex("an", 4), 52);
  EXPECT_EQ(SyllableUnitIndex("ei", 4), 1940);
  EXPECT_EQ(SyllableUnitIndex("zhuang", 4), 8320 + 192 + 4);
}

TEST(SyllableUnitIndex, SyllabicNasalsReadAsEnWithThirdToneRaised) {
  EXPECT_EQ(SyllableUnitIndex("ng", 3), 1764);
  EXPECT_EQ(SyllableUnitIndex("m", 3), 1764);
  EXPECT_EQ(SyllableUnitIndex("en", 4), 1764);
  EXPECT_EQ(SyllableUnitIndex("n", 2), 1762);
  EXPECT_EQ(SyllableUnitIndex("m", 0), 1760);
  EXPECT_EQ(SyllableUnitIndex("NG", 3), -1);
}

TEST(SyllableUnitIndex, UeSharesTheSlotOfVe) {
  EXPECT_EQ(SyllableUnitIndex("jue", 2), 3762);
  EXPECT_EQ(SyllableUnitIndex("jve", 2), 3762);
  EXPECT_EQ(SyllableUnitIndex("yue", 4), 10004);
  EXPECT_EQ(SyllableUnitIndex("nue", 4), SyllableUnitIndex("nve", 4));
}

TEST(SyllableUnitIndex, UmlautSpellingsAreApart) {
  EXPECT_EQ(SyllableUnitIndex("lv", 4), 4916);
  EXPECT_EQ(SyllableUnitIndex("lu", 4), 4900);
  EXPECT_EQ(SyllableUnitIndex("ju", 1), 4065);
}

TEST(SyllableUnitIndex, NgAfterAnInitialIsTheFinalOfEn) {
  EXPECT_EQ(SyllableUnitIndex("hng", 0), 3008);
  EXPECT_EQ(SyllableUnitIndex("hng", 0), SyllableUnitIndex("hen", 0));
}

TEST(SyllableUnitIndex, BareVowelsLandInBlockA) {
  EXPECT_EQ(SyllableUnitIndex("i", 1), 129);
  EXPECT_EQ(SyllableUnitIndex("u", 0), 320);
  EXPECT_EQ(SyllableUnitIndex("v", 0), 336);
}

TEST(SyllableUnitIndex, UnknownSpellingsHaveNoUnit) {
  for (int tone = 0; tone <= 4; ++tone) {
    EXPECT_EQ(SyllableUnitIndex("", tone), -1);
    EXPECT_EQ(SyllableUnitIndex("xyz", tone), -1);
    EXPECT_EQ(SyllableUnitIndex("hm", tone), -1);
    EXPECT_EQ(SyllableUnitIndex("ma1", tone), -1);
    EXPECT_EQ(SyllableUnitIndex("zhuangg", tone), -1);
    EXPECT_EQ(SyllableUnitIndex("zhong note", tone), -1);
    EXPECT_EQ(SyllableUnitIndex(std::string_view("a\0", 2), tone), -1);
    EXPECT_EQ(SyllableUnitIndex("l\xC3\xBC", tone), -1);
  }
}

TEST(SyllableUnitIndex, LargestSyllableIndex) {
  EXPECT_EQ(SyllableUnitIndex("zun", 4), 10804);
  EXPECT_EQ(SyllableUnitIndex("zvn", 4), 10804);
}

}  // namespace
}  // namespace vesk

TEST(SyllableUnitIndex, EmbeddedNulBytesAreNotSpellings) {
  using namespace std::string_view_literals;
  EXPECT_EQ(vesk::SyllableUnitIndex("\0a"sv, 1), -1);
  EXPECT_EQ(vesk::SyllableUnitIndex("m\0a"sv, 1), -1);
  EXPECT_EQ(vesk::SyllableUnitIndex("a"sv, 1), 1);
}
