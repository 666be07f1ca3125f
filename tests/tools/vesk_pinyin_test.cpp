// vesk-pinyin's logic: the engine's reading of text line by line, sandhi over
// given syllables, and the dictionary check.
#include <gtest/gtest.h>

#include "pinyin_tool.h"
#include "support/test_files.h"
#include "tools/tool_runner.h"

namespace vesk::tool {
namespace {

using test::TempDir;
using test::U16;

std::vector<std::string_view> Pieces(
    std::initializer_list<std::string_view> list) {
  return std::vector<std::string_view>(list);
}

class ToneDigitNotation : public ::testing::Test {};

TEST_F(ToneDigitNotation, FormatsSpellingAndToneWithNeutralAsZero) {
  EXPECT_EQ(FormatSyllables({{"zhong", 1}, {"de", 0}, {"lv", 4}}),
            "zhong1 de0 lv4");
  EXPECT_EQ(FormatSyllable(Syllable{}), "-");
}

TEST_F(ToneDigitNotation, ParsesDigitsZeroToFiveWithFiveAsNeutral) {
  EXPECT_EQ(ParseToneDigitSyllable("zhong1"), (Syllable{"zhong", 1}));
  EXPECT_EQ(ParseToneDigitSyllable("de5"), (Syllable{"de", 0}));
  EXPECT_EQ(ParseToneDigitSyllable("de0"), (Syllable{"de", 0}));
  EXPECT_EQ(ParseToneDigitSyllable("-"), Syllable{});
}

TEST_F(ToneDigitNotation, RejectsPiecesWithoutSpellingOrDigit) {
  EXPECT_FALSE(ParseToneDigitSyllable("zhong"));
  EXPECT_FALSE(ParseToneDigitSyllable("1"));
  EXPECT_FALSE(ParseToneDigitSyllable("ma6"));
  EXPECT_FALSE(ParseToneDigitSyllable(""));
}

class ReadLineAsEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto chars = dir_.Write("pinyin.txt",
                                  "U+4F60: nǐ  # 你\n"
                                  "U+597D: hǎo,hào  # 好\n"
                                  "U+94F6: yín  # 银\n"
                                  "U+884C: xíng,háng  # 行\n"
                                  "U+4E00: yī  # 一\n"
                                  "U+4E2A: gè  # 个\n");
    const auto words = dir_.Write("phrases.txt", "银行: yín háng\n");
    ASSERT_TRUE(lexicon_.loadCharDictionary(U16(chars.string())));
    ASSERT_TRUE(lexicon_.loadPhraseDictionary(U16(words.string())));
  }
  std::string Read(std::string_view text) {
    return FormatSyllables(ReadLine(lexicon_, U16(text)));
  }
  TempDir dir_;
  PinyinLexicon lexicon_;
};

TEST_F(ReadLineAsEngine, ReadsWordsAndAppliesSandhiWithinARun) {
  EXPECT_EQ(Read("银行"), "yin2 hang2");
  EXPECT_EQ(Read("你好"), "ni2 hao3");
  EXPECT_EQ(Read("一个"), "yi2 ge4");
}

TEST_F(ReadLineAsEngine, CutsRunsAtOtherCharactersSoSandhiStopsThere) {
  EXPECT_EQ(Read("你a好"), "ni3 hao3");
  EXPECT_EQ(Read("你，好"), "ni3 hao3");
  EXPECT_EQ(Read("ab 你好 cd"), "ni2 hao3");
}

TEST_F(ReadLineAsEngine, GivesNothingForTextWithoutHan) {
  EXPECT_EQ(Read(""), "");
  EXPECT_EQ(Read("hello, 123"), "");
}

TEST(SandhiForText, AppliesTheEngineRulesToGivenSyllables) {
  const auto out =
      SandhiForText(U16("一个不对你好"),
                    Pieces({"yi1", "ge4", "bu4", "dui4", "ni3", "hao3"}));
  ASSERT_TRUE(out);
  EXPECT_EQ(FormatSyllables(*out), "yi2 ge4 bu2 dui4 ni2 hao3");
}

TEST(SandhiForText, KeepsRunsApartAsTheEngineDoes) {
  const auto out = SandhiForText(U16("你 好"), Pieces({"ni3", "hao3"}));
  ASSERT_TRUE(out);
  EXPECT_EQ(FormatSyllables(*out), "ni3 hao3");
}

TEST(SandhiForText, KeepsPlaceholdersAligned) {
  const auto out = SandhiForText(U16("你好"), Pieces({"-", "hao3"}));
  ASSERT_TRUE(out);
  EXPECT_EQ(FormatSyllables(*out), "- hao3");
}

