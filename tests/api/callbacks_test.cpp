#include "api/callbacks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace vesk {
namespace {

void Target() {}
void* const kConstantSlot = reinterpret_cast<void*>(&Target);

std::vector<std::pair<int32_t, std::u16string>> logged;

void Record(int32_t level, const char16_t* text) {
  logged.emplace_back(level, text);
}
void ThrowingLog(int32_t, const char16_t*) { throw std::runtime_error("host"); }

volatile char* noAccessPage = nullptr;
void FaultingLog(int32_t, const char16_t*) { *noAccessPage = 1; }
int32_t FaultingPlay(const char16_t*, const int16_t*, int32_t, int32_t) {
  *noAccessPage = 1;
  return 5;
}
int32_t Echo(const char16_t* name, const int16_t* samples, int32_t bytes,
             int32_t user) {
  return (name != nullptr ? 1000 : 0) + (samples == nullptr ? 100 : 0) + bytes +
         user;
}

class Page {
 public:
  explicit Page(int protection) {
    size_ = std::size_t(::sysconf(_SC_PAGESIZE));
    address_ =
        ::mmap(nullptr, size_, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address_ == MAP_FAILED) address_ = nullptr;
  }
  ~Page() {
    if (address_ != nullptr) ::munmap(address_, size_);
  }
  void* get() const { return address_; }

 private:
  void* address_;
  std::size_t size_;
};

TEST(ResolveCallbackPointer, NullStaysNull) {
  EXPECT_EQ(ResolveCallbackPointer(nullptr), nullptr);
}

TEST(ResolveCallbackPointer, FunctionInCodeIsUsedAsIs) {
  void* function = reinterpret_cast<void*>(&Target);
  EXPECT_EQ(ResolveCallbackPointer(function), function);
}

TEST(ResolveCallbackPointer, WritableVariableIsReadOnce) {
  void* variable = reinterpret_cast<void*>(&Target);
  EXPECT_EQ(ResolveCallbackPointer(&variable),
            reinterpret_cast<void*>(&Target));
  void* empty = nullptr;
  EXPECT_EQ(ResolveCallbackPointer(&empty), nullptr);
}

TEST(ResolveCallbackPointer, ReadOnlyVariableIsTakenAsTheFunction) {
  void* pointer = const_cast<void**>(&kConstantSlot);
  EXPECT_EQ(ResolveCallbackPointer(pointer), pointer);
}

TEST(ResolveCallbackPointer, UnmappedOrInaccessibleMemoryIsTheFunction) {
  void* released = nullptr;
  {
    Page page(PROT_READ | PROT_WRITE);
    released = page.get();
  }
  EXPECT_EQ(ResolveCallbackPointer(released), released);
  Page none(PROT_NONE);
  EXPECT_EQ(ResolveCallbackPointer(none.get()), none.get());
}

// Writable code in private memory: what a thunk allocator hands out.
TEST(ResolveCallbackPointer, WritablePrivateCodeIsAlwaysTheFunction) {
  Page page(PROT_READ | PROT_WRITE | PROT_EXEC);
  if (page.get() == nullptr) GTEST_SKIP() << "no rwx mapping here";
  // Machine code as a run-time thunk starts: its first bytes are no address.
  const unsigned char thunk[] = {0x49, 0xBB, 0x10, 0x20, 0x30,
                                 0x40, 0x50, 0x60, 0x70, 0x80};
  std::memcpy(page.get(), thunk, sizeof thunk);
  EXPECT_EQ(ResolveCallbackPointer(page.get()), page.get());
  // First bytes that read as a code address do not make it a variable.
  void* function = reinterpret_cast<void*>(&Target);
  std::memcpy(page.get(), &function, sizeof function);
  EXPECT_EQ(ResolveCallbackPointer(page.get()), page.get());
}

// Writable code of a mapped file, where a packed host keeps its variables:
// read as a variable only when it holds a code address.
TEST(ResolveCallbackPointer, WritableFileCodeIsReadWhenItHoldsACodeAddress) {
  test::TempDir dir;
  const std::size_t size = std::size_t(::sysconf(_SC_PAGESIZE));
  const auto path = dir.Write("image", std::string(size, '\0'));
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE | PROT_EXEC,
                        MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) GTEST_SKIP() << "no rwx file mapping here";

  void* function = reinterpret_cast<void*>(&Target);
  std::memcpy(mapped, &function, sizeof function);
  EXPECT_EQ(ResolveCallbackPointer(mapped), function);

  // One that holds a data address is no variable of ours.
  int data = 0;
  void* dataAddress = &data;
  std::memcpy(mapped, &dataAddress, sizeof dataAddress);
  EXPECT_EQ(ResolveCallbackPointer(mapped), mapped);
  ::munmap(mapped, size);
}

TEST(LogMessage, ReachesTheCallbackWithATerminatedText) {
  EngineState engine;
  logged.clear();
  LogMessage(engine, 1, u"ignored");  // no callback: nothing
  engine.logCallback = &Record;
  const std::u16string text = u"abcdef";
  LogMessage(engine, 2, std::u16string_view(text).substr(0, 3));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].first, 2);
  EXPECT_EQ(logged[0].second, u"abc");
}

TEST(LogMessage, ThrowingAndFaultingCallbacksAreSwallowed) {
  EngineState engine;
  engine.logCallback = &ThrowingLog;
  LogMessage(engine, 4, u"x");
  Page none(PROT_NONE);
  noAccessPage = static_cast<volatile char*>(none.get());
  engine.logCallback = &FaultingLog;
  LogMessage(engine, 4, u"x");
  LogMessage(engine, 4, u"again");
  SUCCEED();
}

TEST(InvokePlayCallback, YieldsTheResultOrZero) {
  EngineState engine;
  const int16_t samples[2] = {1, 2};
  EXPECT_EQ(InvokePlayCallback(engine, u"v", samples, 4, 7), 0);
  engine.playCallback = &Echo;
  EXPECT_EQ(InvokePlayCallback(engine, u"v", samples, 4, 7), 1011);
  EXPECT_EQ(InvokePlayCallback(engine, u"v", nullptr, 0, 3), 1103);
  Page none(PROT_NONE);
  noAccessPage = static_cast<volatile char*>(none.get());
  engine.playCallback = &FaultingPlay;
  EXPECT_EQ(InvokePlayCallback(engine, u"v", samples, 4, 7), 0);
  EXPECT_EQ(InvokePlayCallback(engine, u"v", samples, 4, 7), 0);
}

}  // namespace
}  // namespace vesk
