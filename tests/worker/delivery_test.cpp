// How samples reach the host: chunking, zero-copy delivery, volume and the
// speed/pitch stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "voice/voice_file.h"
#include "worker_fixture.h"

namespace vesk::test {
namespace {

void PutU32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
  voicefile::PutU32(&bytes[at], value);
}

std::vector<int16_t> Tone(std::size_t count, int32_t sampleRate) {
  std::vector<int16_t> samples(count);
  for (std::size_t k = 0; k < count; ++k)
    samples[k] = int16_t(
        8000 * std::sin(2 * M_PI * 220.0 * double(k) / double(sampleRate)));
  return samples;
}

class DeliveryTest : public WorkerTest {
 protected:
  const uint8_t* UnitBytes(const std::string& voice, int32_t unit) {
    uint32_t length = 0;
    return context.voices.Find(U16(voice))->GetUnit(unit, length);
  }

  // Every sample call is even, non-empty and at most one second.
  void ExpectChunksWithin(int32_t chunkSamples) {
    for (const auto& chunk : recorder.Chunks()) {
      if (chunk.IsCompletion()) continue;
      EXPECT_GT(chunk.byteCount, 0);
      EXPECT_EQ(chunk.byteCount % 2, 0);
      EXPECT_LE(chunk.byteCount, 2 * chunkSamples);
    }
    ASSERT_FALSE(recorder.Chunks().empty());
    EXPECT_TRUE(recorder.Chunks().back().IsCompletion());
    EXPECT_EQ(CompletionCount(), 1u);
  }

  bool AnyChunkPointsIntoVoice(const std::string& voice) {
    for (const auto& chunk : recorder.Chunks())
      if (PointsIntoVoice(voice, chunk.pointer)) return true;
    return false;
  }
};

TEST_F(DeliveryTest, UnitLongerThanOneSecondComesInOneSecondPiecesInPlace) {
  AddMarkerVoice("v", 1000, {kPunctuationUnit}, 2500);
  Speak(u".");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].byteCount, 2000);
  EXPECT_EQ(chunks[1].byteCount, 2000);
  EXPECT_EQ(chunks[2].byteCount, 1000);
  EXPECT_TRUE(chunks[3].IsCompletion());
  const auto* start =
      reinterpret_cast<const int16_t*>(UnitBytes("v", kPunctuationUnit));
  EXPECT_EQ(chunks[0].pointer, start);
  EXPECT_EQ(chunks[1].pointer, start + 1000);
  EXPECT_EQ(chunks[2].pointer, start + 2000);
  EXPECT_EQ(PlayedUnits(2500), (std::vector<int32_t>{kPunctuationUnit}));
}

TEST_F(DeliveryTest, DefaultSettingsDeliverEveryChunkStraightFromTheVoice) {
  AddMarkerVoice("v", 16000, {LetterUnit('a'), kPunctuationUnit});
  Speak(u"a.a");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 4u);
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_TRUE(PointsIntoVoice("v", chunks[k].pointer)) << k;
  EXPECT_EQ(chunks[0].pointer, chunks[2].pointer);
}

TEST_F(DeliveryTest, SampleRateZeroChunksAtEightThousandSamples) {
  AddMarkerVoice("v", 0, {kPunctuationUnit}, 20000);
  Speak(u".");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].byteCount, 16000);
  EXPECT_EQ(chunks[1].byteCount, 16000);
  EXPECT_EQ(chunks[2].byteCount, 8000);
}

TEST_F(DeliveryTest, NegativeSampleRateChunksLikeAnUnknownRate) {
  AddMarkerVoice("v", -1, {kPunctuationUnit}, 20000);
  Speak(u".");
  ExpectChunksWithin(8000);
  EXPECT_EQ(PlayedUnits(20000), (std::vector<int32_t>{kPunctuationUnit}));
}

TEST_F(DeliveryTest, SampleRateSonicCannotHandleFallsBackToDirectWithVolume) {
  for (int32_t rate : {0, 8, -16000}) {
    SCOPED_TRACE(rate);
    context.voices.Clear();
    AddVoice("v", rate, {{kPunctuationUnit, {100, -100, 7}}});
    context.pitch.store(60);
    context.volume.store(100);
    const std::size_t before = recorder.Count();
    Speak(u".");
    const auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), before + 2);
    EXPECT_EQ(chunks[before].samples, (std::vector<int16_t>{200, -200, 14}));
    EXPECT_TRUE(chunks[before + 1].IsCompletion());
  }
}

