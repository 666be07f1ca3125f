// Start-up as a host sees it: the engine's own directory, its messages in
// order, and what a second Initialize or an Uninitialize does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

// The built-in neutral-tone words the lexicon starts with.
constexpr std::size_t kBuiltInWords = 104;

// A voice with the letter units a..e, the punctuation unit and the unit of
// the syllable zhong1.
std::vector<uint8_t> SmallMarkerVoice(int32_t sampleRate) {
  std::vector<int32_t> units = {kPunctuationUnit,
                                SyllableUnitIndex("zhong", 1)};
  for (char c = 'a'; c <= 'e'; ++c) units.push_back(LetterUnit(c));
  return BuildMarkerVoice(sampleRate, units, 100);
}

std::vector<LogLine> firstLogs;
void RecordFirst(int32_t level, const char16_t* text) {
  firstLogs.push_back({level, text});
}
int throwsSeen = 0;
void ThrowingLog(int32_t level, const char16_t* text) {
  RecordLog(level, text);
  ++throwsSeen;
  throw std::runtime_error("host log failure");
}

// A log callback that calls Initialize again for every message.
const HostApi* reentered = nullptr;
std::vector<std::pair<std::u16string, bool>> reentryResults;
void ReenteringLog(int32_t level, const char16_t* text) {
  RecordLog(level, text);
  reentryResults.emplace_back(text, reentered->Initialize(&ReenteringLog));
}

class HostStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearRecordedLogs();
    firstLogs.clear();
    ASSERT_TRUE(library.ok()) << library.error();
  }
  void TearDown() override {
    if (library.ok()) library->Uninitialize();
  }
  void WriteVoice(const std::string& name) {
    dir.Write(name, BuildMarkerVoice(16000, {1, 2, 3}, 4));
  }
  std::u16string In(const std::string& name) const {
    return U16((dir.path() / name).string());
  }
  std::vector<std::u16string> VoiceNames() const {
    uint32_t count = 0;
    library->GetVoiceList(nullptr, &count);
    std::vector<std::vector<char16_t>> buffers(count,
                                               std::vector<char16_t>(128));
    std::vector<char16_t*> names;
    for (auto& buffer : buffers) names.push_back(buffer.data());
    library->GetVoiceList(names.data(), &count);
    std::vector<std::u16string> result;
    for (auto* name : names) result.emplace_back(name);
    return result;
  }

  TempDir dir;
  HostLibrary library{dir.path()};
};

TEST_F(HostStartupTest, LogsDictionariesVoiceAndCompletionInOrder) {
  dir.Write("pinyin.txt", std::string("中: zhōng\n国: guó\n好: hǎo\n"));
  dir.Write("phrases.txt", std::string("中国: zhōng guó\n"));
  WriteVoice("a.vl");
  ASSERT_TRUE(library->Initialize(&RecordLog));
  const std::vector<LogLine> expected = {
      {1, U16("加载拼音字典: 3 个汉字")},
      {1, U16("加载词语字典: ") + U16(std::to_string(kBuiltInWords + 1)) +
              U16(" 个词语")},
      {1, U16("加载语音库 a: 3 条目")},
      {1, U16("Halden语音插件初始化完成，加载了 1 个语音库")}};
  EXPECT_EQ(RecordedLogs(), expected) << Describe(RecordedLogs());
}

TEST_F(HostStartupTest, WithoutDictionariesOrVoicesItFails) {
  EXPECT_FALSE(library->Initialize(&RecordLog));
  const std::vector<LogLine> expected = {
      {2, U16("未找到pinyin.txt，使用内置轻声词库")},
      {4, U16("未找到语音库文件(.vl)")}};
  EXPECT_EQ(RecordedLogs(), expected) << Describe(RecordedLogs());
  EXPECT_FALSE(library->Speak(nullptr, u"abc", 0));
}

TEST_F(HostStartupTest, WithoutDictionariesAVoiceStartsWithTheFallback) {
  dir.Write("voice.vl", SmallMarkerVoice(16000));
  ASSERT_TRUE(library->Initialize(&RecordLog));
  const std::vector<LogLine> expected = {
      {2, U16("未找到pinyin.txt，使用内置轻声词库")},
      {1, U16("加载语音库 voice: 7 条目")},
      {1, U16("Halden语音插件初始化完成，加载了 1 个语音库")}};
  EXPECT_EQ(RecordedLogs(), expected) << Describe(RecordedLogs());
}

