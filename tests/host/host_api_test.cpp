// The exports as a host sees them: one private engine per test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

LogCallback logVariable = &RecordLog;  // writable: the host's variable

class HostApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearRecordedLogs();
    ClearRecordedPlays();
    SetPlayHook({});
    ASSERT_TRUE(library.ok()) << library.error();
  }
  void TearDown() override {
    if (library.ok()) library->Uninitialize();
  }
  void WriteVoice(const std::string& name, int32_t rate) {
    dir.Write(name, BuildMarkerVoice(rate, {1, 2, 3}, 4));
  }

  TempDir dir;
  HostLibrary library{dir.path()};
};

TEST_F(HostApiTest, EveryExportResolvesByName) {
  for (const std::string& name : ExportNames()) {
    EXPECT_NE(library.Symbol(name.c_str()), nullptr) << name;
  }
}

TEST_F(HostApiTest, InfoNamesTheEngineAndVersion) {
  EngineInfo info;
  std::memset(&info, 0x55, sizeof info);
  ASSERT_TRUE(library->GetInfo(&info));
  EXPECT_EQ(std::u16string(info.name), U16("Halden语音"));
  EXPECT_EQ(std::u16string(info.version), u"1.1.0");
  EXPECT_EQ(info.name[127], char16_t(0x5555));
  const auto* raw = reinterpret_cast<const char16_t*>(&info);
  EXPECT_EQ(std::u16string(raw + 128), u"1.1.0");
}

TEST_F(HostApiTest, NullArgumentsAreRefused) {
  uint32_t count = 0;
  char16_t* names[1] = {nullptr};
  EXPECT_FALSE(library->GetInfo(nullptr));
  EXPECT_FALSE(library->GetVoiceList(nullptr, nullptr));
  EXPECT_FALSE(library->GetVoiceList(names, nullptr));
  EXPECT_FALSE(library->PrepareVoice(nullptr));
  EXPECT_FALSE(library->GetAudioFormat(nullptr));
  EXPECT_FALSE(library->Speak(nullptr, nullptr, 0));
  EXPECT_TRUE(library->GetVoiceList(nullptr, &count));
}

TEST_F(HostApiTest, FreshEngineAnswersWithoutVoices) {
  uint32_t count = 77;
  EXPECT_TRUE(library->GetVoiceList(nullptr, &count));
  EXPECT_EQ(count, 0u);
  AudioFormat format{};
  EXPECT_TRUE(library->GetAudioFormat(&format));
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(format.sampleRate, 16000);
  EXPECT_EQ(format.bitsPerSample, 16);
  EXPECT_FALSE(library->PrepareVoice(u"a"));
  EXPECT_FALSE(library->Pause());
  EXPECT_FALSE(library->Resume());
  EXPECT_TRUE(library->Stop());
  EXPECT_FALSE(library->Speak(nullptr, u"abc", 1));
  EXPECT_TRUE(library->Uninitialize());
  EXPECT_TRUE(RecordedLogs().empty());
  for (auto set : {library->SetRate, library->SetPitch, library->SetVolume}) {
    EXPECT_TRUE(set(12345, -5));
    EXPECT_TRUE(set(0, 101));
  }
}

TEST_F(HostApiTest, VoiceListFillsOnlyAsManyBuffersAsVoices) {
  WriteVoice("c.vl", 8000);
  WriteVoice("a.vl", 16000);
  WriteVoice("B.vl", 22050);
  ASSERT_TRUE(library->Initialize(&RecordLog)) << Describe(RecordedLogs());
  uint32_t count = 0;
  ASSERT_TRUE(library->GetVoiceList(nullptr, &count));
  ASSERT_EQ(count, 3u);

  std::vector<std::vector<char16_t>> buffers(5,
                                             std::vector<char16_t>(128, u'#'));
  std::vector<char16_t*> names;
  for (auto& buffer : buffers) names.push_back(buffer.data());
  count = 5;
  ASSERT_TRUE(library->GetVoiceList(names.data(), &count));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(std::u16string(names[0]), u"B");
  EXPECT_EQ(std::u16string(names[1]), u"a");
  EXPECT_EQ(std::u16string(names[2]), u"c");
  EXPECT_EQ(buffers[3], std::vector<char16_t>(128, u'#'));
  EXPECT_EQ(buffers[4], std::vector<char16_t>(128, u'#'));

  std::vector<char16_t> first(128, u'#');
  char16_t* one[1] = {first.data()};
  count = 1;
  ASSERT_TRUE(library->GetVoiceList(one, &count));
  EXPECT_EQ(std::u16string(first.data()), u"B");
}

