#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace vesk::platform {
namespace {

void Increment(void* context) { ++*static_cast<int*>(context); }

void Throw(void*) { throw std::runtime_error("host error"); }

void ThrowInt(void*) { throw 42; }

// Writes to a page that allows no access: a real SIGSEGV.
void Fault(void* context) {
  volatile char* page = static_cast<volatile char*>(context);
  *page = 1;
}

class NoAccessPage {
 public:
  NoAccessPage() {
    size_ = std::size_t(::sysconf(_SC_PAGESIZE));
    page_ =
        ::mmap(nullptr, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  }
  ~NoAccessPage() { ::munmap(page_, size_); }
  void* get() const { return page_; }

 private:
  void* page_;
  std::size_t size_;
};

TEST(CallGuarded, NormalCallReturnsTrue) {
  int count = 0;
  EXPECT_TRUE(CallGuarded(&Increment, &count));
  EXPECT_EQ(count, 1);
}

TEST(CallGuarded, ExceptionsAreSwallowed) {
  EXPECT_FALSE(CallGuarded(&Throw, nullptr));
  EXPECT_FALSE(CallGuarded(&ThrowInt, nullptr));
  int count = 0;
  EXPECT_TRUE(CallGuarded(&Increment, &count));
}

TEST(CallGuarded, SegmentationFaultIsRecoveredRepeatedly) {
  NoAccessPage page;
  ASSERT_NE(page.get(), MAP_FAILED);
  // The second fault shows the signal is not left blocked after the first.
  EXPECT_FALSE(CallGuarded(&Fault, page.get()));
  EXPECT_FALSE(CallGuarded(&Fault, page.get()));
  int count = 0;
  EXPECT_TRUE(CallGuarded(&Increment, &count));
  EXPECT_EQ(count, 1);
}

struct Nested {
  void* page;
  bool innerResult = true;
  int after = 0;
};

void FaultInsideGuard(void* context) {
  auto* nested = static_cast<Nested*>(context);
  nested->innerResult = CallGuarded(&Fault, nested->page);
  ++nested->after;
}

TEST(CallGuarded, NestedGuardRecoversOnlyTheInnerCall) {
  NoAccessPage page;
  Nested nested{page.get()};
  EXPECT_TRUE(CallGuarded(&FaultInsideGuard, &nested));
  EXPECT_FALSE(nested.innerResult);
  EXPECT_EQ(nested.after, 1);
}

TEST(CallGuarded, FaultsOnManyThreadsAreEachRecovered) {
  NoAccessPage page;
  std::atomic<int> recovered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        if (!CallGuarded(&Fault, page.get())) ++recovered;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(recovered.load(), 8 * 50);
}

TEST(CallGuardedDeathTest, FaultOutsideAGuardStillKillsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int count = 0;
  ASSERT_TRUE(CallGuarded(&Increment, &count));  // handler installed
  NoAccessPage page;
  EXPECT_DEATH(Fault(page.get()), "");
}

}  // namespace
}  // namespace vesk::platform
