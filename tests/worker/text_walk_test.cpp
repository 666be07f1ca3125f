// What the worker says for each kind of text, read back from marker voices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "worker_fixture.h"

namespace vesk::test {
namespace {

int32_t U(const char* pinyin, int32_t tone) {
  return SyllableUnitIndex(pinyin, tone);
}

int32_t Letter(char c) { return LetterUnit(c); }
int32_t Digit(char16_t c) { return DigitUnit(c); }

constexpr char kCharDictionary[] =
    "你: nǐ\n"
    "好: hǎo\n"
    "不: bù\n"
    "是: shì\n"
    "一: yī\n"
    "个: gè\n"
    "三: sān\n"
    "十: shí\n"
    "四: sì\n"
    "亿: yì\n"
    "银: yín\n"
    "行: xíng,háng\n";

class TextWalkTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    LoadCharDictionary(kCharDictionary);
  }
};

TEST_F(TextWalkTest, ChineseRunSpeaksItsSyllablesWithThirdToneSandhi) {
  AddMarkerVoice("v", 16000, {U("ni", 2), U("ni", 3), U("hao", 3)});
  Speak(u"你好");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("ni", 2), U("hao", 3)}));
  EXPECT_EQ(CompletionCount(), 1u);
  EXPECT_TRUE(recorder.Chunks().back().IsCompletion());
}

TEST_F(TextWalkTest, SandhiDoesNotCrossABlankBetweenRuns) {
  AddMarkerVoice("v", 16000, {U("ni", 2), U("ni", 3), U("hao", 3)});
  Speak(u"你 好");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("ni", 3), U("hao", 3)}));
}

TEST_F(TextWalkTest, BuBeforeAFourthToneIsSpokenInTheSecondTone) {
  AddMarkerVoice("v", 16000, {U("bu", 2), U("bu", 4), U("shi", 4)});
  Speak(u"不是");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("bu", 2), U("shi", 4)}));
}

TEST_F(TextWalkTest, WordReadingWinsOverCharacterReadings) {
  LoadPhraseDictionary("银行: yín háng\n");
  AddMarkerVoice("v", 16000, {U("yin", 2), U("hang", 2), U("xing", 2)});
  Speak(u"银行");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("yin", 2), U("hang", 2)}));
}

TEST_F(TextWalkTest, ChineseSyllableFallsBackToAnotherRecordedTone) {
  AddMarkerVoice("v", 16000, {U("hao", 2), U("hao", 4)});
  Speak(u"好");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("hao", 2)}));
}

TEST_F(TextWalkTest, SyllableWithoutAnyUnitIsSkippedAndTheWalkGoesOn) {
  AddMarkerVoice("v", 16000, {U("hao", 3), kPunctuationUnit});
  Speak(u"你好。");
  EXPECT_EQ(PlayedUnits(),
            (std::vector<int32_t>{U("hao", 3), kPunctuationUnit}));
  EXPECT_EQ(CompletionCount(), 1u);
}

TEST_F(TextWalkTest, DecimalNumberIsReadAsTwoNumbersAroundAPause) {
  AddMarkerVoice("v", 16000,
                 {U("san", 1), U("shi", 2), U("si", 4), kPunctuationUnit});
  Speak(u"3.14");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("san", 1), kPunctuationUnit,
                                                 U("shi", 2), U("si", 4)}));
}

TEST_F(TextWalkTest, NumberWordsGetNoToneFallback) {
  AddMarkerVoice("v", 16000, {U("san", 2), kPunctuationUnit});
  Speak(u"3.三");
  // The digit's reading needs san in tone 1 exactly; the character falls back.
  EXPECT_EQ(PlayedUnits(),
            (std::vector<int32_t>{kPunctuationUnit, U("san", 2)}));
}

TEST_F(TextWalkTest, ElevenDigitsAreReadOneByOne) {
  std::vector<int32_t> units;
  for (char16_t d = u'0'; d <= u'9'; ++d) units.push_back(Digit(d));
  AddMarkerVoice("v", 16000, units);
  Speak(u"13800138000");
  std::vector<int32_t> expected;
  for (char16_t d : std::u16string(u"13800138000"))
    expected.push_back(Digit(d));
  EXPECT_EQ(PlayedUnits(), expected);
}

TEST_F(TextWalkTest, TenDigitsAreStillReadAsANumber) {
  std::vector<int32_t> units = {U("shi", 2), U("yi", 4)};
  for (char16_t d = u'0'; d <= u'9'; ++d) units.push_back(Digit(d));
  AddMarkerVoice("v", 16000, units);
  Speak(u"1000000000");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("shi", 2), U("yi", 4)}));
}

TEST_F(TextWalkTest, DigitWithoutUnitIsSkippedInDigitByDigitReading) {
  AddMarkerVoice("v", 16000, {Digit(u'1'), Digit(u'3')});
  Speak(u"12345678901");
  EXPECT_EQ(PlayedUnits(),
            (std::vector<int32_t>{Digit(u'1'), Digit(u'3'), Digit(u'1')}));
}

TEST_F(TextWalkTest, LettersAreSpelledByTheirNames) {
  AddMarkerVoice("v", 16000, {Letter('a'), Letter('b'), Letter('c')});
  Speak(u"abc");
  const std::vector<int32_t> expected = {Letter('a'), Letter('b'), Letter('c')};
  EXPECT_EQ(PlayedUnits(), expected);
  EXPECT_EQ(SampleCallCount(), 3u);
  EXPECT_EQ(CompletionCount(), 1u);
}

