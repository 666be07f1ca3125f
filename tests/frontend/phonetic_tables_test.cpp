#include "frontend/phonetic_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "frontend/syllable.h"

namespace vesk {
namespace {

TEST(PhoneticTables, InitialBlocks) {
  const std::map<std::string, int32_t> expected{
      {"b", 416},  {"c", 832},   {"d", 1248},  {"f", 2080},  {"g", 2496},
      {"h", 2912}, {"sh", 3328}, {"j", 3744},  {"k", 4160},  {"l", 4576},
      {"m", 4992}, {"n", 5408},  {"p", 6240},  {"q", 6656},  {"r", 7072},
      {"s", 7488}, {"t", 7904},  {"zh", 8320}, {"ch", 8736}, {"w", 9152},
      {"x", 9568}, {"y", 9984},  {"z", 10400}};
  for (const auto& [initial, base] : expected) {
    EXPECT_EQ(InitialBase(initial), base) << initial;
  }
  // Every other one- or two-letter key is absent, vowel blocks included.
  int present = 0;
  for (char a = 'a'; a <= 'z'; ++a) {
    present += InitialBase(std::string(1, a)).has_value();
    for (char b = 'a'; b <= 'z'; ++b) {
      present += InitialBase(std::string{a, b}).has_value();
    }
  }
  EXPECT_EQ(present, 23);
  EXPECT_FALSE(InitialBase("a"));
  EXPECT_FALSE(InitialBase("ZH"));
  EXPECT_FALSE(InitialBase("B"));
  EXPECT_FALSE(InitialBase(""));
}

TEST(PhoneticTables, FinalSlots) {
  const std::map<std::string, int32_t> expected{
      {"a", 0},     {"ui", 16},    {"ve", 16},    {"ian", 32},  {"an", 48},
      {"e", 64},    {"eng", 80},   {"en", 96},    {"ng", 96},   {"n", 96},
      {"ing", 112}, {"i", 128},    {"in", 144},   {"ong", 160}, {"iong", 160},
      {"iao", 176}, {"iang", 192}, {"uang", 192}, {"uan", 208}, {"van", 208},
      {"o", 224},   {"uo", 224},   {"ou", 240},   {"er", 240},  {"ia", 256},
      {"ua", 256},  {"ei", 272},   {"ang", 288},  {"ie", 304},  {"u", 320},
      {"v", 336},   {"uai", 336},  {"ao", 352},   {"ai", 368},  {"iu", 384},
      {"un", 400},  {"vn", 400}};
  ASSERT_EQ(expected.size(), 37u);
  for (const auto& [final, slot] : expected) {
    EXPECT_EQ(FinalOffset(final), slot) << final;
  }
  for (const char* absent : {"ue", "uen", "uei", "iou", "ueng", "A", "", "m"}) {
    EXPECT_FALSE(FinalOffset(absent)) << absent;
  }
}

TEST(PhoneticTables, DigitUnitsAreTheDigitSyllables) {
  const struct {
    char16_t digit;
    const char* pinyin;
    int32_t tone;
    int32_t unit;
  } rows[] = {{u'0', "ling", 2, 4690}, {u'1', "yi", 1, 10113},
              {u'2', "er", 4, 1908},   {u'3', "san", 1, 7537},
              {u'4', "si", 4, 7620},   {u'5', "wu", 3, 9475},
              {u'6', "liu", 4, 4964},  {u'7', "qi", 1, 6785},
              {u'8', "ba", 1, 417},    {u'9', "jiu", 3, 4131}};
  for (const auto& row : rows) {
    EXPECT_EQ(DigitUnit(row.digit), row.unit) << char(row.digit);
    EXPECT_EQ(SyllableUnitIndex(row.pinyin, row.tone), row.unit) << row.pinyin;
    EXPECT_EQ(DigitSyllable(row.digit), (Syllable{row.pinyin, row.tone}));
  }
  EXPECT_EQ(DigitSyllable(u'a'), Syllable{});
  EXPECT_EQ(DigitUnit(u'a'), -1);
  EXPECT_EQ(DigitUnit(u'/'), -1);
  EXPECT_EQ(DigitUnit(u':'), -1);
  EXPECT_EQ(DigitUnit(u'０'), -1);
}

TEST(PhoneticTables, LetterNamesSitAtPositionEightOfTheirBlock) {
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    EXPECT_EQ(LetterUnit(letter), 416 * (letter - 'a') + 8) << letter;
  }
  EXPECT_EQ(LetterUnit('a'), 8);
  EXPECT_EQ(LetterUnit('b'), 424);
  EXPECT_EQ(LetterUnit('c'), 840);
  EXPECT_EQ(LetterUnit('i'), 3336);
  EXPECT_EQ(LetterUnit('u'), 8328);
  EXPECT_EQ(LetterUnit('v'), 8744);
  EXPECT_EQ(LetterUnit('z'), 10408);
  EXPECT_EQ(LetterUnit('A'), -1);
  EXPECT_EQ(LetterUnit('0'), -1);
  EXPECT_EQ(LetterUnit('{'), -1);
}

TEST(PhoneticTables, LetterNamesOfIUVShareBlocksOfTwoLetterInitials) {
  EXPECT_EQ(LetterUnit('i') - *InitialBase("sh"), 8);
  EXPECT_EQ(LetterUnit('u') - *InitialBase("zh"), 8);
  EXPECT_EQ(LetterUnit('v') - *InitialBase("ch"), 8);
  EXPECT_EQ(SyllableUnitIndex("sha", 0), 3328);
}

TEST(PhoneticTables, SyllablesStayInTonePositionsOfTheLayout) {
  const char* initials[] = {"",  "b", "c",  "d",  "f", "g", "h", "sh",
                            "j", "k", "l",  "m",  "n", "p", "q", "r",
                            "s", "t", "zh", "ch", "w", "x", "y", "z"};
  const char* finals[] = {
      "a",   "ui",  "ve", "ian", "an",   "e",   "eng",  "en",   "ng",  "n",
      "ing", "i",   "in", "ong", "iong", "iao", "iang", "uang", "uan", "van",
      "o",   "uo",  "ou", "er",  "ia",   "ua",  "ei",   "ang",  "ie",  "u",
      "v",   "uai", "ao", "ai",  "iu",   "un",  "vn"};
  int32_t largest = -1;
  for (const char* initial : initials) {
    for (const char* final : finals) {
      const std::string spelling = std::string(initial) + final;
      if (spelling == "n" || spelling == "ng") continue;  // syllabic nasals
      for (int32_t tone = 0; tone <= 4; ++tone) {
        const int32_t unit = SyllableUnitIndex(spelling, tone);
        ASSERT_GE(unit, 0) << spelling;
        EXPECT_EQ(unit % kSlotSize, tone) << spelling;
        EXPECT_NE(unit, kPunctuationUnit) << spelling;
        largest = std::max(largest, unit);
      }
    }
  }
  EXPECT_EQ(largest, 10804);
  EXPECT_LT(largest, 26 * kLetterBlockSize);
}

}  // namespace
}  // namespace vesk
