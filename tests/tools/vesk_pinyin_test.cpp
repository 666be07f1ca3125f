// vesk-pinyin's logic: the engine's reading of text line by line, sandhi over
// given syllables, and the dictionary check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "frontend/phonetic_tables.h"
#include "pinyin_tool.h"
#include "support/test_files.h"
#include "tools/tool_runner.h"
#include "voice/voice.h"
#include "worker/speech_worker.h"
#include "worker/text_walk.h"

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

// ---- What vesk-pinyin prints is what the worker plays --------------------

// The unit each printed piece names: a syllable's own tone, a letter's name,
// the pause; nothing for "-".
std::vector<int32_t> PrintedUnits(const std::string& printed) {
  std::vector<int32_t> units;
  std::istringstream pieces(printed);
  for (std::string piece; pieces >> piece;) {
    if (piece == ",") {
      units.push_back(kPunctuationUnit);
    } else if (piece.size() == 1 && piece[0] >= 'A' && piece[0] <= 'Z') {
      units.push_back(LetterUnit(char(piece[0] - 'A' + 'a')));
    } else if (const auto s = ParseToneDigitSyllable(piece); s) {
      const int32_t unit = SyllableUnitIndex(s->pinyin, s->tone);
      if (unit >= 0) units.push_back(unit);
    } else {
      ADD_FAILURE() << "printed piece " << piece;
    }
  }
  return units;
}

// The texts the speak fuzz target starts from, decoded as it decodes them.
std::vector<std::u16string> SpeakCorpus() {
  using namespace std::literals;
  constexpr std::u16string_view kAlphabet =
      u"中国人我们你好很是的了天气说话语音不一二三十百千万亿两水果老虎绿女嗯"
      u"呣丁龥abcXYZ0123456789 \n!,.?。！，？；\xD800\xDC00\uFFFD\0"sv;
  std::vector<std::u16string> texts;
  for (const auto& entry :
       std::filesystem::directory_iterator(VESK_SPEAK_CORPUS)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(file), {}};
    if (data.size() < 4) continue;
    std::u16string text;
    for (std::size_t i = 4; i < data.size(); ++i) {
      const auto byte = static_cast<unsigned char>(data[i]);
      if (data[3] & 1) {
        text += kAlphabet[byte % kAlphabet.size()];
      } else if (i % 2 == 0 && i + 1 < data.size()) {
        text += char16_t(byte | static_cast<unsigned char>(data[i + 1]) << 8);
      }
    }
    texts.push_back(text);
  }
  return texts;
}

void Record(void* target, const char16_t*, const int16_t* samples,
            int32_t byteCount, int32_t) {
  auto& out = *static_cast<std::vector<int16_t>*>(target);
  if (samples != nullptr)
    out.insert(out.end(), samples, samples + byteCount / 2);
}

// The units the worker plays for text with a marker voice that has a unit
// for everything the walk says, so that no tone stands in for another.
std::vector<int32_t> PlayedUnits(const PinyinLexicon& lexicon,
                                 std::u16string_view text,
                                 const std::set<int32_t>& units,
                                 const TempDir& dir) {
  constexpr std::size_t kPerUnit = 4;
  const auto path = dir.Write(
      "walk.vl",
      test::BuildMarkerVoice(
          16000, std::vector<int32_t>(units.begin(), units.end()), kPerUnit));
  Voice voice;
  voice.name = u"walk";
  EXPECT_TRUE(voice.Load(U16(path.string()), [](int32_t, const auto&) {}));
  WorkerContext context;
  context.voices.Add(std::move(voice));
  std::vector<int16_t> samples;
  context.sink = {Record, &samples};
  context.running = true;
  SpeakUtterance(context, {u"", std::u16string(text), 0, nullptr}, lexicon);
  std::vector<int32_t> played;
  for (std::size_t i = 0; i + kPerUnit <= samples.size(); i += kPerUnit) {
    played.push_back(samples[i]);
  }
  return played;
}

TEST(SpokenLine, PrintsWhatTheWorkerPlaysOverTheSpeakCorpus) {
  TempDir dir;
  const auto chars =
      dir.Write("pinyin.txt",
                "零: líng\n一: yī\n二: èr\n三: sān\n四: sì\n五: wǔ\n六: liù\n"
                "七: qī\n八: bā\n九: jiǔ\n十: shí\n百: bǎi\n千: qiān\n万: wàn\n"
                "亿: yì\n两: liǎng\n不: bù\n中: zhōng,zhòng\n国: guó\n人: rén\n"
                "我: wǒ\n你: nǐ\n好: hǎo\n很: hěn\n是: shì\n的: de\n了: le\n"
                "们: men\n天: tiān\n气: qì\n有: yǒu\n元: yuán\n");
  const auto words = dir.Write("phrases.txt", "我们: wǒ men\n不是: bú shì\n");
  PinyinLexicon lexicon;
  ASSERT_TRUE(lexicon.loadCharDictionary(U16(chars.string())));
  ASSERT_TRUE(lexicon.loadPhraseDictionary(U16(words.string())));
  std::vector<std::u16string> texts = SpeakCorpus();
  ASSERT_FALSE(texts.empty());
  texts.push_back(u"我有120000元，3.14 abcXYZ 12345678901。");
  for (const std::u16string& text : texts) {
    const std::string printed = SpokenLine(lexicon, text);
    const std::vector<int32_t> expected = PrintedUnits(printed);
    const std::set<int32_t> units(expected.begin(), expected.end());
    if (units.empty()) continue;
    EXPECT_EQ(PlayedUnits(lexicon, text, units, dir), expected) << printed;
  }
}

TEST(SpokenLine, PrintsTheNumbersAndLettersTheEngineSays) {
  TempDir dir;
  const auto chars = dir.Write(
      "pinyin.txt", "我: wǒ\n有: yǒu\n十: shí\n二: èr\n万: wàn\n元: yuán\n");
  PinyinLexicon lexicon;
  ASSERT_TRUE(lexicon.loadCharDictionary(U16(chars.string())));
  EXPECT_EQ(SpokenLine(lexicon, u"我有120000元"),
            "wo2 you3 shi2 er4 wan4 yuan2");
  EXPECT_EQ(SpokenLine(lexicon, u"Ab。12345678901"),
            "A B , yi1 er4 san1 si4 wu3 liu4 qi1 ba1 jiu3 ling2 yi1");
  EXPECT_EQ(FormatSyllables(ReadLine(lexicon, u"我有120000元")),
            "wo2 you3 yuan2");
}

}  // namespace
}  // namespace vesk::tool
