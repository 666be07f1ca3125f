// What a host hears through the exports: the text walk, the voice, the
// settings, and the order of calls when utterances replace each other.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

constexpr auto kLimit = kHangLimit;
constexpr std::size_t kSamples = 64;

int32_t Letter(char c) { return LetterUnit(c); }

std::vector<PlayCall> PlaysOf(int32_t userValue) {
  std::vector<PlayCall> plays;
  for (const PlayCall& call : RecordedPlays())
    if (call.userValue == userValue) plays.push_back(call);
  return plays;
}

// The marker units heard, one entry per kSamples samples.
std::vector<int32_t> UnitsOf(const std::vector<PlayCall>& plays) {
  std::vector<int32_t> units;
  for (const PlayCall& call : plays) {
    for (std::size_t k = 0; k + kSamples <= call.samples.size(); k += kSamples)
      units.push_back(call.samples[k]);
  }
  return units;
}

std::size_t CompletionsOf(const std::vector<PlayCall>& plays) {
  std::size_t count = 0;
  for (const PlayCall& call : plays) count += call.IsCompletion();
  return count;
}

class HostSpeechTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearRecordedLogs();
    ClearRecordedPlays();
    SetPlayHook({});
    ASSERT_TRUE(library.ok()) << library.error();
  }

  void TearDown() override {
    SetPlayHook({});
    if (library.ok()) library->Uninitialize();
  }

  void WriteMarkerVoice(const std::string& name,
                        const std::vector<int32_t>& units,
                        std::size_t samples = kSamples) {
    dir.Write(name + ".vl", BuildMarkerVoice(16000, units, samples));
  }

  void Start() {
    ASSERT_TRUE(library->Initialize(&RecordLog)) << Describe(RecordedLogs());
    library->SetPlayCallback(&RecordPlay);
  }

  std::vector<int32_t> LettersAndPause() {
    std::vector<int32_t> units = {kPunctuationUnit};
    for (char c = 'a'; c <= 'z'; ++c) units.push_back(Letter(c));
    return units;
  }

  TempDir dir;
  HostLibrary library{dir.path()};
};

TEST_F(HostSpeechTest, LettersAreSpelledThenTheUtteranceCompletes) {
  WriteMarkerVoice("v", LettersAndPause());
  Start();
  ASSERT_TRUE(library->Speak(nullptr, u"Abc", 9));
  ASSERT_TRUE(WaitForCompletion(kLimit));
  const auto plays = RecordedPlays();
  ASSERT_EQ(plays.size(), 4u);
  EXPECT_EQ(UnitsOf(plays),
            (std::vector<int32_t>{Letter('a'), Letter('b'), Letter('c')}));
  EXPECT_TRUE(plays.back().IsCompletion());
  for (const PlayCall& call : plays) {
    EXPECT_EQ(call.voiceName, u"v");
    EXPECT_EQ(call.userValue, 9);
    EXPECT_NE(call.thread, std::this_thread::get_id());
    EXPECT_EQ(call.byteCount % 2, 0);
  }
}

TEST_F(HostSpeechTest, DictionaryReadingsAndNumbersAreSpoken) {
  dir.Write("pinyin.txt", "三: sān\n十: shí\n四: sì\n好: hǎo\n");
  WriteMarkerVoice("v",
                   {kPunctuationUnit, SyllableUnitIndex("san", 1),
                    SyllableUnitIndex("shi", 2), SyllableUnitIndex("si", 4),
                    SyllableUnitIndex("hao", 3)});
  Start();
  ASSERT_TRUE(library->Speak(nullptr, u"好，3.14", 1));
  ASSERT_TRUE(WaitForCompletion(kLimit));
  EXPECT_EQ(UnitsOf(RecordedPlays()),
            (std::vector<int32_t>{SyllableUnitIndex("hao", 3), kPunctuationUnit,
                                  SyllableUnitIndex("san", 1), kPunctuationUnit,
                                  SyllableUnitIndex("shi", 2),
                                  SyllableUnitIndex("si", 4)}));
}

TEST_F(HostSpeechTest, BlanksOnlyGiveOneCompletionCall) {
  WriteMarkerVoice("v", LettersAndPause());
  Start();
  ASSERT_TRUE(library->Speak(nullptr, u"  ;\t\n", 3));
  ASSERT_TRUE(WaitForCompletion(kLimit));
  library->Stop();
  const auto plays = RecordedPlays();
  ASSERT_EQ(plays.size(), 1u);
  EXPECT_TRUE(plays[0].IsCompletion());
  EXPECT_EQ(plays[0].userValue, 3);
}

