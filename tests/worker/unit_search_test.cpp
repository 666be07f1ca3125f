// The search for a syllable's unit, the per-utterance settings and the gain.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "frontend/syllable.h"
#include "voice/voice.h"
#include "worker/speech_worker.h"

namespace vesk {
namespace {

// A voice holding exactly the given units (two bytes each).
Voice VoiceWith(std::initializer_list<int32_t> units) {
  Voice voice;
  voice.sampleRate = 16000;
  voice.data.assign(2, 0);
  for (int32_t unit : units) voice.units[unit] = UnitEntry{0, 2};
  return voice;
}

int32_t Unit(const char* pinyin, int32_t tone) {
  return SyllableUnitIndex(pinyin, tone);
}

TEST(FindSyllableUnit, OwnToneWinsWhenRecorded) {
  const Voice voice = VoiceWith({Unit("hao", 1), Unit("hao", 3)});
  EXPECT_EQ(FindSyllableUnit(voice, {"hao", 3}, true), Unit("hao", 3));
  EXPECT_EQ(FindSyllableUnit(voice, {"hao", 3}, false), Unit("hao", 3));
}

TEST(FindSyllableUnit, MissingThirdToneFallsBackToSecondBeforeFourth) {
  const Voice voice = VoiceWith({Unit("hao", 2), Unit("hao", 4)});
  EXPECT_EQ(FindSyllableUnit(voice, {"hao", 3}, true), Unit("hao", 2));
}

TEST(FindSyllableUnit, FallbackTriesFirstToneFirst) {
  const Voice voice =
      VoiceWith({Unit("ma", 0), Unit("ma", 1), Unit("ma", 2), Unit("ma", 4)});
  EXPECT_EQ(FindSyllableUnit(voice, {"ma", 3}, true), Unit("ma", 1));
}

TEST(FindSyllableUnit, FallbackOrderIsOneTwoThreeFourThenNeutral) {
  // Remove the winner each time: the next tone in the order must win.
  const int32_t order[] = {1, 2, 3, 4, 0};
  for (int32_t own = 0; own <= 4; ++own) {
    std::vector<int32_t> expected;
    for (int32_t tone : order)
      if (tone != own) expected.push_back(tone);
    for (std::size_t skip = 0; skip < expected.size(); ++skip) {
      Voice voice = VoiceWith({});
      for (std::size_t k = skip; k < expected.size(); ++k)
        voice.units[Unit("ma", expected[k])] = UnitEntry{0, 2};
      EXPECT_EQ(FindSyllableUnit(voice, {"ma", own}, true),
                Unit("ma", expected[skip]))
          << "own tone " << own << ", first recorded fallback "
          << expected[skip];
    }
  }
}

TEST(FindSyllableUnit, NeutralToneIsNotTriedTwice) {
  // Only the own (neutral) unit is missing: tone 1 is the first fallback.
  const Voice voice = VoiceWith({Unit("ma", 1), Unit("ma", 2)});
  EXPECT_EQ(FindSyllableUnit(voice, {"ma", 0}, true), Unit("ma", 1));
}

TEST(FindSyllableUnit, WithoutFallbackNoOtherToneIsTried) {
  const Voice voice = VoiceWith(
      {Unit("san", 0), Unit("san", 2), Unit("san", 3), Unit("san", 4)});
  EXPECT_EQ(FindSyllableUnit(voice, {"san", 1}, false), -1);
}

TEST(FindSyllableUnit, NoToneRecordedGivesMinusOne) {
  const Voice voice = VoiceWith({Unit("ma", 1)});
  EXPECT_EQ(FindSyllableUnit(voice, {"hao", 3}, true), -1);
}

TEST(FindSyllableUnit, SpellingOutsideTheTablesIsSkippedInEveryTone) {
  // Units 0..4 exist, which a wrong -1 + tone arithmetic could hit.
  const Voice voice = VoiceWith({0, 1, 2, 3, 4});
  EXPECT_EQ(FindSyllableUnit(voice, {"xyz", 3}, true), -1);
  EXPECT_EQ(FindSyllableUnit(voice, {"", 1}, true), -1);
}

TEST(UtteranceSettings, DefaultsNeedNoStream) {
  const UtteranceSettings s = ComputeUtteranceSettings(50, 50, 50);
  EXPECT_FALSE(s.speedChange);
  EXPECT_FALSE(s.pitchChange);
  EXPECT_FALSE(s.streamWanted);
  EXPECT_EQ(s.gain, 1.0f);
}

TEST(UtteranceSettings, RatesFortyEightToFiftyTwoKeepNormalSpeed) {
  for (int32_t rate = 48; rate <= 52; ++rate) {
    const UtteranceSettings s = ComputeUtteranceSettings(rate, 50, 50);
    EXPECT_FALSE(s.speedChange) << rate;
    EXPECT_FALSE(s.streamWanted) << rate;
  }
  EXPECT_TRUE(ComputeUtteranceSettings(47, 50, 50).streamWanted);
  EXPECT_TRUE(ComputeUtteranceSettings(53, 50, 50).streamWanted);
}

TEST(UtteranceSettings, SpeedFactorFollowsRate) {
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(0, 50, 50).speedFactor, 0.5f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(20, 50, 50).speedFactor, 0.7f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(47, 50, 50).speedFactor, 0.97f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(53, 50, 50).speedFactor, 1.06f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(60, 50, 50).speedFactor, 1.2f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(70, 50, 50).speedFactor, 1.4f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(100, 50, 50).speedFactor, 2.0f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(-7, 50, 50).speedFactor, 0.5f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(900, 50, 50).speedFactor, 2.0f);
}

TEST(UtteranceSettings, SpeedFactorNeverFallsAsRateRises) {
  for (int32_t rate = 1; rate <= 100; ++rate) {
    EXPECT_GE(ComputeUtteranceSettings(rate, 50, 50).speedFactor,
              ComputeUtteranceSettings(rate - 1, 50, 50).speedFactor)
        << rate;
  }
}

TEST(UtteranceSettings, PitchSixtyWantsAStreamWithPitchOnly) {
  const UtteranceSettings s = ComputeUtteranceSettings(50, 60, 50);
  EXPECT_TRUE(s.streamWanted);
  EXPECT_TRUE(s.pitchChange);
  EXPECT_FALSE(s.speedChange);
  EXPECT_FLOAT_EQ(s.pitchFactor, 1.2f);
}

TEST(UtteranceSettings, RateSixtyWantsAStreamWithSpeedOnly) {
  const UtteranceSettings s = ComputeUtteranceSettings(60, 50, 50);
  EXPECT_TRUE(s.streamWanted);
  EXPECT_TRUE(s.speedChange);
  EXPECT_FALSE(s.pitchChange);
}

TEST(UtteranceSettings, PitchFactorSpansHalfToDouble) {
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(50, 0, 50).pitchFactor, 0.5f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(50, 25, 50).pitchFactor, 0.75f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(50, 50, 50).pitchFactor, 1.0f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(50, 100, 50).pitchFactor, 2.0f);
}