TEST_F(HostApiTest, CurrentVoiceDecidesTheAudioFormat) {
  WriteVoice("a.vl", 16000);
  WriteVoice("b.vl", 22050);
  ASSERT_TRUE(library->Initialize(&RecordLog));
  AudioFormat format{};
  ASSERT_TRUE(library->GetAudioFormat(&format));
  EXPECT_EQ(format.sampleRate, 16000);
  EXPECT_FALSE(library->PrepareVoice(u"B"));
  EXPECT_TRUE(library->PrepareVoice(u"b"));
  ASSERT_TRUE(library->GetAudioFormat(&format));
  EXPECT_EQ(format.sampleRate, 22050);
}

TEST_F(HostApiTest, PlayCallbackExchangeReturnsThePreviousOne) {
  EXPECT_EQ(library->SetPlayCallback(&RecordPlay), nullptr);
  EXPECT_EQ(library->SetPlayCallback(nullptr), &RecordPlay);
  EXPECT_EQ(library->SetPlayCallback(nullptr), nullptr);
}

TEST_F(HostApiTest, PlayCallbackGivenThroughAVariableIsDereferenced) {
  PlayCallback variable = &RecordPlay;
  EXPECT_EQ(library->SetPlayCallback(reinterpret_cast<PlayCallback>(&variable)),
            nullptr);
  EXPECT_EQ(library->SetPlayCallback(nullptr), &RecordPlay);
}

TEST_F(HostApiTest, LogCallbackGivenThroughAVariableReachesTheHost) {
  WriteVoice("a.vl", 16000);
  ASSERT_TRUE(library->Initialize(reinterpret_cast<LogCallback>(&logVariable)));
  EXPECT_EQ(RecordedLogs().size(), 3u) << Describe(RecordedLogs());
}

// Heap memory: private, writable, not executable.
TEST_F(HostApiTest, LogCallbackHeldInAHeapVariableIsDereferenced) {
  WriteVoice("a.vl", 16000);
  auto holder = std::make_unique<LogCallback>(&RecordLog);
  ASSERT_TRUE(library->Initialize(reinterpret_cast<LogCallback>(holder.get())));
  EXPECT_EQ(RecordedLogs().size(), 3u) << Describe(RecordedLogs());
  library->Uninitialize();
}

TEST_F(HostApiTest, ClampedVolumeMatchesTheLimit) {
  const int32_t a = LetterUnit('a');
  const int32_t b = LetterUnit('b');
  dir.Write("v.vl", BuildVoiceFile(16000, {{a, {20000, -20000, 123}},
                                           {b, {-1001, 1001, 7}}}));
  ASSERT_TRUE(library->Initialize(&RecordLog));
  library->SetPlayCallback(&RecordPlay);
  const auto samplesAt = [&](int32_t volume) {
    ClearRecordedPlays();
    library->SetVolume(0, volume);
    EXPECT_TRUE(library->Speak(nullptr, u"ab", 0));
    EXPECT_TRUE(WaitForCompletion());
    std::vector<int16_t> samples;
    for (const PlayCall& call : RecordedPlays()) {
      samples.insert(samples.end(), call.samples.begin(), call.samples.end());
    }
    return samples;
  };
  const auto loudest = samplesAt(100);
  EXPECT_EQ(samplesAt(250), loudest);
  EXPECT_EQ(samplesAt(INT32_MAX), loudest);
  const auto silent = samplesAt(0);
  EXPECT_EQ(silent, std::vector<int16_t>(silent.size(), 0));
  EXPECT_EQ(samplesAt(-5), silent);
  EXPECT_NE(loudest, silent);
}

}  // namespace
}  // namespace vesk::test
