// Guarded calls on both halves of the platform layer: faults and exceptions
// raised inside come back as false, and the caller goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/memory_pages.h"
#include "platform/platform.h"

namespace vesk::platform {
namespace {

using test::Access;
using test::Page;

void Increment(void* context) { ++*static_cast<int*>(context); }

void Throw(void*) { throw std::runtime_error("host error"); }

void ThrowInt(void*) { throw 42; }

// Writes to a page that allows no access: a real SIGSEGV or access
// violation.
void Fault(void* context) {
  volatile char* page = static_cast<volatile char*>(context);
  *page = 1;
}

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
  Page page(Access::kNone);
  ASSERT_NE(page.get(), nullptr);
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
  Page page(Access::kNone);
  ASSERT_NE(page.get(), nullptr);
  Nested nested{page.get()};
  EXPECT_TRUE(CallGuarded(&FaultInsideGuard, &nested));
  EXPECT_FALSE(nested.innerResult);
  EXPECT_EQ(nested.after, 1);
}

TEST(CallGuarded, FaultsOnManyThreadsAreEachRecovered) {
  Page page(Access::kNone);
  ASSERT_NE(page.get(), nullptr);
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

}  // namespace
}  // namespace vesk::platform
