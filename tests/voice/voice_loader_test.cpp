#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "voice/voice.h"

namespace vesk {
namespace {

using test::TempDir;
using test::U16;

struct Logged {
  int32_t level;
  std::u16string text;
  friend bool operator==(const Logged&, const Logged&) = default;
};

struct Loader {
  std::vector<Logged> lines;
  LogSink Sink() {
    return [this](int32_t level, const std::u16string& text) {
      lines.push_back({level, text});
    };
  }
};

void PutU32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

std::vector<uint8_t> Header(std::size_t size, uint32_t sampleRate = 16000) {
  std::vector<uint8_t> bytes(size, 0);
  if (size >= 12) PutU32(bytes, 8, sampleRate);
  return bytes;
}

std::u16string PathOf(const std::filesystem::path& path) {
  return U16(path.string());
}

Voice Named(const char16_t* name) {
  Voice voice;
  voice.name = name;
  return voice;
}

TEST(VoiceLoader, SpecimenFileOf44BytesYieldsOneUnit) {
  TempDir dir;
  std::vector<uint8_t> bytes = Header(44);
  PutU32(bytes, 24, 40);
  PutU32(bytes, 28, 4);
  bytes[40] = 0x34;
  bytes[41] = 0x12;
  bytes[42] = 0xCD;
  bytes[43] = 0xAB;
  const std::u16string path = PathOf(dir.Write("v.vl", bytes));
  Loader loader;
  Voice voice = Named(u"v");
  EXPECT_TRUE(voice.Load(path, loader.Sink()));
  EXPECT_EQ(voice.sampleRate, 16000);
  EXPECT_EQ(voice.path, path);
  ASSERT_EQ(voice.units.size(), 1u);
  EXPECT_EQ(voice.units.at(0).offset, 40u);
  EXPECT_EQ(voice.units.at(0).length, 4u);
  EXPECT_EQ(std::vector<uint8_t>(voice.data.begin(), voice.data.end()), bytes);
  EXPECT_EQ(loader.lines,
            (std::vector<Logged>{{1, U16("加载语音库 v: 1 条目")}}));
}

TEST(VoiceLoader, MissingFileCannotBeOpened) {
  TempDir dir;
  const std::u16string path = PathOf(dir.path() / "none.vl");
  Loader loader;
  Voice voice = Named(u"none");
  EXPECT_FALSE(voice.Load(path, loader.Sink()));
  EXPECT_EQ(loader.lines,
            (std::vector<Logged>{{4, U16("无法打开语音库文件: ") + path}}));
}

TEST(VoiceLoader, DirectoryIsRefusedAsUnopenable) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "y.vl");
  const std::u16string path = PathOf(dir.path() / "y.vl");
  Loader loader;
  Voice voice = Named(u"y");
  EXPECT_FALSE(voice.Load(path, loader.Sink()));
  EXPECT_EQ(loader.lines,
            (std::vector<Logged>{{4, U16("无法打开语音库文件: ") + path}}));
  EXPECT_TRUE(voice.data.empty());
}

TEST(VoiceLoader, EmptyFileIsReportedEmpty) {
  TempDir dir;
  const std::u16string path = PathOf(dir.Write("e.vl", std::string()));
  Loader loader;
  Voice voice = Named(u"e");
  EXPECT_FALSE(voice.Load(path, loader.Sink()));
  EXPECT_EQ(loader.lines,
            (std::vector<Logged>{{4, U16("语音库文件为空: ") + path}}));
}

TEST(VoiceLoader, FileOf27BytesIsMalformedAndLeavesNoData) {
  TempDir dir;
  const std::u16string path = PathOf(dir.Write("s.vl", Header(27)));
  Loader loader;
  Voice voice = Named(u"s");
  EXPECT_FALSE(voice.Load(path, loader.Sink()));
  EXPECT_EQ(loader.lines,
            (std::vector<Logged>{{4, U16("语音库文件格式错误: ") + path}}));
  EXPECT_TRUE(voice.data.empty());
  EXPECT_TRUE(voice.units.empty());
  EXPECT_EQ(voice.sampleRate, 0);
}

TEST(VoiceLoader, FilesOf28And31BytesHaveARateButNoUnit) {
  for (std::size_t size : {28u, 31u}) {
    TempDir dir;
    const std::u16string path = PathOf(dir.Write("h.vl", Header(size, 22050)));
    Loader loader;
    Voice voice = Named(u"h");
    EXPECT_FALSE(voice.Load(path, loader.Sink())) << size;
    EXPECT_EQ(voice.sampleRate, 22050);
    EXPECT_EQ(voice.data.size(), size);
    EXPECT_EQ(loader.lines,
              (std::vector<Logged>{{1, U16("加载语音库 h: 0 条目")}}));
  }
}

