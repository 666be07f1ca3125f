#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "platform/platform.h"

namespace vesk::platform {
namespace {

void SomeFunction() {}
const char kReadOnly[] = "read-only data";

class Mapping {
 public:
  Mapping(int protection) {
    size_ = std::size_t(::sysconf(_SC_PAGESIZE));
    address_ =
        ::mmap(nullptr, size_, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address_ == MAP_FAILED) address_ = nullptr;
  }
  ~Mapping() {
    if (address_ != nullptr) ::munmap(address_, size_);
  }
  void* get() const { return address_; }
  // An address that was mapped and is not any more.
  static void* Released() {
    Mapping mapping(PROT_READ);
    return mapping.get();
  }

 private:
  void* address_ = nullptr;
  std::size_t size_ = 0;
};

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
  Mapping mapping(PROT_READ | PROT_WRITE | PROT_EXEC);
  if (mapping.get() == nullptr) GTEST_SKIP() << "no rwx mapping here";
  const auto region = QueryMemory(mapping.get());
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
  int variable = 0;
  EXPECT_FALSE(QueryMemory(&variable)->fileBacked);
  auto heap = std::make_unique<int>(0);
  EXPECT_FALSE(QueryMemory(heap.get())->fileBacked);
  Mapping anonymous(PROT_READ | PROT_WRITE);
  ASSERT_NE(anonymous.get(), nullptr);
  EXPECT_FALSE(QueryMemory(anonymous.get())->fileBacked);
}

TEST(QueryMemory, InaccessibleAndUnmappedAddresses) {
  Mapping none(PROT_NONE);
  ASSERT_NE(none.get(), nullptr);
  const auto guard = QueryMemory(none.get());
  ASSERT_TRUE(guard);
  EXPECT_FALSE(guard->writable);
  EXPECT_FALSE(guard->executable);

  const auto gone = QueryMemory(Mapping::Released());
  ASSERT_TRUE(gone);
  EXPECT_FALSE(gone->committed);
  const auto null = QueryMemory(nullptr);
  ASSERT_TRUE(null);
  EXPECT_FALSE(null->committed);
}

TEST(ReadPointer, ReadsAReadableValue) {
  const uintptr_t value = 0x1234567890ABCDEFu;
  EXPECT_EQ(ReadPointer(&value), value);
}

TEST(ReadPointer, FaultingAddressesGiveNothing) {
  EXPECT_FALSE(ReadPointer(nullptr));
  EXPECT_FALSE(ReadPointer(Mapping::Released()));
  Mapping none(PROT_NONE);
  EXPECT_FALSE(ReadPointer(none.get()));
}

TEST(ModulePathOf, NamesTheExecutableForItsOwnCode) {
  const auto path = ModulePathOf(reinterpret_cast<const void*>(&SomeFunction));
  ASSERT_TRUE(path);
  EXPECT_EQ(std::filesystem::path(Utf16ToUtf8(*path)),
            std::filesystem::read_symlink("/proc/self/exe"));
}

TEST(ModulePathOf, UnmappedAddressHasNoModule) {
  EXPECT_FALSE(ModulePathOf(Mapping::Released()));
}

}  // namespace
}  // namespace vesk::platform
