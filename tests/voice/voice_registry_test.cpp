#include "voice/voice_registry.h"

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace vesk {
namespace {

Voice MakeVoice(std::u16string name, int32_t sampleRate,
                std::vector<int32_t> units = {}) {
  Voice voice;
  voice.name = std::move(name);
  voice.sampleRate = sampleRate;
  voice.data.assign(64, 0);
  for (int32_t index : units) voice.units[index] = {40, 2};
  return voice;
}

TEST(VoiceRegistry, NamesAreOrderedByUnsignedCodeUnits) {
  VoiceRegistry registry;
  registry.Add(MakeVoice(test::U16("中文"), 1));
  registry.Add(MakeVoice(u"ab", 2));
  registry.Add(MakeVoice(u"a", 3));
  registry.Add(MakeVoice(u"B", 4));
  registry.Add(MakeVoice(u"\xFF21", 5));  // full-width A sorts after Han
  EXPECT_EQ(registry.Names(),
            (std::vector<std::u16string>{u"B", u"a", u"ab", test::U16("中文"),
                                         u"\xFF21"}));
  EXPECT_EQ(registry.Count(), 5u);
  EXPECT_EQ(registry.First()->name, u"B");
}

TEST(VoiceRegistry, FindIsExactAndCaseSensitive) {
  VoiceRegistry registry;
  registry.Add(MakeVoice(u"ab", 16000));
  ASSERT_NE(registry.Find(u"ab"), nullptr);
  EXPECT_EQ(registry.Find(u"ab")->sampleRate, 16000);
  EXPECT_EQ(registry.Find(u"AB"), nullptr);
  EXPECT_EQ(registry.Find(u"ab "), nullptr);
  EXPECT_EQ(registry.Find(u"a"), nullptr);
  EXPECT_EQ(registry.Find(u""), nullptr);
}

TEST(VoiceRegistry, ResolveFallsBackToTheFirstVoice) {
  VoiceRegistry registry;
  EXPECT_EQ(registry.Resolve(u""), nullptr);
  EXPECT_EQ(registry.Resolve(u"x"), nullptr);
  EXPECT_EQ(registry.First(), nullptr);
  registry.Add(MakeVoice(u"b", 2));
  registry.Add(MakeVoice(u"a", 1));
  EXPECT_EQ(registry.Resolve(u"b")->name, u"b");
  EXPECT_EQ(registry.Resolve(u"")->name, u"a");
  EXPECT_EQ(registry.Resolve(u"B")->name, u"a");
}

TEST(VoiceRegistry, AddingTheSameNameReplacesTheWholeVoice) {
  VoiceRegistry registry;
  registry.Add(MakeVoice(u"v", 16000, {1, 2}));
  registry.Add(MakeVoice(u"v", 22050, {7}));
  ASSERT_EQ(registry.Count(), 1u);
  const auto voice = registry.Find(u"v");
  EXPECT_EQ(voice->sampleRate, 22050);
  EXPECT_TRUE(voice->HasUnit(7));
  EXPECT_FALSE(voice->HasUnit(1));
}

TEST(VoiceRegistry, HeldVoiceOutlivesClearAndReplacement) {
  VoiceRegistry registry;
  registry.Add(MakeVoice(u"v", 16000, {1}));
  const std::shared_ptr<const Voice> held = registry.Resolve(u"");
  uint32_t length = 0;
  const uint8_t* unit = held->GetUnit(1, length);
  registry.Add(MakeVoice(u"v", 8000));
  registry.Clear();
  EXPECT_EQ(registry.Count(), 0u);
  EXPECT_TRUE(registry.Names().empty());
  EXPECT_EQ(held->sampleRate, 16000);
  EXPECT_EQ(held->GetUnit(1, length), unit);  // still readable
  EXPECT_EQ(unit[0], 0);
}

}  // namespace
}  // namespace vesk
