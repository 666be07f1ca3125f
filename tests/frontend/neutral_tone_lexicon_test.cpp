#include "frontend/neutral_tone_lexicon.h"

#include <gtest/gtest.h>

#include "frontend/syllable.h"
#include "support/test_files.h"

namespace vesk {
namespace {

using test::U16;
using test::U8;

const std::vector<Syllable>& ReadingOf(std::string_view word) {
  static const std::vector<Syllable> none;
  auto it = NeutralToneLexicon().find(U16(word));
  return it == NeutralToneLexicon().end() ? none : it->second;
}

TEST(NeutralToneLexicon, HoldsOneHundredAndFourTwoCharacterWords) {
  EXPECT_EQ(NeutralToneLexicon().size(), 104u);
  for (const auto& [word, reading] : NeutralToneLexicon()) {
    EXPECT_EQ(word.size(), 2u) << U8(word);
    EXPECT_EQ(reading.size(), 2u) << U8(word);
  }
}

TEST(NeutralToneLexicon, FirstSyllableTonedSecondNeutral) {
  for (const auto& [word, reading] : NeutralToneLexicon()) {
    ASSERT_EQ(reading.size(), 2u);
    EXPECT_GE(reading[0].tone, 1) << U8(word);
    EXPECT_LE(reading[0].tone, 4) << U8(word);
    EXPECT_EQ(reading[1].tone, 0) << U8(word);
  }
}

TEST(NeutralToneLexicon, EverySyllableHasAUnitIndex) {
  for (const auto& [word, reading] : NeutralToneLexicon()) {
    for (const Syllable& syllable : reading) {
      const int32_t unit = SyllableUnitIndex(syllable.pinyin, syllable.tone);
      EXPECT_GE(unit, 0) << U8(word) << " " << syllable.pinyin;
    }
    // The neutral second syllable sits at position 0 of its slot.
    EXPECT_EQ(SyllableUnitIndex(reading[1].pinyin, 0) % 16, 0) << U8(word);
  }
}

TEST(NeutralToneLexicon, TellingReadings) {
  EXPECT_EQ(ReadingOf("大夫"), (std::vector<Syllable>{{"dai", 4}, {"fu", 0}}));
  EXPECT_EQ(ReadingOf("便宜"), (std::vector<Syllable>{{"pian", 2}, {"yi", 0}}));
  EXPECT_EQ(ReadingOf("暖和"),
            (std::vector<Syllable>{{"nuan", 3}, {"huo", 0}}));
  EXPECT_EQ(ReadingOf("东西"), (std::vector<Syllable>{{"dong", 1}, {"xi", 0}}));
  EXPECT_EQ(ReadingOf("我们"), (std::vector<Syllable>{{"wo", 3}, {"men", 0}}));
  EXPECT_EQ(ReadingOf("妈妈"), (std::vector<Syllable>{{"ma", 1}, {"ma", 0}}));
  EXPECT_EQ(ReadingOf("过去"), (std::vector<Syllable>{{"guo", 4}, {"qu", 0}}));
}

}  // namespace
}  // namespace vesk
