// Files on both halves of the platform layer: UTF-16 names, 64-bit sizes,
// whole-file reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_files.h"

namespace vesk::platform {
namespace {

using File = OwnedFile;

TEST(OpenFile, OpensAChineseNamedFileByItsUtf16Path) {
  test::TempDir dir;
  std::ofstream(dir.path() / std::filesystem::path(u8"语音.vl"),
                std::ios::binary)
      << "abc";
  const std::u16string path = dir.u16path() + u"/语音.vl";
  File file(OpenFile(path, "rb"));
  ASSERT_TRUE(file);
  EXPECT_EQ(FileSizeFromEnd(file.get()), 3);
  ASSERT_TRUE(SeekTo(file.get(), 1));
  EXPECT_EQ(std::fgetc(file.get()), 'b');
  EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(OpenFile, RefusesDirectoriesAndMissingFiles) {
  test::TempDir dir;
  EXPECT_EQ(OpenFile(dir.u16path(), "rb"), nullptr);
  EXPECT_EQ(OpenFile(dir.u16path() + u"/missing", "rb"), nullptr);
}

TEST(FileSizeFromEnd, ReportsSizesBeyond32Bits) {
  test::TempDir dir;
  const auto path = dir.Write("big", std::string("x"));
  std::error_code error;
  const uint64_t size = (uint64_t(1) << 32) + 5;
  std::filesystem::resize_file(path, size, error);  // sparse
  if (error) GTEST_SKIP() << error.message();
  File file(OpenFile(test::U16(path.string()), "rb"));
  ASSERT_TRUE(file);
  EXPECT_EQ(FileSizeFromEnd(file.get()), int64_t(size));
  ASSERT_TRUE(SeekTo(file.get(), int64_t(size) - 1));
  EXPECT_EQ(std::fgetc(file.get()), 0);
  EXPECT_FALSE(SeekTo(file.get(), -1));
}

// A voice file's buffer is not zero-filled when it grows, but it is still a
// vector: what it held survives growth past a large buffer, copies and
// assignments compare equal, and its memory goes back as it came.
TEST(FileBytes, KeepsItsBytesThroughGrowthCopiesAndRelease) {
  FileBytes bytes;
  bytes.assign({1, 2, 3});
  const std::size_t large = (std::size_t(5) << 20) + 3;
  bytes.resize(large);
  ASSERT_EQ(bytes.size(), large);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[2], 3);
  bytes.back() = 7;
  const FileBytes copy = bytes;
  EXPECT_EQ(copy, bytes);
  bytes.resize(2);
  bytes.resize(4, 9);
  EXPECT_EQ(bytes, (FileBytes{1, 2, 9, 9}));
  bytes.shrink_to_fit();
  EXPECT_EQ(bytes.capacity(), 4u);
  bytes.clear();
  bytes.shrink_to_fit();
  EXPECT_EQ(bytes.capacity(), 0u);
}

TEST(ReadWholeFile, ReadsEveryByte) {
  test::TempDir dir;
  const std::string bytes("\0\1\2\xFF zz", 7);
  const auto path = dir.Write("f", bytes);
  const auto read = ReadWholeFile(test::U16(path.string()));
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(read->begin(), read->end()), bytes);
  const auto empty = ReadWholeFile(test::U16(dir.Write("e", "").string()));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  EXPECT_FALSE(ReadWholeFile(dir.u16path() + u"/missing"));
  EXPECT_FALSE(ReadWholeFile(dir.u16path()));
}

}  // namespace
}  // namespace vesk::platform