TEST_F(DeliveryTest, OddLengthUnitDropsItsLastByte) {
  auto bytes = BuildVoiceFile(16000, Loadable({{kPunctuationUnit, {5, 6, 7}}}));
  PutU32(bytes, voicefile::EntryPosition(kPunctuationUnit) + 4, 5);
  AddVoiceFile("v", bytes);
  Speak(u".");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].byteCount, 4);
  EXPECT_EQ(chunks[0].samples, (std::vector<int16_t>{5, 6}));
}

TEST_F(DeliveryTest, OneByteUnitPlaysNothing) {
  auto bytes = BuildVoiceFile(16000, Loadable({{kPunctuationUnit, {5}}}));
  PutU32(bytes, voicefile::EntryPosition(kPunctuationUnit) + 4, 1);
  AddVoiceFile("v", bytes);
  Speak(u"..");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_TRUE(chunks[0].IsCompletion());
}

// A unit starting at an odd byte: samples are read little-endian from there.
std::vector<uint8_t> OddOffsetVoice(int32_t sampleRate) {
  std::vector<int16_t> samples(400);
  for (std::size_t k = 0; k < samples.size(); ++k)
    samples[k] = int16_t(0x0102 + 0x0202 * int(k % 50));
  auto bytes =
      BuildVoiceFile(sampleRate, Loadable({{kPunctuationUnit, samples}}));
  uint32_t offset = 0;
  std::memcpy(&offset, &bytes[voicefile::EntryPosition(kPunctuationUnit)], 4);
  PutU32(bytes, voicefile::EntryPosition(kPunctuationUnit), offset + 1);
  PutU32(bytes, voicefile::EntryPosition(kPunctuationUnit) + 4, 798);
  return bytes;
}

TEST_F(DeliveryTest, UnitAtAnOddOffsetIsDeliveredAsStored) {
  const auto bytes = OddOffsetVoice(16000);
  AddVoiceFile("v", bytes);
  context.volume.store(100);
  Speak(u".");
  uint32_t offset = 0;
  std::memcpy(&offset, &bytes[voicefile::EntryPosition(kPunctuationUnit)], 4);
  std::vector<int16_t> expected(399);
  for (std::size_t k = 0; k < expected.size(); ++k) {
    int16_t s;
    std::memcpy(&s, &bytes[offset + 2 * k], 2);
    expected[k] = int16_t(std::clamp(2 * int(s), -32768, 32767));
  }
  EXPECT_EQ(AllSamples(), expected);
}

TEST_F(DeliveryTest, UnitAtAnOddOffsetGoesThroughTheStream) {
  AddVoiceFile("v", OddOffsetVoice(16000));
  context.pitch.store(70);
  Speak(u"..");
  ExpectChunksWithin(16000);
  EXPECT_GT(AllSamples().size(), 0u);
}

TEST_F(DeliveryTest, FullVolumeDoublesAndClamps) {
  AddVoice("v", 16000, {{kPunctuationUnit, {20000, -20000, 100, -1}}});
  context.volume.store(100);
  Speak(u".");
  EXPECT_EQ(AllSamples(), (std::vector<int16_t>{32767, -32768, 200, -2}));
  EXPECT_FALSE(AnyChunkPointsIntoVoice("v"));
  // The voice's own bytes are never scaled in place.
  const auto* unit =
      reinterpret_cast<const uint8_t*>(UnitBytes("v", kPunctuationUnit));
  int16_t first;
  std::memcpy(&first, unit, 2);
  EXPECT_EQ(first, 20000);
}

TEST_F(DeliveryTest, QuarterVolumeHalvesTowardZero) {
  AddVoice("v", 16000, {{kPunctuationUnit, {1001, -1001, 1, -1}}});
  context.volume.store(25);
  Speak(u"..");
  EXPECT_EQ(AllSamples(),
            (std::vector<int16_t>{500, -500, 0, 0, 500, -500, 0, 0}));
}

