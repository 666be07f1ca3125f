// The SAPI voice's plan of a Speak call: where sentences are cut, which
// fragments become steps, spell-out text, settings and skips. The COM side
// is tested under Wine by tests/windows/ against a real registration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "speech_plan.h"

namespace vesk::sapi {
namespace {

TEST(SapiPlan, SentencesEndAtTheirMarksWithClosingQuotesAndBlanks) {
  struct Case {
    std::u16string text;
    std::size_t length;
  };
  const std::vector<Case> cases =
      {
          {u"你好。世界", 3},       {u"真的吗？！好", 5},
          {u"他说：“好。”然后", 7}, {u"Hi. There", 4},
          {u"3.14元很贵", 7},  // a decimal point ends nothing
          {u"第一行\n第二行", 4},   {u"一；二", 2},
          {u"没有标点", 4},
      };
  for (const auto& c : cases) {
    EXPECT_EQ(SentenceLength(c.text), c.length)
        << std::string(c.text.begin(), c.text.end());
  }
}

TEST(SapiPlan, AnUnbrokenRunIsCutWithinTheLimit) {
  const std::u16string run(3 * kSentenceLimit, u'好');
  EXPECT_EQ(SentenceLength(run), kSentenceLimit);
  std::u16string words;
  while (words.size() < 2 * kSentenceLimit) words += u"好好 ";
  const std::size_t cut = SentenceLength(words);
  EXPECT_LE(cut, kSentenceLimit);
  EXPECT_EQ(words[cut - 1], u' ');
}

TEST(SapiPlan, FragmentsBecomeStepsWithTheirSourceOffsets) {
  const std::u16string text = u"你好。再见！";
  std::vector<Fragment> fragments(6);
  fragments[0] = {FragmentAction::kSpeak, text, 10};
  fragments[1] = {FragmentAction::kBookmark, u"7", 16};
  fragments[2].action = FragmentAction::kSilence;
  fragments[2].silenceMs = 300;
  fragments[3] = {FragmentAction::kSpeak, u"  \n", 20};  // nothing to say
  fragments[4] = {FragmentAction::kSection, u"x", 30};
  fragments[5] = {FragmentAction::kSpellOut, u"ab", 40};
  const std::vector<Step> steps = PlanSteps(fragments);
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[0].text, u"你好。");
  EXPECT_EQ(steps[0].sourceOffset, 10u);
  EXPECT_EQ(steps[1].text, u"再见！");
  EXPECT_EQ(steps[1].sourceOffset, 13u);
  EXPECT_EQ(steps[2].kind, StepKind::kBookmark);
  EXPECT_EQ(steps[2].text, u"7");
  EXPECT_EQ(steps[3].kind, StepKind::kSilence);
  EXPECT_EQ(steps[3].fragment, 2u);
  EXPECT_TRUE(steps[4].spellOut);
  EXPECT_EQ(steps[4].fragment, 5u);
  EXPECT_TRUE(PlanSteps({}).empty());
}

TEST(SapiPlan, SpellOutSeparatesEveryCharacter) {
  EXPECT_EQ(SpelledOut(u"ab 12"), u"a b 1 2");
  EXPECT_EQ(SpelledOut(u"银行"), u"银 行");
  EXPECT_EQ(SpelledOut(u"\U00020000x"), u"\U00020000 x");
  EXPECT_EQ(SpelledOut(u"  "), u"");
}

TEST(SapiPlan, SettingsMapSapiRangesOntoTheEngines) {
  struct Case {
    long voiceRate;
    unsigned voiceVolume;
    int32_t rateAdjust, pitchAdjust;
    uint32_t volume;
    EngineSettings expected;
  };
  const std::vector<Case> cases = {
      {0, 100, 0, 0, 100, {50, 50, 50}},    // SAPI's defaults: the engine's
      {10, 100, 0, 0, 100, {100, 50, 50}},  // fastest: double speed
      {-10, 100, 0, 0, 100, {0, 50, 50}},   // slowest: half
      {5, 100, 10, 0, 100, {100, 50, 50}},  // the sum is clamped
      {2, 100, -3, 0, 100, {45, 50, 50}},  {0, 100, 0, 10, 100, {50, 100, 50}},
      {0, 100, 0, -20, 100, {50, 0, 50}},  {0, 50, 0, 0, 100, {50, 50, 25}},
      {0, 100, 0, 0, 50, {50, 50, 25}},    {0, 0, 0, 0, 100, {50, 50, 0}},
      {0, 400, 0, 0, 400, {50, 50, 50}},  // out of range: SAPI's maximum
  };
  for (const auto& c : cases) {
    Fragment f;
    f.rateAdjust = c.rateAdjust;
    f.pitchAdjust = c.pitchAdjust;
    f.volume = c.volume;
    const EngineSettings s = MapSettings(c.voiceRate, c.voiceVolume, f);
    EXPECT_EQ(s.rate, c.expected.rate) << c.voiceRate << " " << c.rateAdjust;
    EXPECT_EQ(s.pitch, c.expected.pitch) << c.pitchAdjust;
    EXPECT_EQ(s.volume, c.expected.volume) << c.voiceVolume << " " << c.volume;
  }
}

TEST(SapiPlan, SkipsCountSentencesOnlyAndStopAtTheEnds) {
  std::vector<Step> steps(5);
  steps[1].kind = StepKind::kBookmark;
  steps[3].kind = StepKind::kSilence;
  // Sentences at steps 0, 2 and 4.
  struct Case {
    std::size_t current;
    long count;
    std::size_t step;
    long skipped;
  };
  const std::vector<Case> cases =
      {
          {0, 1, 2, 1},  {0, 2, 4, 2},   {0, 3, 5, 3},   {0, 9, 5, 3},
          {2, 0, 2, 0},  {4, -1, 2, -1}, {4, -9, 0, -2}, {3, 1, 4, 1},
          {1, -1, 0, 0},  // from the sentence before the bookmark
      };
  for (const auto& c : cases) {
    const SkipResult r = Skip(steps, c.current, c.count);
    EXPECT_EQ(r.step, c.step) << c.current << " " << c.count;
    EXPECT_EQ(r.skipped, c.skipped) << c.current << " " << c.count;
  }
  EXPECT_EQ(Skip({}, 0, 1).skipped, 0);
}

}  // namespace
}  // namespace vesk::sapi