TEST_F(HostSpeechTest, UnknownVoiceNameSpeaksWithTheFirstVoice) {
  WriteMarkerVoice("beta", LettersAndPause());
  WriteMarkerVoice("alpha", LettersAndPause());
  Start();
  ASSERT_TRUE(library->Speak(u"gamma", u"a", 1));
  ASSERT_TRUE(WaitForCompletion(kLimit));
  for (const PlayCall& call : RecordedPlays())
    EXPECT_EQ(call.voiceName, u"alpha");
}

TEST_F(HostSpeechTest, UnnamedUtteranceUsesThePreparedVoice) {
  WriteMarkerVoice("alpha", LettersAndPause());
  WriteMarkerVoice("beta", LettersAndPause());
  Start();
  ASSERT_TRUE(library->PrepareVoice(u"beta"));
  ASSERT_TRUE(library->Speak(nullptr, u"a", 1));
  ASSERT_TRUE(WaitForCompletion(kLimit));
  const auto plays = RecordedPlays();
  ASSERT_EQ(plays.size(), 2u);
  for (const PlayCall& call : plays) EXPECT_EQ(call.voiceName, u"beta");
}

TEST_F(HostSpeechTest, VolumeSetBeforeSpeakingScalesTheSamples) {
  WriteMarkerVoice("v", LettersAndPause());
  Start();
  library->SetVolume(0, 100);
  ASSERT_TRUE(library->Speak(nullptr, u"b", 1));
  ASSERT_TRUE(WaitForCompletion(kLimit));
  const auto plays = RecordedPlays();
  ASSERT_EQ(plays.size(), 2u);
  EXPECT_EQ(plays[0].samples,
            std::vector<int16_t>(kSamples, int16_t(2 * Letter('b'))));
}

// x87 arithmetic would give 399 here: single precision must be single.
TEST_F(HostSpeechTest, VolumeGainMatchesSinglePrecision) {
  std::map<int32_t, std::vector<int16_t>> units;
  units[Letter('a')] = {20000, -20000, 1001, -1001};
  dir.Write("v.vl", BuildVoiceFile(16000, units));
  Start();
  const auto samplesAt = [&](int32_t volume) {
    ClearRecordedPlays();
    EXPECT_TRUE(library->SetVolume(0, volume));
    EXPECT_TRUE(library->Speak(nullptr, u"a", 0));
    EXPECT_TRUE(WaitForCompletion(kLimit));
    const auto plays = RecordedPlays();
    return plays.empty() ? std::vector<int16_t>{} : plays.front().samples;
  };
  EXPECT_EQ(samplesAt(1), (std::vector<int16_t>{400, -400, 20, -20}));
  EXPECT_EQ(samplesAt(100), (std::vector<int16_t>{32767, -32768, 2002, -2002}));
  EXPECT_EQ(samplesAt(25), (std::vector<int16_t>{10000, -10000, 500, -500}));
}

TEST_F(HostSpeechTest, RaisingTheRateNeverLengthensTheUtterance) {
  std::map<int32_t, std::vector<int16_t>> units;
  std::vector<int16_t> wave(16000);
  for (std::size_t k = 0; k < wave.size(); ++k)
    wave[k] = int16_t((k % 80) * 200 - 8000);
  units[Letter('a')] = wave;
  units[kPunctuationUnit] = wave;
  dir.Write("v.vl", BuildVoiceFile(16000, units));
  Start();
  const std::size_t normal = 3 * 16000;
  std::size_t previous = SIZE_MAX;
  int32_t userValue = 0;
  for (const int32_t rate : {0, 20, 33, 40, 45, 47, 50, 53, 60, 70, 85, 100}) {
    ClearRecordedPlays();
    library->SetRate(0, rate);
    ASSERT_TRUE(library->Speak(nullptr, u"a.a", ++userValue));
    ASSERT_TRUE(WaitForCompletion(kLimit)) << rate;
    std::size_t total = 0;
    for (const PlayCall& call : PlaysOf(userValue))
      total += call.samples.size();
    EXPECT_LE(total, previous) << "rate " << rate;
    previous = total;
    // Half speed at 0, normal at 50, double at 100.
    if (rate == 0) {
      EXPECT_GT(total, normal * 18 / 10);
      EXPECT_LT(total, normal * 22 / 10);
    }
    if (rate == 47) {
      EXPECT_GT(total, normal);
    }
    if (rate == 50) {
      EXPECT_EQ(total, normal);
    }
    if (rate == 100) {
      EXPECT_GT(total, normal * 4 / 10);
      EXPECT_LT(total, normal * 6 / 10);
    }
  }
}

