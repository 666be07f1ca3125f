// What only the Windows half of the platform layer does: every page
// protection and reservation state, names with unpaired surrogates, access
// violations at the null page and in read-only image data, and the other
// structured exceptions. The contract both halves keep is in
// tests/platform/, built into this program as well.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

namespace vesk::platform {
namespace {

const char kReadOnly[] = "read-only data";

// One page with the given protection, released on destruction.
class Page {
 public:
  explicit Page(DWORD protection) {
    address_ =
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, protection);
  }
  ~Page() {
    if (address_ != nullptr) VirtualFree(address_, 0, MEM_RELEASE);
  }
  void* get() const { return address_; }

 private:
  void* address_ = nullptr;
};

struct Expected {
  DWORD protection;
  bool writable;
  bool executable;
};

TEST(QueryMemory, ClassifiesEveryProtection) {
  const Expected cases[] = {
      {PAGE_READONLY, false, false},
      {PAGE_READWRITE, true, false},
      {PAGE_EXECUTE, false, true},
      {PAGE_EXECUTE_READ, false, true},
      {PAGE_EXECUTE_READWRITE, true, true},
      {PAGE_NOACCESS, false, false},
      // Modifier bits do not change the class.
      {PAGE_READWRITE | PAGE_GUARD, true, false},
      {PAGE_READWRITE | PAGE_NOCACHE, true, false},
      {PAGE_EXECUTE_READWRITE | PAGE_WRITECOMBINE, true, true},
  };
  for (const auto& c : cases) {
    Page page(c.protection);
    ASSERT_NE(page.get(), nullptr) << std::hex << c.protection;
    const auto region = QueryMemory(page.get());
    ASSERT_TRUE(region) << std::hex << c.protection;
    EXPECT_TRUE(region->committed) << std::hex << c.protection;
    EXPECT_EQ(region->writable, c.writable) << std::hex << c.protection;
    EXPECT_EQ(region->executable, c.executable) << std::hex << c.protection;
  }
}

TEST(QueryMemory, ReservedButUncommittedIsNotCommitted) {
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(reserved, nullptr);
  const auto region = QueryMemory(reserved);
  ASSERT_TRUE(region);
  EXPECT_FALSE(region->committed);
  EXPECT_FALSE(region->writable);
  EXPECT_FALSE(ReadPointer(reserved));
  VirtualFree(reserved, 0, MEM_RELEASE);
}

// NTFS names may hold unpaired surrogates; the engine's path text keeps
// them as they are, where a conversion through UTF-8 would throw.
TEST(PathText, KeepsUnpairedSurrogatesOfNames) {
  const std::wstring name = L"v\xDC01\xD800.vl";
  const std::u16string text = PathText(std::filesystem::path(name));
  EXPECT_EQ(text,
            std::u16string(reinterpret_cast<const char16_t*>(name.c_str()),
                           name.size()));
  EXPECT_EQ(NativePath(text).native(), name);
  EXPECT_EQ(HostText(text), text);
}

// --- Guarded calls: structured exceptions ---

void Increment(void* context) { ++*static_cast<int*>(context); }
void DereferenceNull(void*) {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}
void WriteReadOnly(void*) {
  volatile char* target = const_cast<char*>(kReadOnly);
  *target = 'x';
}
void DivideByZero(void* context) {
  volatile int numerator = 7;
  volatile int zero = *static_cast<int*>(context);
  volatile int result = numerator / zero;
  (void)result;
}
void RaiseForeign(void*) {
  RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

TEST(CallGuarded, AccessViolationsAreSwallowedRepeatedly) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(CallGuarded(&DereferenceNull, nullptr));
    EXPECT_FALSE(CallGuarded(&WriteReadOnly, nullptr));
  }
  int count = 0;
  EXPECT_TRUE(CallGuarded(&Increment, &count));
  EXPECT_EQ(count, 1);
}

TEST(CallGuarded, OtherStructuredExceptionsAreSwallowed) {
  int zero = 0;
  EXPECT_FALSE(CallGuarded(&DivideByZero, &zero));
  EXPECT_FALSE(CallGuarded(&RaiseForeign, nullptr));
}

}  // namespace
}  // namespace vesk::platform
