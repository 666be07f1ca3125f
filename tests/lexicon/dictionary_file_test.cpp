#include "lexicon/dictionary_file.h"

#include <gtest/gtest.h>

#include "lexicon/lexicon_test_util.h"

namespace vesk {
namespace {

using test::DictionaryFiles;

Syllable Parse(std::string_view reading) { return parseReading(reading); }

TEST(TrimBlanks, RemovesSpaceTabCrLfAtBothEndsOnly) {
  EXPECT_EQ(trimBlanks(" \t\r\nzh ong\r\n\t "), "zh ong");
  EXPECT_EQ(trimBlanks("zhong"), "zhong");
  EXPECT_EQ(trimBlanks(" \t\r\n"), "");
  EXPECT_EQ(trimBlanks(""), "");
  EXPECT_EQ(trimBlanks("\vzhong\f"), "\vzhong\f");
}

TEST(SplitReadings, KeepsEmptyPiecesTrimmed) {
  EXPECT_EQ(splitReadings("zhōng, zhòng", ','),
            (std::vector<std::string_view>{"zhōng", "zhòng"}));
  EXPECT_EQ(splitReadings(" , ,", ','),
            (std::vector<std::string_view>{"", "", ""}));
  EXPECT_EQ(splitReadings("zhōng  guó", ' '),
            (std::vector<std::string_view>{"zhōng", "", "guó"}));
  EXPECT_EQ(splitReadings("", ','), (std::vector<std::string_view>{""}));
}

TEST(SplitReadings, TabDoesNotSeparateReadings) {
  EXPECT_EQ(splitReadings("zhōng\tguó", ' '),
            (std::vector<std::string_view>{"zhōng\tguó"}));
}

TEST(ParseReadings, SkipsEmptyPiecesAndKeepsOrder) {
  EXPECT_EQ(test::Show(parseReadings(" zhōng ,, zhòng ,", ',')),
            "zhong1 zhong4");
  EXPECT_TRUE(parseReadings(" , , ", ',').empty());
}

// A load parses each distinct reading once through its cache: whatever the
// cache holds, every list reads as parsed afresh, however often a reading
// comes back and however far the cache has grown.
TEST(ParseReadings, ThroughACacheReadAsParsedAfresh) {
  const std::vector<std::string> lists = {
      " zhōng ,, zhòng ,", "ZHŌNG,Zhōng,zhong1", "lǜ,lü,lv,ńg,m\xCC\x80",
      "zhōng guó  # note", "\xC3,\xE1\xB8,ḿ,āà", " , , ",
  };
  ReadingCache cache;
  for (int round = 0; round < 3; ++round) {
    for (const std::string& list : lists) {
      for (char delimiter : {',', ' '}) {
        EXPECT_EQ(parseReadings(list, delimiter, cache),
                  parseReadings(list, delimiter))
            << list;
      }
    }
  }
  // Thousands of distinct readings, then each again from other bytes with
  // the same content: the same syllables, in a grown table.
  std::vector<std::string> readings;
  for (int i = 0; i < 5000; ++i) {
    readings.push_back("x" + std::to_string(i) + (i % 3 == 0 ? "ǎ" : "ü"));
  }
  const std::vector<std::string> copies = readings;
  for (const std::string& reading : readings) {
    EXPECT_EQ(cache.parse(reading), parseReading(reading)) << reading;
  }
  for (const std::string& reading : copies) {
    EXPECT_EQ(cache.parse(reading), parseReading(reading)) << reading;
  }
}

TEST(ParseReading, EveryToneMarkRow) {
  const struct {
    const char* bytes;
    char letter;
    int32_t tone;
  } rows[] = {
      {"ā", 'a', 1}, {"á", 'a', 2},         {"ǎ", 'a', 3}, {"à", 'a', 4},
      {"ē", 'e', 1}, {"é", 'e', 2},         {"ě", 'e', 3}, {"è", 'e', 4},
      {"ī", 'i', 1}, {"í", 'i', 2},         {"ǐ", 'i', 3}, {"ì", 'i', 4},
      {"ō", 'o', 1}, {"ó", 'o', 2},         {"ǒ", 'o', 3}, {"ò", 'o', 4},
      {"ū", 'u', 1}, {"ú", 'u', 2},         {"ǔ", 'u', 3}, {"ù", 'u', 4},
      {"ǖ", 'v', 1}, {"ǘ", 'v', 2},         {"ǚ", 'v', 3}, {"ǜ", 'v', 4},
      {"ü", 'v', 0}, {"ń", 'n', 2},         {"ň", 'n', 3}, {"ǹ", 'n', 4},
      {"ḿ", 'm', 2}, {"m\xCC\x80", 'm', 4},
  };
  for (const auto& row : rows) {
    const Syllable syllable = Parse(std::string("x") + row.bytes + "y");
    EXPECT_EQ(syllable.pinyin, (std::string{'x', row.letter, 'y'}))
        << row.bytes;
    EXPECT_EQ(syllable.tone, row.tone) << row.bytes;
  }
}

TEST(ParseReading, UmlautAndNasalSpellings) {
  EXPECT_EQ(Parse("lv"), (Syllable{"lv", 0}));
  EXPECT_EQ(Parse("lü"), (Syllable{"lv", 0}));
  EXPECT_EQ(Parse("lǜ"), (Syllable{"lv", 4}));
  EXPECT_EQ(Parse("nǚ"), (Syllable{"nv", 3}));
  EXPECT_EQ(Parse("ńg"), (Syllable{"ng", 2}));
  EXPECT_EQ(Parse("ňg"), (Syllable{"ng", 3}));
  EXPECT_EQ(Parse("ǹ"), (Syllable{"n", 4}));
  EXPECT_EQ(Parse("ḿ"), (Syllable{"m", 2}));
  EXPECT_EQ(Parse("m\xCC\x80"), (Syllable{"m", 4}));
  EXPECT_EQ(Parse("m"), (Syllable{"m", 0}));
}

TEST(ParseReading, UpperCaseAsciiIsLoweredButMarkedCapitalsAreCopied) {
  EXPECT_EQ(Parse("ZHŌNG"), (Syllable{"zh\xC5\x8Cng", 0}));
  EXPECT_EQ(Parse("Zhōng"), (Syllable{"zhong", 1}));
  EXPECT_EQ(Parse("LÜ"), (Syllable{"l\xC3\x9C", 0}));
  // A capital M before the combining grave is no row: both bytes stay.
  EXPECT_EQ(Parse("M\xCC\x80"), (Syllable{"m\xCC\x80", 0}));
}

TEST(ParseReading, ToneDigitsHaveNoMeaning) {
  EXPECT_EQ(Parse("zhong1"), (Syllable{"zhong1", 0}));
  EXPECT_EQ(Parse("zhong"), (Syllable{"zhong", 0}));
}

TEST(ParseReading, LaterMarkOverridesEarlier) {
  EXPECT_EQ(Parse("āà"), (Syllable{"aa", 4}));
  EXPECT_EQ(Parse("ǜü"), (Syllable{"vv", 4}));
}

TEST(ParseReading, OtherBytesAreCopied) {
  EXPECT_EQ(Parse("\xC3"), (Syllable{"\xC3", 0}));
  EXPECT_EQ(Parse("\xE1\xB8"), (Syllable{"\xE1\xB8", 0}));
  EXPECT_EQ(Parse(std::string_view("a\0b", 3)),
            (Syllable{std::string("a\0b", 3), 0}));
  EXPECT_EQ(Parse(""), (Syllable{"", 0}));
}

TEST(ReadDictionaryFile, DropsOnlyALeadingByteOrderMark) {
  DictionaryFiles files;
  EXPECT_EQ(readDictionaryFile(files.Write("a.txt", "\xEF\xBB\xBFU+4E00: yī")),
            "U+4E00: yī");
  EXPECT_EQ(readDictionaryFile(files.Write("b.txt", "x\xEF\xBB\xBF")),
            "x\xEF\xBB\xBF");
  EXPECT_EQ(readDictionaryFile(files.Write("c.txt", "\xEF\xBB\xBF")), "");
  EXPECT_EQ(readDictionaryFile(files.Write("d.txt", "\xEF\xBB")), "\xEF\xBB");
  EXPECT_EQ(readDictionaryFile(files.Write("e.txt", "")), "");
}

TEST(ReadDictionaryFile, KeepsBytesExactlyWithoutNewlineTranslation) {
  DictionaryFiles files;
  const std::string bytes(
      "a\r\nb\rc\n\0d\x1A"
      "e",
      11);
  EXPECT_EQ(readDictionaryFile(files.Write("a.txt", bytes)), bytes);
}

TEST(ReadDictionaryFile, MissingFileOrDirectoryCannotBeRead) {
  DictionaryFiles files;
  EXPECT_EQ(readDictionaryFile(files.Missing()), std::nullopt);
  test::TempDir dir;
  EXPECT_EQ(readDictionaryFile(dir.u16path()), std::nullopt);
}

}  // namespace
}  // namespace vesk
