#include "api/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "lexicon/pinyin_lexicon.h"
#include "support/test_files.h"

namespace vesk {
namespace {

using test::U16;

struct Line {
  int32_t level;
  std::u16string text;
  friend bool operator==(const Line&, const Line&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Line& line) {
    return out << line.level << ": " << test::U8(line.text);
  }
};

std::vector<Line> lines;
void Record(int32_t level, const char16_t* text) {
  lines.push_back({level, text});
}

std::u16string Decimal(std::size_t value) { return U16(std::to_string(value)); }

TEST(OwnLibraryPath, NamesTheFileHoldingTheEngine) {
  const auto path = OwnLibraryPath();
  ASSERT_TRUE(path);
  EXPECT_EQ(std::filesystem::path(test::U8(*path)),
            std::filesystem::read_symlink("/proc/self/exe"));
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lines.clear();
    engine.logCallback = &Record;
  }
  bool Run() { return RunStartup(engine, dir.u16path()); }
  std::u16string In(const std::string& name) const {
    return U16((dir.path() / name).string());
  }
  void WriteVoice(const std::string& name, int32_t rate) const {
    dir.Write(name, test::BuildMarkerVoice(rate, {1, 2}, 4));
  }
  test::TempDir dir;
  EngineState engine;
};

TEST_F(StartupTest, LogsEachStepInOrder) {
  dir.Write("pinyin.txt", std::string("中: zhōng\n国: guó\n"));
  dir.Write("phrases.txt", std::string("中国: zhōng guó\n"));
  WriteVoice("b.vl", 22050);
  ASSERT_TRUE(Run());
  const PinyinLexicon& lexicon = PinyinLexicon::instance();
  const std::vector<Line> expected = {
      {1, u"加载拼音字典: " + Decimal(lexicon.charCount()) + u" 个汉字"},
      {1, u"加载词语字典: " + Decimal(lexicon.phraseCount()) + u" 个词语"},
      {1, U16("加载语音库 b: 2 条目")},
      {1, U16("Halden语音插件初始化完成，加载了 1 个语音库")}};
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(engine.initialized);
  EXPECT_EQ(engine.currentVoiceName, u"b");
  EXPECT_EQ(engine.moduleDirectory, dir.u16path());
}

TEST_F(StartupTest, MissingAndUnreadableDictionariesAreWarnings) {
  WriteVoice("a.vl", 16000);
  ASSERT_TRUE(Run());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], (Line{2, U16("未找到pinyin.txt，使用内置轻声词库")}));

  lines.clear();
  engine.initialized = false;
  dir.Write("pinyin.txt", std::string("# only a comment\n"));
  dir.Write("phrases.txt", std::string("# only a comment\n"));
  ASSERT_TRUE(Run());
  ASSERT_EQ(lines.size(), 3u);  // nothing for phrases.txt
  EXPECT_EQ(lines[0], (Line{2, U16("拼音字典加载失败，使用内置轻声词库")}));
  EXPECT_EQ(lines[1], (Line{1, U16("加载语音库 a: 2 条目")}));
}

TEST_F(StartupTest, TwoVoicesAreLoadedAndTheFirstByNameIsCurrent) {
  WriteVoice("b.vl", 22050);
  WriteVoice("a.vl", 16000);
  engine.currentVoiceName = u"b";
  ASSERT_TRUE(Run());
  EXPECT_EQ(engine.workerContext.voices.Names(),
            (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(engine.currentVoiceName, u"a");
  EXPECT_EQ(lines.back(),
            (Line{1, U16("Halden语音插件初始化完成，加载了 2 个语音库")}));
}

TEST_F(StartupTest, OnlyTheExactLowerCaseExtensionCounts) {
  WriteVoice("x.VL", 16000);
  WriteVoice(".vl", 16000);
  WriteVoice("x.vl.bak", 16000);
  EXPECT_FALSE(Run());
  EXPECT_FALSE(engine.initialized);
  EXPECT_EQ(lines.back(), (Line{4, U16("未找到语音库文件(.vl)")}));
  EXPECT_EQ(lines.size(), 2u);  // no loader line at all
  EXPECT_EQ(engine.workerContext.voices.Count(), 0u);
}

TEST_F(StartupTest, SubDirectoryNamedLikeAVoiceIsReportedAndSkipped) {
  std::filesystem::create_directory(dir.path() / "y.vl");
  WriteVoice("a.b.vl", 16000);
  ASSERT_TRUE(Run());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Line{4, U16("无法打开语音库文件: ") + In("y.vl")}),
            lines.end());
  EXPECT_EQ(engine.workerContext.voices.Names(),
            (std::vector<std::u16string>{u"a.b"}));
}

TEST_F(StartupTest, FailedVoiceFilesAreSkipped) {
  dir.Write("bad.vl", std::string(27, '\0'));
  dir.Write("empty.vl", std::string());
  WriteVoice("good.vl", 16000);
  ASSERT_TRUE(Run());
  EXPECT_EQ(engine.workerContext.voices.Names(),
            (std::vector<std::u16string>{u"good"}));
  // Not-found warning, two loader errors, one loader line, completion.
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const Line& line) { return line.level == 4; }),
            2);
}

TEST_F(StartupTest, LaterListedVoiceOfTheSameNameWins) {
  // "a.vl:x" is cut at the colon, so both files are named a.
  dir.Write("a.vl", test::BuildMarkerVoice(11025, {1, 2}, 4));
  dir.Write("a.vl:x", test::BuildMarkerVoice(44100, {1, 2}, 4));
  std::string last;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    last = entry.path().filename().string();
  }
  ASSERT_TRUE(Run());
  ASSERT_EQ(engine.workerContext.voices.Count(), 1u);
  EXPECT_EQ(engine.workerContext.voices.First()->sampleRate,
            last == "a.vl" ? 11025 : 44100);
  EXPECT_EQ(engine.workerContext.voices.First()->path, In(last));
}

TEST_F(StartupTest, UnlistableDirectoryIsAnError) {
  const std::u16string missing = In("missing");
  EXPECT_FALSE(RunStartup(engine, missing));
  EXPECT_FALSE(engine.initialized);
  EXPECT_EQ(lines.back(), (Line{4, U16("无法列出目录: ") + missing}));
}

TEST_F(StartupTest, ExistenceTestErrorIsAnError) {
  // A symbolic link to itself cannot be resolved: neither there nor absent.
  ASSERT_EQ(::symlink("pinyin.txt", (dir.path() / "pinyin.txt").c_str()), 0);
  WriteVoice("a.vl", 16000);
  EXPECT_FALSE(Run());
  EXPECT_FALSE(engine.initialized);
  EXPECT_EQ(lines,
            (std::vector<Line>{{4, U16("无法访问文件: ") + In("pinyin.txt")}}));
}

TEST_F(StartupTest, NoLogCallbackIsFine) {
  engine.logCallback = nullptr;
  WriteVoice("a.vl", 16000);
  EXPECT_TRUE(Run());
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace vesk