TEST_F(HostSpeechTest, SpeakWhileSpeakingReplacesTheUtterance) {
  WriteMarkerVoice("v", LettersAndPause());
  Start();
  // Hold the first utterance after its first chunk so it cannot end alone.
  std::promise<void> held;
  std::atomic<int> calls{0};
  SetPlayHook([&](const PlayCall& call) {
    if (call.userValue == 1 && calls++ == 0) {
      library->Pause();
      held.set_value();
    }
  });
  const std::u16string longText(200, u'a');
  ASSERT_TRUE(library->Speak(nullptr, longText.c_str(), 1));
  ASSERT_EQ(held.get_future().wait_for(kLimit), std::future_status::ready);
  ASSERT_TRUE(library->Speak(nullptr, u"cd", 2));
  const std::size_t firstAtReplacement = PlaysOf(1).size();
  ASSERT_TRUE(WaitForCompletion(kLimit));
  library->Stop();
  const auto first = PlaysOf(1);
  EXPECT_EQ(first.size(), 1u);
  EXPECT_EQ(first.size(), firstAtReplacement);
  EXPECT_EQ(CompletionsOf(first), 0u);
  const auto second = PlaysOf(2);
  EXPECT_EQ(UnitsOf(second), (std::vector<int32_t>{Letter('c'), Letter('d')}));
  EXPECT_EQ(CompletionsOf(second), 1u);
}

TEST_F(HostSpeechTest, NoAudioAfterStopReturns) {
  WriteMarkerVoice("v", LettersAndPause());
  Start();
  std::promise<void> first;
  std::atomic<int> calls{0};
  // Held by a pause so that it cannot end by itself before Stop.
  SetPlayHook([&](const PlayCall& call) {
    if (call.userValue == 1 && calls++ == 0) {
      library->Pause();
      first.set_value();
    }
  });
  const std::u16string longText(2000, u'a');
  ASSERT_TRUE(library->Speak(nullptr, longText.c_str(), 1));
  ASSERT_EQ(first.get_future().wait_for(kLimit), std::future_status::ready);
  ASSERT_TRUE(library->Stop());
  const std::size_t atStop = PlaysOf(1).size();
  // A second utterance run to its end orders everything after Stop.
  ASSERT_TRUE(library->Speak(nullptr, u"b", 2));
  ASSERT_TRUE(WaitForCompletion(kLimit));
  library->Stop();
  const auto stopped = PlaysOf(1);
  EXPECT_EQ(stopped.size(), atStop);
  EXPECT_EQ(stopped.size(), 1u);
  EXPECT_EQ(CompletionsOf(stopped), 0u);
}

TEST_F(HostSpeechTest, PauseThenResumeDeliversTheRest) {
  WriteMarkerVoice("v", LettersAndPause());
  Start();
  EXPECT_FALSE(library->Pause());  // nothing to pause yet
  std::promise<void> paused;
  std::atomic<int> calls{0};
  std::atomic<bool> deliveredWhilePaused{false};
  std::atomic<bool> pausedNow{false};
  SetPlayHook([&](const PlayCall&) {
    if (calls++ == 0) {
      pausedNow = true;
      library->Pause();
      paused.set_value();
    } else if (pausedNow.load()) {
      deliveredWhilePaused = true;
    }
  });
  ASSERT_TRUE(library->Speak(nullptr, u"abc", 1));
  ASSERT_EQ(paused.get_future().wait_for(kLimit), std::future_status::ready);
  pausedNow = false;
  ASSERT_TRUE(library->Resume());
  ASSERT_TRUE(WaitForCompletion(kLimit));
  EXPECT_FALSE(deliveredWhilePaused.load());
  EXPECT_EQ(UnitsOf(RecordedPlays()),
            (std::vector<int32_t>{Letter('a'), Letter('b'), Letter('c')}));
}

}  // namespace
}  // namespace vesk::test