TEST_F(TextWalkTest, CapitalLettersSoundLikeSmallOnes) {
  AddMarkerVoice("v", 16000, {Letter('a'), Letter('b'), Letter('z')});
  Speak(u"ABZ");
  EXPECT_EQ(PlayedUnits(),
            (std::vector<int32_t>{Letter('a'), Letter('b'), Letter('z')}));
}

TEST_F(TextWalkTest, LetterWithoutUnitIsSkipped) {
  AddMarkerVoice("v", 16000, {Letter('a'), Letter('c')});
  Speak(u"abc");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{Letter('a'), Letter('c')}));
}

TEST_F(TextWalkTest, EachOfTheEightSentenceMarksPlaysThePauseOnce) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit});
  Speak(u"!,.?\u3002\uFF01\uFF0C\uFF1F");
  EXPECT_EQ(PlayedUnits(), std::vector<int32_t>(8, kPunctuationUnit));
}

TEST_F(TextWalkTest, TwoMarksInARowPlayTwoPauses) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit, U("hao", 3)});
  Speak(u"好。。");
  EXPECT_EQ(PlayedUnits(), (std::vector<int32_t>{U("hao", 3), kPunctuationUnit,
                                                 kPunctuationUnit}));
}

TEST_F(TextWalkTest, BlanksAndSymbolsOnlyGiveJustTheCompletionCall) {
  AddMarkerVoice("v", 16000,
                 {kPunctuationUnit, Letter('a'), Digit(u'1'), U("hao", 3)});
  // Other punctuation, blanks, full-width digit and letter, a character
  // outside the main block, a surrogate pair and a lone surrogate half.
  Speak(u" \t\r\n;:-、…\uFF11\uFF41\u3400\U0001F600\xD800");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_TRUE(chunks[0].IsCompletion());
  EXPECT_EQ(chunks[0].voiceName, u"v");
  EXPECT_EQ(chunks[0].userValue, kUserValue);
}

TEST_F(TextWalkTest, UnitsFollowOneAnotherWithoutInsertedSilence) {
  AddMarkerVoice("v", 16000,
                 {U("ni", 2), U("hao", 3), Letter('a'), kPunctuationUnit});
  Speak(u"你好 a, ");
  EXPECT_EQ(AllSamples().size(), 4 * kSamplesPerUnit);
  EXPECT_EQ(PlayedUnits(),
            (std::vector<int32_t>{U("ni", 2), U("hao", 3), Letter('a'),
                                  kPunctuationUnit}));
}

TEST_F(TextWalkTest, EveryCallCarriesTheUserValueAndTheVoiceName) {
  AddMarkerVoice("v", 16000, {Letter('a'), kPunctuationUnit});
  SpeakUtterance(context, Prepare(u"a.a", u"", -77), lexicon);
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 4u);
  for (const auto& chunk : chunks) {
    EXPECT_EQ(chunk.userValue, -77);
    EXPECT_EQ(chunk.voiceName, u"v");
  }
}

TEST_F(TextWalkTest, UnknownVoiceNameSpeaksWithTheFirstVoiceAndItsName) {
  AddMarkerVoice("beta", 16000, {kPunctuationUnit});
  AddMarkerVoice("alpha", 16000, {kPunctuationUnit});
  Speak(u".", u"gamma");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 2u);
  for (const auto& chunk : chunks) EXPECT_EQ(chunk.voiceName, u"alpha");
  EXPECT_TRUE(PointsIntoVoice("alpha", chunks[0].pointer));
}

TEST_F(TextWalkTest, NamedVoiceSpeaks) {
  AddMarkerVoice("alpha", 16000, {kPunctuationUnit});
  AddMarkerVoice("beta", 16000, {kPunctuationUnit});
  Speak(u".", u"beta");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 2u);
  for (const auto& chunk : chunks) EXPECT_EQ(chunk.voiceName, u"beta");
  EXPECT_TRUE(PointsIntoVoice("beta", chunks[0].pointer));
}

TEST_F(TextWalkTest, NoVoiceMeansNoCallAtAllAndRunningCleared) {
  Speak(u"好.");
  EXPECT_EQ(recorder.Count(), 0u);
  EXPECT_FALSE(context.running.load());
}

TEST_F(TextWalkTest, FinishedUtteranceClearsRunning) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit});
  Speak(u".");
  EXPECT_FALSE(context.running.load());
}

TEST_F(TextWalkTest, UtteranceStoppedBeforeItBeganPlaysNothing) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit});
  UtteranceRequest request = Prepare(u"..");
  context.running.store(false);
  SpeakUtterance(context, request, lexicon);
  EXPECT_EQ(recorder.Count(), 0u);
  EXPECT_FALSE(context.running.load());
}

TEST_F(TextWalkTest, WithoutAPlayCallbackTheUtteranceStillEnds) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit});
  DeliverThroughEngine().playCallback.store(nullptr);
  Speak(u"...");
  EXPECT_EQ(recorder.Count(), 0u);
  EXPECT_FALSE(context.running.load());
}

TEST_F(TextWalkTest, AContextWithoutASinkStillEnds) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit});
  context.sink = {};
  Speak(u"...");
  EXPECT_EQ(recorder.Count(), 0u);
  EXPECT_FALSE(context.running.load());
}

TEST_F(TextWalkTest, RequestWithoutControlIsSpokenToItsEnd) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit});
  UtteranceRequest request = Prepare(u"..");
  request.control.reset();
  SpeakUtterance(context, request, lexicon);
  EXPECT_EQ(PlayedUnits(), std::vector<int32_t>(2, kPunctuationUnit));
  EXPECT_EQ(CompletionCount(), 1u);
  EXPECT_FALSE(context.running.load());
}

}  // namespace
}  // namespace vesk::test