TEST(UtteranceSettings, GainIsZeroAtSilenceAndAtMostTwo) {
  EXPECT_EQ(ComputeUtteranceSettings(50, 50, 0).gain, 0.0f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(50, 50, 25).gain, 0.5f);
  EXPECT_EQ(ComputeUtteranceSettings(50, 50, 50).gain, 1.0f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(50, 50, 100).gain, 2.0f);
  EXPECT_FLOAT_EQ(ComputeUtteranceSettings(50, 50, 1000).gain, 2.0f);
  EXPECT_EQ(ComputeUtteranceSettings(50, 50, -3).gain, 0.0f);
}

TEST(ChunkSize, IsOneSecondOfTheVoice) {
  EXPECT_EQ(ChunkSamplesFor(16000), 16000);
  EXPECT_EQ(ChunkSamplesFor(22050), 22050);
}

TEST(ChunkSize, UnknownOrNegativeRateUsesEightThousand) {
  EXPECT_EQ(ChunkSamplesFor(0), 8000);
  EXPECT_EQ(ChunkSamplesFor(-1), 8000);
  EXPECT_EQ(ChunkSamplesFor(INT32_MIN), 8000);
}

TEST(SonicSampleRate, RefusesRatesThatWouldFaultInsideSonic) {
  EXPECT_TRUE(SonicAcceptsSampleRate(8000));
  EXPECT_TRUE(SonicAcceptsSampleRate(16000));
  EXPECT_TRUE(SonicAcceptsSampleRate(48000));
  EXPECT_FALSE(SonicAcceptsSampleRate(0));
  EXPECT_FALSE(SonicAcceptsSampleRate(-16000));
  EXPECT_FALSE(SonicAcceptsSampleRate(8));
  EXPECT_FALSE(SonicAcceptsSampleRate(INT32_MAX));
}

TEST(ApplyGain, DoubleClampsToSixteenBits) {
  std::vector<int16_t> s = {20000, -20000, 100, -100, 0, 32767, -32768};
  ApplyGain(s.data(), s.size(), 2.0f);
  EXPECT_EQ(s,
            (std::vector<int16_t>{32767, -32768, 200, -200, 0, 32767, -32768}));
}

TEST(ApplyGain, HalfTruncatesTowardZero) {
  std::vector<int16_t> s = {1001, -1001, 1, -1, 3, -3};
  ApplyGain(s.data(), s.size(), 0.5f);
  EXPECT_EQ(s, (std::vector<int16_t>{500, -500, 0, 0, 1, -1}));
}

TEST(ApplyGain, ZeroSilencesEverySample) {
  std::vector<int16_t> s = {1, -1, 32767, -32768};
  ApplyGain(s.data(), s.size(), 0.0f);
  EXPECT_EQ(s, (std::vector<int16_t>{0, 0, 0, 0}));
}

TEST(ApplyGain, ProductIsFormedInSinglePrecision) {
  // At volume 29 the gain is 0.58f; -28200 * 0.58f rounds to exactly -16356
  // in float, while the product in double (-16355.99...) truncates to -16355.
  const float gain = ComputeUtteranceSettings(50, 50, 29).gain;
  std::vector<int16_t> s = {-28200};
  ApplyGain(s.data(), s.size(), gain);
  EXPECT_EQ(s[0], -16356);
}

TEST(ApplyGain, UnityLeavesSamplesUntouched) {
  std::vector<int16_t> s = {32767, -32768, 5};
  ApplyGain(s.data(), s.size(), 1.0f);
  EXPECT_EQ(s, (std::vector<int16_t>{32767, -32768, 5}));
}

}  // namespace
}  // namespace vesk
