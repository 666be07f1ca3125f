// Start-up where names are bytes, as on every POSIX system: names that are
// not UTF-8 reach the system as they are.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

class HostByteNamesTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearRecordedLogs(); }

  TempDir dir;
};

// Names are bytes here: a directory and a voice file whose names are not
// UTF-8 are opened with the bytes they have; only the voice name and the log
// lines, which reach the host, turn the stray bytes into U+FFFD.
TEST_F(HostByteNamesTest, NamesThatAreNotUtf8AreOpenedAsTheyAre) {
  const std::filesystem::path engine = dir.path() / "eng\xB5\xE7";
  std::filesystem::create_directory(engine);
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(engine / name, std::ios::binary) << bytes;
  };
  write("pinyin.txt", "中: zhōng\n国: guó\n");
  write("phrases.txt", "中国: zhōng guó\n");
  const std::vector<uint8_t> voice = BuildMarkerVoice(16000, {1, 2, 3}, 4);
  write("v\xB5.vl", std::string(voice.begin(), voice.end()));
  write("\xFF\xFE.txt", "not a voice");
  write("broken\xC0.vl", "");
  HostLibrary other(engine);
  ASSERT_TRUE(other.ok()) << other.error();
  ASSERT_TRUE(other->Initialize(&RecordLog)) << Describe(RecordedLogs());
  const std::vector<LogLine> logs = RecordedLogs();
  ASSERT_EQ(logs.size(), 5u) << Describe(logs);
  EXPECT_EQ(logs[0], (LogLine{1, U16("加载拼音字典: 2 个汉字")}));
  EXPECT_EQ(logs[1].level, 1);  // phrases.txt
  // The empty voice file is reported under its name, stray byte replaced.
  const LogLine empty = logs[2].level == 4 ? logs[2] : logs[3];
  EXPECT_EQ(empty.text, U16("语音库文件为空: " + dir.path().string() +
                            "/eng\uFFFD\uFFFD/broken\uFFFD.vl"));
  uint32_t count = 0;
  other->GetVoiceList(nullptr, &count);
  ASSERT_EQ(count, 1u);
  std::vector<char16_t> name(64);
  char16_t* names[] = {name.data()};
  other->GetVoiceList(names, &count);
  EXPECT_EQ(std::u16string(name.data()), u"v\uFFFD");
  EXPECT_TRUE(other->PrepareVoice(u"v\uFFFD"));
  other->Uninitialize();
}

}  // namespace
}  // namespace vesk::test