// A directory with a Chinese name: the engine finds itself and its files
// through UTF-16 paths, and reads dictionaries with a byte-order mark, CRLF
// line ends and U+ code points.
TEST_F(HostStartupTest, LoadsDictionariesBesideItselfInAChineseNamedDirectory) {
  const std::filesystem::path engine =
      dir.path() / std::filesystem::path(u8"语音引擎");
  std::filesystem::create_directory(engine);
  const auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(engine / name, std::ios::binary) << bytes;
  };
  write("pinyin.txt",
        "\xEF\xBB\xBF# readings\r\nU+4E2D: zh\xC5\x8Dng,zh\xC3\xB2ng\r\n"
        "\xE5\x9B\xBD: gu\xC3\xB3\r\n");
  write("phrases.txt", "\xE4\xB8\xAD\xE5\x9B\xBD: zh\xC5\x8Dng gu\xC3\xB3\n");
  const auto bytes = [](const std::vector<uint8_t>& voice) {
    return std::string(voice.begin(), voice.end());
  };
  write("b.vl", bytes(SmallMarkerVoice(22050)));
  write("a.vl", bytes(SmallMarkerVoice(11025)));
  HostLibrary other(engine);
  ASSERT_TRUE(other.ok()) << other.error();
  ASSERT_TRUE(other->Initialize(&RecordLog));
  const auto logs = RecordedLogs();
  ASSERT_EQ(logs.size(), 5u) << Describe(logs);
  EXPECT_EQ(logs[0], (LogLine{1, U16("加载拼音字典: 2 个汉字")}));
  EXPECT_EQ(logs[1], (LogLine{1, U16("加载词语字典: 105 个词语")}));
  EXPECT_EQ(logs[4],
            (LogLine{1, U16("Halden语音插件初始化完成，加载了 2 个语音库")}));

  uint32_t count = 0;
  ASSERT_TRUE(other->GetVoiceList(nullptr, &count));
  ASSERT_EQ(count, 2u);
  std::vector<char16_t> first(128), second(128);
  char16_t* names[] = {first.data(), second.data()};
  ASSERT_TRUE(other->GetVoiceList(names, &count));
  EXPECT_EQ(std::u16string(first.data()), u"a");
  EXPECT_EQ(std::u16string(second.data()), u"b");

  AudioFormat format{};
  ASSERT_TRUE(other->GetAudioFormat(&format));
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(format.sampleRate, 11025);
  EXPECT_EQ(format.bitsPerSample, 16);
  ASSERT_TRUE(other->PrepareVoice(u"b"));
  ASSERT_TRUE(other->GetAudioFormat(&format));
  EXPECT_EQ(format.sampleRate, 22050);
  EXPECT_FALSE(other->PrepareVoice(u"B"));

  EngineInfo info{};
  ASSERT_TRUE(other->GetInfo(&info));
  EXPECT_EQ(std::u16string(info.name), U16("Halden语音"));
  EXPECT_EQ(std::u16string(info.version), u"1.1.0");

  ASSERT_TRUE(other->Uninitialize());
  EXPECT_EQ(RecordedLogs().back(), (LogLine{1, U16("Halden语音插件已卸载")}));
}

TEST_F(HostStartupTest, PerFileLinesFollowTheListingOrder) {
  WriteVoice("b.vl");
  dir.Write("bad.vl", std::string(27, '\0'));
  WriteVoice("a.vl");
  std::vector<LogLine> expected = {
      {2, U16("未找到pinyin.txt，使用内置轻声词库")}};
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name == "bad.vl") {
      expected.push_back({4, U16("语音库文件格式错误: ") + In(name)});
    } else if (name == "a.vl" || name == "b.vl") {
      expected.push_back(
          {1, U16("加载语音库 " + name.substr(0, 1) + ": 3 条目")});
    }
  }
  expected.push_back({1, U16("Halden语音插件初始化完成，加载了 2 个语音库")});
  ASSERT_TRUE(library->Initialize(&RecordLog));
  EXPECT_EQ(RecordedLogs(), expected) << Describe(RecordedLogs());
}

TEST_F(HostStartupTest, UpperCaseAndDotOnlyNamesAreNotVoices) {
  WriteVoice("x.VL");
  WriteVoice(".vl");
  EXPECT_FALSE(library->Initialize(&RecordLog));
  EXPECT_EQ(RecordedLogs().size(), 2u) << Describe(RecordedLogs());
  EXPECT_EQ(RecordedLogs().back(), (LogLine{4, U16("未找到语音库文件(.vl)")}));
}

TEST_F(HostStartupTest, SubDirectoryIsReportedAndDottedStemKept) {
  std::filesystem::create_directory(dir.path() / "y.vl");
  WriteVoice("a.b.vl");
  ASSERT_TRUE(library->Initialize(&RecordLog));
  const auto logs = RecordedLogs();
  EXPECT_NE(std::find(logs.begin(), logs.end(),
                      LogLine{4, U16("无法打开语音库文件: ") + In("y.vl")}),
            logs.end())
      << Describe(logs);
  EXPECT_EQ(VoiceNames(), (std::vector<std::u16string>{u"a.b"}));
  EXPECT_TRUE(library->PrepareVoice(u"a.b"));
}

