// The Windows platform layer against real Windows memory, modules, files
// and faults.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace vesk::platform {
namespace {

void SomeFunction() {}
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

TEST(QueryMemory, CodeDataAndStack) {
  const auto code = QueryMemory(reinterpret_cast<const void*>(&SomeFunction));
  ASSERT_TRUE(code);
  EXPECT_TRUE(code->committed);
  EXPECT_FALSE(code->writable);
  EXPECT_TRUE(code->executable);

  const auto constant = QueryMemory(kReadOnly);
  ASSERT_TRUE(constant);
  EXPECT_FALSE(constant->writable);
  EXPECT_FALSE(constant->executable);

  int variable = 0;
  const auto stack = QueryMemory(&variable);
  ASSERT_TRUE(stack);
  EXPECT_TRUE(stack->writable);
  EXPECT_FALSE(stack->executable);

  // The image is file-backed; allocated memory is private.
  EXPECT_TRUE(code->fileBacked);
  EXPECT_TRUE(constant->fileBacked);
  EXPECT_FALSE(stack->fileBacked);
  Page page(PAGE_EXECUTE_READWRITE);
  ASSERT_NE(page.get(), nullptr);
  EXPECT_FALSE(QueryMemory(page.get())->fileBacked);
}

TEST(QueryMemory, ReservedButUncommittedIsNotCommitted) {
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(reserved, nullptr);
  const auto region = QueryMemory(reserved);
  ASSERT_TRUE(region);
  EXPECT_FALSE(region->committed);
  EXPECT_FALSE(region->writable);
  VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(ReadPointer, ReadsValuesAndSurvivesFaults) {
  const uintptr_t value = uintptr_t(0x12345678u);
  EXPECT_EQ(ReadPointer(&value), value);
  EXPECT_FALSE(ReadPointer(nullptr));
  Page none(PAGE_NOACCESS);
  ASSERT_NE(none.get(), nullptr);
  EXPECT_FALSE(ReadPointer(none.get()));
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
  EXPECT_FALSE(ReadPointer(reserved));
  VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(ModulePathOf, NamesTheExecutableForItsOwnCode) {
  const auto path = ModulePathOf(reinterpret_cast<const void*>(&SomeFunction));
  ASSERT_TRUE(path);
  wchar_t expected[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, expected, MAX_PATH);
  EXPECT_EQ(*path, std::u16string(reinterpret_cast<const char16_t*>(expected),
                                  length));
  Page page(PAGE_READWRITE);
  EXPECT_FALSE(ModulePathOf(page.get()));
}

TEST(Utf8ToUtf16, ConvertsAndReplacesInvalidSequences) {
  EXPECT_EQ(Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utf8ToUtf16("a\xE4\xB8\xAD"), u"a中");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16(std::string("x\0y", 3)), std::u16string(u"x\0y", 3));
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

TEST(Utf16ToUtf8, ConvertsAndReplacesLoneSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"a中"), "a\xE4\xB8\xAD");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

class TempFolder {
 public:
  TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    path_ = std::filesystem::path(std::wstring(buffer, length)) /
            (L"vesk-平台-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::filesystem::path Write(const std::wstring& name,
                              const std::string& bytes) const {
    const auto full = path_ / name;
    std::ofstream(full, std::ios::binary) << bytes;
    return full;
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(Files, OpensByUtf16PathAndReadsWholeFiles) {
  TempFolder folder;
  const auto path = folder.Write(L"语音.vl", std::string("ab\0c", 4));
  const std::u16string wide = path.u16string();
  std::FILE* file = OpenFile(wide, "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(FileSizeFromEnd(file), 4);
  ASSERT_TRUE(SeekTo(file, 1));
  EXPECT_EQ(std::fgetc(file), 'b');
  EXPECT_FALSE(SeekTo(file, -1));
  std::fclose(file);

  const auto bytes = ReadWholeFile(wide);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, (std::vector<uint8_t>{'a', 'b', 0, 'c'}));
  EXPECT_FALSE(ReadWholeFile(folder.path().u16string()));
  EXPECT_FALSE(ReadWholeFile(folder.path().u16string() + u"\\missing"));
  EXPECT_EQ(OpenFile(folder.path().u16string(), "rb"), nullptr);
}

TEST(Files, SizesBeyond32Bits) {
  TempFolder folder;
  const auto path = folder.Write(L"big", "x");
  std::error_code error;
  const uint64_t size = (uint64_t(1) << 32) + 5;
  std::filesystem::resize_file(path, size, error);
  if (error) GTEST_SKIP() << error.message();
  std::FILE* file = OpenFile(path.u16string(), "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(FileSizeFromEnd(file), int64_t(size));
  ASSERT_TRUE(SeekTo(file, int64_t(size) - 1));
  EXPECT_EQ(std::fgetc(file), 0);
  std::fclose(file);
  std::filesystem::remove(path, error);
}

// --- Guarded calls ---

void Increment(void* context) { ++*static_cast<int*>(context); }
void Throw(void*) { throw std::runtime_error("host error"); }
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

TEST(CallGuarded, NormalCallReturnsTrue) {
  int count = 0;
  EXPECT_TRUE(CallGuarded(&Increment, &count));
  EXPECT_EQ(count, 1);
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

TEST(CallGuarded, CppExceptionsAreSwallowed) {
  EXPECT_FALSE(CallGuarded(&Throw, nullptr));
  int count = 0;
  EXPECT_TRUE(CallGuarded(&Increment, &count));
}

struct Nested {
  bool inner = true;
  int after = 0;
};

void FaultInsideGuard(void* context) {
  auto* nested = static_cast<Nested*>(context);
  nested->inner = CallGuarded(&DereferenceNull, nullptr);
  ++nested->after;
}

TEST(CallGuarded, NestedGuardRecoversOnlyTheInnerCall) {
  Nested nested;
  EXPECT_TRUE(CallGuarded(&FaultInsideGuard, &nested));
  EXPECT_FALSE(nested.inner);
  EXPECT_EQ(nested.after, 1);
}

std::atomic<int> recovered{0};

DWORD WINAPI FaultRepeatedly(void*) {
  for (int i = 0; i < 20; ++i) {
    if (!CallGuarded(&DereferenceNull, nullptr)) ++recovered;
  }
  return 0;
}

TEST(CallGuarded, FaultsOnOtherThreadsAreEachRecovered) {
  constexpr int kThreads = 4;
  HANDLE threads[kThreads];
  recovered = 0;
  for (auto& thread : threads) {
    thread = CreateThread(nullptr, 0, &FaultRepeatedly, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (auto thread : threads) CloseHandle(thread);
  EXPECT_EQ(recovered.load(), kThreads * 20);
}

}  // namespace
}  // namespace vesk::platform