TEST(VoiceLoader, FileOf32BytesNeverHoldsAUnit) {
  for (uint32_t offset : {0u, 24u, 31u, 32u}) {
    TempDir dir;
    std::vector<uint8_t> bytes = Header(32);
    PutU32(bytes, 24, offset);
    PutU32(bytes, 28, 1);
    Loader loader;
    Voice voice = Named(u"t");
    EXPECT_FALSE(voice.Load(PathOf(dir.Write("t.vl", bytes)), loader.Sink()));
    EXPECT_TRUE(voice.units.empty()) << offset;
  }
}

TEST(VoiceLoader, UnitStartingAtTheEndOfItsOwnEntryIsRejected) {
  TempDir dir;
  // Entry 0 at 24 points to 32, the end of itself; entry 1 at 32 would be
  // the data. 36 bytes in all.
  std::vector<uint8_t> bytes = Header(36);
  PutU32(bytes, 24, 32);
  PutU32(bytes, 28, 4);
  Loader loader;
  Voice voice = Named(u"x");
  EXPECT_FALSE(voice.Load(PathOf(dir.Write("x.vl", bytes)), loader.Sink()));
  EXPECT_TRUE(voice.units.empty());

  // One byte later it is accepted.
  std::vector<uint8_t> later = Header(40);
  PutU32(later, 24, 33);
  PutU32(later, 28, 4);
  Voice accepted = Named(u"y");
  EXPECT_TRUE(accepted.Load(PathOf(dir.Write("y.vl", later)), loader.Sink()));
  EXPECT_EQ(accepted.units.size(), 1u);
}

TEST(VoiceLoader, RejectedEntriesStillUseUpTheirIndex) {
  TempDir dir;
  std::vector<uint8_t> bytes = Header(60);
  const uint32_t data = 52;
  PutU32(bytes, 24, data);  // entry 0: length 0
  PutU32(bytes, 32, data);  // entry 1: runs past the end
  PutU32(bytes, 36, 100);
  PutU32(bytes, 40, data);  // entry 2: accepted
  PutU32(bytes, 44, 8);
  Loader loader;
  Voice voice = Named(u"r");
  EXPECT_TRUE(voice.Load(PathOf(dir.Write("r.vl", bytes)), loader.Sink()));
  ASSERT_EQ(voice.units.size(), 1u);
  EXPECT_TRUE(voice.HasUnit(2));
  EXPECT_FALSE(voice.HasUnit(0));
  EXPECT_FALSE(voice.HasUnit(1));
}

TEST(VoiceLoader, OffsetPlusLengthBeyond32BitsIsRejected) {
  TempDir dir;
  std::vector<uint8_t> bytes = Header(49);
  PutU32(bytes, 24, 0xFFFFFFF0u);  // wraps to 0x20 in 32 bits
  PutU32(bytes, 28, 0x30);
  PutU32(bytes, 32, 41);
  PutU32(bytes, 36, 8);
  Loader loader;
  Voice voice = Named(u"o");
  EXPECT_TRUE(voice.Load(PathOf(dir.Write("o.vl", bytes)), loader.Sink()));
  EXPECT_FALSE(voice.HasUnit(0));
  EXPECT_TRUE(voice.HasUnit(1));
  EXPECT_EQ(voice.units.size(), 1u);
}

TEST(VoiceLoader, AcceptedEntryPointingIntoTheTableEndsTheScan) {
  TempDir dir;
  // Entry 0 says its unit starts at 40 (where entry 2 would be); entries 1
  // and 2 look valid, but only entry 1 lies before 40.
  std::vector<uint8_t> bytes = Header(64);
  PutU32(bytes, 24, 40);
  PutU32(bytes, 28, 8);
  PutU32(bytes, 32, 56);
  PutU32(bytes, 36, 8);
  PutU32(bytes, 40, 48);
  PutU32(bytes, 44, 8);
  Loader loader;
  Voice voice = Named(u"p");
  EXPECT_TRUE(voice.Load(PathOf(dir.Write("p.vl", bytes)), loader.Sink()));
  EXPECT_TRUE(voice.HasUnit(0));
  EXPECT_TRUE(voice.HasUnit(1));
  EXPECT_FALSE(voice.HasUnit(2));
  EXPECT_EQ(loader.lines,
            (std::vector<Logged>{{1, U16("加载语音库 p: 2 条目")}}));
}

TEST(VoiceLoader, ZeroSampleRateAndOddLengthAreKept) {
  TempDir dir;
  std::vector<uint8_t> bytes = Header(37, 0);
  PutU32(bytes, 24, 33);
  PutU32(bytes, 28, 3);
  Loader loader;
  Voice voice = Named(u"z");
  EXPECT_TRUE(voice.Load(PathOf(dir.Write("z.vl", bytes)), loader.Sink()));
  EXPECT_EQ(voice.sampleRate, 0);
  EXPECT_EQ(voice.units.at(0).length, 3u);
}