TEST_F(HostStartupTest, SecondInitializeKeepsTheFirstCallback) {
  WriteVoice("a.vl");
  ASSERT_TRUE(library->Initialize(&RecordFirst));
  const std::size_t firstCount = firstLogs.size();
  EXPECT_TRUE(library->Initialize(&RecordLog));
  EXPECT_TRUE(RecordedLogs().empty());
  EXPECT_EQ(firstLogs.size(), firstCount);
  ASSERT_TRUE(library->Uninitialize());
  EXPECT_EQ(firstLogs.back(), (LogLine{1, U16("Halden语音插件已卸载")}));
  EXPECT_TRUE(RecordedLogs().empty());
}

// Until the completion message the start-up under way has not succeeded;
// by the completion message it has, and a nested Initialize says so.
TEST_F(HostStartupTest, InitializeFromInsideTheLogCallbackSeesTheOutcome) {
  WriteVoice("a.vl");
  reentered = &library.api();
  reentryResults.clear();
  ASSERT_TRUE(library->Initialize(&ReenteringLog)) << Describe(RecordedLogs());
  ASSERT_EQ(reentryResults.size(), 3u) << Describe(RecordedLogs());
  EXPECT_EQ(reentryResults[0],
            std::pair(U16("未找到pinyin.txt，使用内置轻声词库"), false));
  EXPECT_FALSE(reentryResults[1].second);  // the voice file's line
  EXPECT_EQ(
      reentryResults[2],
      std::pair(U16("Halden语音插件初始化完成，加载了 1 个语音库"), true));
  EXPECT_EQ(VoiceNames(), (std::vector<std::u16string>{u"a"}));
}

// Decoded as on Windows, the two words are the same word: 中 and two
// replacement characters each.
TEST_F(HostStartupTest, BadUtf8InWordsCountsAsOnWindows) {
  dir.Write("phrases.txt", std::string("中\xED\xA0\x80: a\n中\xC0\x80: b\n"));
  WriteVoice("a.vl");
  ASSERT_TRUE(library->Initialize(&RecordLog));
  const std::vector<LogLine> logs = RecordedLogs();
  ASSERT_GE(logs.size(), 2u) << Describe(logs);
  EXPECT_EQ(logs[1],
            (LogLine{1, U16("加载词语字典: " +
                            std::to_string(kBuiltInWords + 1) + " 个词语")}));
}

TEST_F(HostStartupTest, InitializeAfterAFailedOneRunsAgain) {
  EXPECT_FALSE(library->Initialize(&RecordFirst));
  WriteVoice("late.vl");
  ASSERT_TRUE(library->Initialize(&RecordLog));
  EXPECT_EQ(RecordedLogs().back(),
            (LogLine{1, U16("Halden语音插件初始化完成，加载了 1 个语音库")}));
  EXPECT_EQ(VoiceNames(), (std::vector<std::u16string>{u"late"}));
}

TEST_F(HostStartupTest, UninitializeLogsOnceAndDropsTheCallbacks) {
  WriteVoice("a.vl");
  dir.Write("b.vl", BuildMarkerVoice(22050, {1, 2, 3}, 4));
  ASSERT_TRUE(library->Initialize(&RecordLog));
  ASSERT_TRUE(library->PrepareVoice(u"b"));
  library->SetPlayCallback(&RecordPlay);
  ClearRecordedLogs();
  EXPECT_TRUE(library->Uninitialize());
  EXPECT_EQ(RecordedLogs(),
            (std::vector<LogLine>{{1, U16("Halden语音插件已卸载")}}));
  EXPECT_EQ(library->SetPlayCallback(nullptr), nullptr);
  EXPECT_TRUE(library->Uninitialize());
  EXPECT_EQ(RecordedLogs().size(), 1u);
  uint32_t count = 9;
  library->GetVoiceList(nullptr, &count);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(library->Speak(nullptr, u"abc", 0));

  // A new start-up makes the first voice current again.
  ASSERT_TRUE(library->Initialize(&RecordLog));
  AudioFormat format{};
  ASSERT_TRUE(library->GetAudioFormat(&format));
  EXPECT_EQ(format.sampleRate, 16000);  // a, not the b chosen before
  EXPECT_EQ(VoiceNames().size(), 2u);
}

TEST_F(HostStartupTest, ThrowingLogCallbackDoesNotStopStartUp) {
  if (!kHostExceptionsReachTheEngine) {
    GTEST_SKIP() << "a C++ exception cannot leave a callback here";
  }
  WriteVoice("a.vl");
  throwsSeen = 0;
  EXPECT_TRUE(library->Initialize(&ThrowingLog));
  EXPECT_EQ(throwsSeen, 3);
  EXPECT_EQ(RecordedLogs().back(),
            (LogLine{1, U16("Halden语音插件初始化完成，加载了 1 个语音库")}));
  EXPECT_TRUE(library->Uninitialize());
  EXPECT_EQ(throwsSeen, 4);
}

}  // namespace
}  // namespace vesk::test
