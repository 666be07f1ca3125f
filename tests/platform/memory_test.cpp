// How callback pointers' memory is classified and read, on both halves of
// the platform layer; the Windows protections and reservations are in
// tests/windows/platform_test.cpp.
#include <gtest/gtest.h>

#include <memory>

#include "platform/memory_pages.h"
#include "platform/platform.h"

namespace vesk::platform {
namespace {

using test::Access;
using test::Page;

void SomeFunction() {}
const char kReadOnly[] = "read-only data";

TEST(QueryMemory, StackVariableIsWritableData) {
  int variable = 0;
  const auto region = QueryMemory(&variable);
  ASSERT_TRUE(region);
  EXPECT_TRUE(region->committed);
  EXPECT_TRUE(region->writable);
  EXPECT_FALSE(region->executable);
}

TEST(QueryMemory, FunctionIsExecutableReadOnlyCode) {
  const auto region = QueryMemory(reinterpret_cast<const void*>(&SomeFunction));
  ASSERT_TRUE(region);
  EXPECT_TRUE(region->committed);
  EXPECT_FALSE(region->writable);
  EXPECT_TRUE(region->executable);
}

TEST(QueryMemory, ConstantDataIsNeitherWritableNorExecutable) {
  const auto region = QueryMemory(kReadOnly);
  ASSERT_TRUE(region);
  EXPECT_TRUE(region->committed);
  EXPECT_FALSE(region->writable);
  EXPECT_FALSE(region->executable);
}

TEST(QueryMemory, WritableExecutableMappingIsBoth) {
  Page page(Access::kReadWriteExecute);
  if (page.get() == nullptr) GTEST_SKIP() << "no rwx mapping here";
  const auto region = QueryMemory(page.get());
  ASSERT_TRUE(region);
  EXPECT_TRUE(region->committed);
  EXPECT_TRUE(region->writable);
  EXPECT_TRUE(region->executable);
  EXPECT_FALSE(region->fileBacked);
}

TEST(QueryMemory, ImagesAndFilesAreFileBackedPrivateMemoryIsNot) {
  const auto code = QueryMemory(reinterpret_cast<const void*>(&SomeFunction));
  ASSERT_TRUE(code);
  EXPECT_TRUE(code->fileBacked);
  EXPECT_TRUE(QueryMemory(kReadOnly)->fileBacked);
  int variable = 0;
  EXPECT_FALSE(QueryMemory(&variable)->fileBacked);
  auto heap = std::make_unique<int>(0);
  EXPECT_FALSE(QueryMemory(heap.get())->fileBacked);
  Page anonymous(Access::kReadWrite);
  ASSERT_NE(anonymous.get(), nullptr);
  EXPECT_FALSE(QueryMemory(anonymous.get())->fileBacked);
}

TEST(QueryMemory, InaccessibleAndUnmappedAddresses) {
  Page none(Access::kNone);
  ASSERT_NE(none.get(), nullptr);
  const auto guard = QueryMemory(none.get());
  ASSERT_TRUE(guard);
  EXPECT_FALSE(guard->writable);
  EXPECT_FALSE(guard->executable);

  const auto gone = QueryMemory(test::ReleasedAddress());
  ASSERT_TRUE(gone);
  EXPECT_FALSE(gone->committed);
  const auto null = QueryMemory(nullptr);
  ASSERT_TRUE(null);
  EXPECT_FALSE(null->committed);
}

TEST(ReadPointer, ReadsAReadableValue) {
  const auto value = static_cast<uintptr_t>(0x1234567890ABCDEFull);
  EXPECT_EQ(ReadPointer(&value), value);
}

TEST(ReadPointer, FaultingAddressesGiveNothing) {
  EXPECT_FALSE(ReadPointer(nullptr));
  EXPECT_FALSE(ReadPointer(test::ReleasedAddress()));
  Page none(Access::kNone);
  ASSERT_NE(none.get(), nullptr);
  EXPECT_FALSE(ReadPointer(none.get()));
}

TEST(ModulePathOf, NamesTheExecutableForItsOwnCode) {
  const auto path = ModulePathOf(reinterpret_cast<const void*>(&SomeFunction));
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, test::ExecutablePath());
}

TEST(ModulePathOf, UnmappedAddressHasNoModule) {
  EXPECT_FALSE(ModulePathOf(test::ReleasedAddress()));
  Page page(Access::kReadWrite);
  ASSERT_NE(page.get(), nullptr);
  EXPECT_FALSE(ModulePathOf(page.get()));
}

}  // namespace
}  // namespace vesk::platform