TEST(VoiceLoader, BuiltVoiceFileRoundTrips) {
  TempDir dir;
  const std::vector<uint8_t> bytes =
      test::BuildMarkerVoice(24000, {0, 24, 300}, 5);
  Loader loader;
  Voice voice = Named(u"m");
  EXPECT_TRUE(voice.Load(PathOf(dir.Write("m.vl", bytes)), loader.Sink()));
  EXPECT_EQ(voice.sampleRate, 24000);
  EXPECT_EQ(voice.units.size(), 3u);
  for (int32_t index : {0, 24, 300}) {
    uint32_t length = 99;
    const uint8_t* unit = voice.GetUnit(index, length);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(unit[0], uint8_t(index & 0xFF));
    EXPECT_EQ(unit[1], uint8_t(index >> 8));
    EXPECT_GE(unit, voice.data.data());
    EXPECT_LE(unit + length, voice.data.data() + voice.data.size());
  }
}

TEST(VoiceLoader, LoadingAgainDiscardsTheEarlierContent) {
  TempDir dir;
  Loader loader;
  Voice voice = Named(u"a");
  ASSERT_TRUE(voice.Load(
      PathOf(dir.Write("a.vl", test::BuildMarkerVoice(16000, {1, 2}, 4))),
      loader.Sink()));
  voice.IndexUnits();
  ASSERT_TRUE(voice.Load(
      PathOf(dir.Write("c.vl", test::BuildMarkerVoice(16000, {2, 3}, 6))),
      loader.Sink()));
  // The index built for the first content is gone with it.
  EXPECT_FALSE(voice.HasUnit(1));
  uint32_t length = 0;
  EXPECT_EQ(voice.GetUnit(1, length), nullptr);
  const uint8_t* unit = voice.GetUnit(2, length);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(length, 12u);
  EXPECT_GE(unit, voice.data.data());
  EXPECT_TRUE(voice.HasUnit(3));
  voice.IndexUnits();
  EXPECT_FALSE(
      voice.Load(PathOf(dir.Write("b.vl", Header(27))), loader.Sink()));
  EXPECT_TRUE(voice.units.empty());
  EXPECT_TRUE(voice.unitIndex.empty());
  EXPECT_TRUE(voice.data.empty());
  EXPECT_FALSE(voice.HasUnit(2));
}

TEST(VoiceLoader, LoadsFromItsOwnPathField) {
  TempDir dir;
  Voice voice = Named(u"s");
  voice.path =
      PathOf(dir.Write("s.vl", test::BuildMarkerVoice(8000, {3, 4}, 2)));
  Loader loader;
  EXPECT_TRUE(voice.Load(voice.path, loader.Sink()));
  EXPECT_TRUE(voice.HasUnit(3));
}

TEST(VoiceLoader, FileOf2GiBOrMoreIsRefusedWithoutReading) {
  TempDir dir;
  const auto file = dir.path() / "big.vl";
  { std::ofstream(file, std::ios::binary).put('\0'); }
  std::error_code error;
  std::filesystem::resize_file(file, uint64_t(1) << 31, error);  // sparse
  if (error) GTEST_SKIP() << "no sparse file: " << error.message();
  Loader loader;
  Voice voice = Named(u"big");
  EXPECT_FALSE(voice.Load(PathOf(file), loader.Sink()));
  EXPECT_EQ(loader.lines,
            (std::vector<Logged>{{4, U16("语音库文件过大: ") + PathOf(file)}}));
  EXPECT_TRUE(voice.data.empty());
}

TEST(VoiceUnits, UnknownAndNegativeIndicesGiveNothing) {
  Voice voice;
  voice.data.assign(40, 7);
  voice.units[0] = {32, 8};
  uint32_t length = 123;
  EXPECT_EQ(voice.GetUnit(-1, length), nullptr);
  EXPECT_EQ(length, 0u);
  length = 123;
  EXPECT_EQ(voice.GetUnit(1, length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(voice.GetUnit(0, length), voice.data.data() + 32);
  EXPECT_EQ(length, 8u);
  EXPECT_FALSE(voice.HasUnit(-1));
}

TEST(VoiceUnits, EntriesOutsideTheDataGiveNothing) {
  Voice voice;
  voice.data.assign(40, 7);
  voice.units[0] = {36, 8};
  voice.units[1] = {0xFFFFFFF0u, 0x20};
  voice.units[2] = {10, 0};
  uint32_t length = 1;
  EXPECT_EQ(voice.GetUnit(0, length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(voice.GetUnit(1, length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(voice.GetUnit(2, length), nullptr);
  EXPECT_EQ(length, 0u);
  Voice empty;
  empty.units[0] = {0, 2};
  EXPECT_EQ(empty.GetUnit(0, length), nullptr);
  EXPECT_EQ(length, 0u);
}

}  // namespace
}  // namespace vesk
