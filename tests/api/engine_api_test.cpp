#include "api/engine_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace vesk {
namespace {

Voice MakeVoice(std::u16string name, int32_t sampleRate) {
  Voice voice;
  voice.name = std::move(name);
  voice.sampleRate = sampleRate;
  return voice;
}

int32_t PlayA(const char16_t*, const int16_t*, int32_t, int32_t) { return 1; }
int32_t PlayB(const char16_t*, const int16_t*, int32_t, int32_t) { return 2; }
void LogNothing(int32_t, const char16_t*) {}

TEST(Settings, ValuesAreClampedTo0Through100) {
  EXPECT_EQ(ClampSetting(-5), 0);
  EXPECT_EQ(ClampSetting(0), 0);
  EXPECT_EQ(ClampSetting(37), 37);
  EXPECT_EQ(ClampSetting(100), 100);
  EXPECT_EQ(ClampSetting(101), 100);
  EXPECT_EQ(ClampSetting(INT32_MIN), 0);
  EXPECT_EQ(ClampSetting(INT32_MAX), 100);
}

TEST(Settings, RatePitchAndVolumeStoreClampedValues) {
  EngineState engine;
  EXPECT_EQ(engine.workerContext.rate.load(), 50);
  EXPECT_EQ(engine.workerContext.pitch.load(), 50);
  EXPECT_EQ(engine.workerContext.volume.load(), 50);
  EXPECT_TRUE(SetRate(engine, -5));
  EXPECT_TRUE(SetPitch(engine, 101));
  EXPECT_TRUE(SetVolume(engine, 42));
  EXPECT_EQ(engine.workerContext.rate.load(), 0);
  EXPECT_EQ(engine.workerContext.pitch.load(), 100);
  EXPECT_EQ(engine.workerContext.volume.load(), 42);
}

TEST(GetInfo, FillsNameAndVersionFields) {
  EngineInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_TRUE(GetInfo(&info));
  EXPECT_EQ(std::u16string(info.name), test::U16("Halden语音"));
  EXPECT_EQ(std::u16string(info.version), u"1.1.0");
  // Bytes past each terminator are the caller's.
  EXPECT_EQ(info.name[9], char16_t(0xABAB));
  EXPECT_EQ(info.version[6], char16_t(0xABAB));
  EXPECT_FALSE(GetInfo(nullptr));
}

TEST(CopyTruncated, CutsAtCapacityMinusOneAndTerminates) {
  char16_t buffer[5];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  CopyTruncated(buffer, 4, u"abcdef");
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(buffer[4], u'#');
  CopyTruncated(buffer, 4, u"");
  EXPECT_EQ(buffer[0], u'\0');
  EXPECT_EQ(buffer[1], u'b');
}

class VoiceListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.workerContext.voices.Add(MakeVoice(u"c", 8000));
    engine.workerContext.voices.Add(MakeVoice(u"a", 16000));
    engine.workerContext.voices.Add(
        MakeVoice(std::u16string(200, u'b'), 22050));
  }
  EngineState engine;
};

TEST_F(VoiceListTest, NullArrayAsksForTheCount) {
  uint32_t count = 99;
  EXPECT_TRUE(GetVoiceList(engine, nullptr, &count));
  EXPECT_EQ(count, 3u);
  EXPECT_FALSE(GetVoiceList(engine, nullptr, nullptr));
}

TEST_F(VoiceListTest, FillsUpToCountInNameOrderAndTouchesNothingElse) {
  std::vector<std::vector<char16_t>> buffers(5,
                                             std::vector<char16_t>(130, u'#'));
  std::vector<char16_t*> names;
  for (auto& buffer : buffers) names.push_back(buffer.data());

  uint32_t count = 2;
  EXPECT_TRUE(GetVoiceList(engine, names.data(), &count));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::u16string(names[0]), u"a");
  EXPECT_EQ(std::u16string(names[1]), std::u16string(127, u'b'));
  EXPECT_EQ(buffers[1][128], u'#');
  EXPECT_EQ(buffers[2][0], u'#');

  count = 5;
  EXPECT_TRUE(GetVoiceList(engine, names.data(), &count));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(std::u16string(names[2]), u"c");
  EXPECT_EQ(buffers[3], std::vector<char16_t>(130, u'#'));
  EXPECT_EQ(buffers[4], std::vector<char16_t>(130, u'#'));
}

TEST_F(VoiceListTest, PrepareVoiceNeedsTheExactName) {
  engine.currentVoiceName = u"c";
  EXPECT_FALSE(PrepareVoice(engine, u"A"));
  EXPECT_FALSE(PrepareVoice(engine, nullptr));
  EXPECT_EQ(engine.currentVoiceName, u"c");
  EXPECT_TRUE(PrepareVoice(engine, u"a"));
  EXPECT_EQ(engine.currentVoiceName, u"a");
}

TEST_F(VoiceListTest, AudioFormatFollowsTheCurrentVoiceOrTheFirst) {
  AudioFormat format{};
  engine.currentVoiceName = u"c";
  ASSERT_TRUE(GetAudioFormat(engine, &format));
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(format.sampleRate, 8000);
  EXPECT_EQ(format.bitsPerSample, 16);
  engine.currentVoiceName = u"gone";
  ASSERT_TRUE(GetAudioFormat(engine, &format));
  EXPECT_EQ(format.sampleRate, 16000);
  EXPECT_FALSE(GetAudioFormat(engine, nullptr));
}

TEST(GetAudioFormat, Reports16000HzWithoutVoices) {
  EngineState engine;
  int32_t record[4] = {7, 7, 7, 7};
  ASSERT_TRUE(GetAudioFormat(engine, reinterpret_cast<AudioFormat*>(record)));
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[1], 16000);
  EXPECT_EQ(record[2], 16);
  EXPECT_EQ(record[3], 7);  // exactly 12 bytes written
}

TEST(IdleEngine, PauseResumeAreFalseStopIsTrue) {
  EngineState engine;
  EXPECT_FALSE(Pause(engine));
  EXPECT_FALSE(Resume(engine));
  EXPECT_FALSE(engine.workerContext.paused.load());
  EXPECT_TRUE(Stop(engine));
  EXPECT_FALSE(Speak(engine, nullptr, u"abc", 0));  // not initialised
  EXPECT_FALSE(engine.workerContext.running.load());
}

TEST(IdleEngine, PauseAndResumeActWhileRunning) {
  EngineState engine;
  engine.workerContext.running = true;
  EXPECT_TRUE(Pause(engine));
  EXPECT_TRUE(engine.workerContext.paused.load());
  EXPECT_TRUE(Resume(engine));
  EXPECT_FALSE(engine.workerContext.paused.load());
}

TEST(SetPlayCallback, ReturnsTheCallbackStoredBefore) {
  EngineState engine;
  EXPECT_EQ(SetPlayCallback(engine, &PlayA), nullptr);
  EXPECT_EQ(SetPlayCallback(engine, &PlayB), &PlayA);
  EXPECT_EQ(SetPlayCallback(engine, nullptr), &PlayB);
  EXPECT_EQ(engine.playCallback.load(), nullptr);
}

TEST(Uninitialize, DoesNothingWhenNotInitialised) {
  EngineState engine;
  engine.logCallback = &LogNothing;
  engine.playCallback = &PlayA;
  EXPECT_TRUE(Uninitialize(engine));
  EXPECT_EQ(engine.logCallback.load(), &LogNothing);
  EXPECT_EQ(engine.playCallback.load(), &PlayA);
}

}  // namespace
}  // namespace vesk