TEST_F(DeliveryTest, ZeroVolumeStillDeliversEveryChunkSilenced) {
  AddMarkerVoice("v", 1000, {kPunctuationUnit}, 2500);
  context.volume.store(0);
  Speak(u".");
  const auto chunks = recorder.Chunks();
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].byteCount, 2000);
  EXPECT_EQ(chunks[1].byteCount, 2000);
  EXPECT_EQ(chunks[2].byteCount, 1000);
  EXPECT_EQ(AllSamples(), std::vector<int16_t>(2500, 0));
}

TEST_F(DeliveryTest, ScaledLongUnitIsChunkedLikeTheDirectOne) {
  AddMarkerVoice("v", 1000, {kPunctuationUnit}, 2500);
  context.volume.store(100);
  Speak(u".");
  ExpectChunksWithin(1000);
  EXPECT_EQ(AllSamples(), std::vector<int16_t>(2500, 2 * kPunctuationUnit));
}

TEST_F(DeliveryTest, RatesNearTheMiddleNeedNoStream) {
  AddMarkerVoice("v", 16000, {kPunctuationUnit});
  for (int32_t rate : {48, 50, 52}) {
    SCOPED_TRACE(rate);
    context.rate.store(rate);
    const std::size_t before = recorder.Count();
    Speak(u".");
    const auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), before + 2);
    EXPECT_TRUE(PointsIntoVoice("v", chunks[before].pointer));
    EXPECT_EQ(chunks[before].samples,
              MarkerSamples(kPunctuationUnit, kSamplesPerUnit));
  }
}

TEST_F(DeliveryTest, FullRateGivesAboutHalfTheSamples) {
  const int32_t sampleRate = 16000;
  AddVoice("v", sampleRate, {{kPunctuationUnit, Tone(16000, sampleRate)}});
  context.rate.store(100);
  Speak(u"...");
  ExpectChunksWithin(sampleRate);
  const double ratio = double(AllSamples().size()) / (3.0 * 16000);
  EXPECT_GT(ratio, 0.4);
  EXPECT_LT(ratio, 0.6);
  EXPECT_FALSE(AnyChunkPointsIntoVoice("v"));
}

TEST_F(DeliveryTest, SlowestRateStreamStillChunksAtOneSecond) {
  const int32_t sampleRate = 8000;
  AddVoice("v", sampleRate, {{kPunctuationUnit, Tone(16000, sampleRate)}});
  context.rate.store(0);
  Speak(u".");
  ExpectChunksWithin(sampleRate);
  const double ratio = double(AllSamples().size()) / 16000.0;
  EXPECT_GT(ratio, 1.8);
  EXPECT_LT(ratio, 2.2);
}

TEST_F(DeliveryTest, PitchChangeGoesThroughAStreamAtTheSameLength) {
  const int32_t sampleRate = 16000;
  AddVoice("v", sampleRate, {{kPunctuationUnit, Tone(16000, sampleRate)}});
  context.pitch.store(60);
  Speak(u".");
  ExpectChunksWithin(sampleRate);
  EXPECT_FALSE(AnyChunkPointsIntoVoice("v"));
  const double ratio = double(AllSamples().size()) / 16000.0;
  EXPECT_GT(ratio, 0.9);
  EXPECT_LT(ratio, 1.1);
}

TEST_F(DeliveryTest, StreamOutputIsScaledByTheVolume) {
  const int32_t sampleRate = 16000;
  AddVoice("v", sampleRate, {{kPunctuationUnit, Tone(16000, sampleRate)}});
  context.pitch.store(60);
  context.volume.store(0);
  Speak(u".");
  ExpectChunksWithin(sampleRate);
  const auto all = AllSamples();
  EXPECT_GT(all.size(), 0u);
  EXPECT_EQ(all, std::vector<int16_t>(all.size(), 0));
}

TEST_F(DeliveryTest, SettingsAreReadOnceAtTheStart) {
  AddMarkerVoice("v", 1000, {kPunctuationUnit}, 2500);
  recorder.hook = [&](std::size_t index, const DeliveredChunk&) {
    if (index == 0) context.volume.store(100);
  };
  Speak(u".");
  EXPECT_EQ(AllSamples(), MarkerSamples(kPunctuationUnit, 2500));
}

}  // namespace
}  // namespace vesk::test