TEST(SandhiForText, RefusesCountsThatDoNotMatchTheCharacters) {
  EXPECT_FALSE(SandhiForText(U16("你好"), Pieces({"ni3"})));
  EXPECT_FALSE(SandhiForText(U16("你好"), Pieces({"ni3", "hao3", "ma0"})));
  EXPECT_FALSE(SandhiForText(U16("你好"), Pieces({"ni3", "hao"})));
}

TEST(CheckDictionaryFile, AcceptsSpeakableReadingsOfBothForms) {
  TempDir dir;
  const auto chars = dir.Write("pinyin.txt",
                               "# comment\n"
                               "U+4E2D: zhōng,zhòng  # 中 ê in a comment\n"
                               "\xE5\x97\xAF: ńg,ňg,ǹg\n"
                               "U+7EFF: lǜ,lù\n");
  const auto check = CheckDictionaryFile(U16(chars.string()), false);
  EXPECT_TRUE(check.opened);
  EXPECT_EQ(check.entries, 3u);
  EXPECT_EQ(check.readings, 7u);
  EXPECT_TRUE(check.problems.empty());
}

TEST(CheckDictionaryFile, ReportsUnspeakableReadingsWithTheirLines) {
  TempDir dir;
  const auto chars = dir.Write("pinyin.txt",
                               "U+6B38: ê,ēi  # 欸\n"
                               "\n"
                               "U+5677: hm  # 噷\n"
                               "U+4E2D: zhong1\n");
  const auto check = CheckDictionaryFile(U16(chars.string()), false);
  ASSERT_EQ(check.problems.size(), 3u);
  EXPECT_EQ(check.problems[0].line, 1u);
  EXPECT_EQ(check.problems[0].reading, "ê");
  EXPECT_EQ(check.problems[1].line, 3u);
  EXPECT_EQ(check.problems[1].reading, "hm");
  EXPECT_EQ(check.problems[2].reading, "zhong1");
}

TEST(CheckDictionaryFile, SplitsWordReadingsAtSpacesAndReadsHashAsReading) {
  TempDir dir;
  const auto words = dir.Write("phrases.txt",
                               "中国: zhōng guó\n"
                               "中国: zhōng guó # note\n");
  const auto check = CheckDictionaryFile(U16(words.string()), true);
  EXPECT_EQ(check.entries, 2u);
  ASSERT_EQ(check.problems.size(), 2u);
  EXPECT_EQ(check.problems[0].reading, "#");
  EXPECT_EQ(check.problems[1].reading, "note");
}

TEST(CheckDictionaryFile, ReportsAFileThatCannotBeRead) {
  TempDir dir;
  const auto check =
      CheckDictionaryFile(dir.u16path() + u"/missing.txt", false);
  EXPECT_FALSE(check.opened);
}

// The program as a user runs it: dictionaries found beside it, or named;
// every way of not having them is an error.
TEST(VeskPinyinTool, FindsItsDictionariesBesideItOrFailsClearly) {
  TempDir tree;
  // The layout of a build tree, wherever it has been moved: the tool in
  // tools/<name>/, the engine directory beside tools/.
  std::filesystem::create_directories(tree.path() / "tools/vesk-pinyin");
  std::filesystem::create_directories(tree.path() / "engine");
  const auto program = tree.path() / "tools/vesk-pinyin/vesk-pinyin";
  std::filesystem::copy_file(VESK_PINYIN_TOOL, program);
  const auto text = tree.Write("in.txt", "中国\n");
  const auto run = [&](const std::vector<std::string>& args) {
    return test::RunTool(program.string(), args, tree.path(), text);
  };
  const test::ToolRun none = run({});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("no dictionaries found"), std::string::npos)
      << none.err;
  EXPECT_TRUE(none.out.empty());

  tree.Write("engine/pinyin.txt", "U+4E2D: zhōng\nU+56FD: guó\n");
  const test::ToolRun found = run({});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_EQ(found.out, "zhong1 guo2\n");

  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string empty = (tree.path() / "tools").string();
  for (const Case& c : std::vector<Case>{
           {{"--dict-dir", empty}, "no dictionary could be read"},
           {{"--pinyin", empty}, "it is a directory"},
           {{(tree.path() / "engine").string()}, "it is a directory"},
           {{(tree.path() / "missing.txt").string()}, "No such file"},
           {{"--check", "--dict-dir", empty}, "cannot read"},
           {{"--no-such-option"}, ""}}) {
    const test::ToolRun failed = run(c.args);
    EXPECT_EQ(failed.exitCode, c.message.empty() ? 2 : 1)
        << testing::PrintToString(c.args);
    EXPECT_NE(failed.err.find(c.message), std::string::npos)
        << testing::PrintToString(c.args) << ": " << failed.err;
  }
  const test::ToolRun version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("vesk-pinyin ", 0), 0u) << version.out;
}

}  // namespace
}  // namespace vesk::tool
