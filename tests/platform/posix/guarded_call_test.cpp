// A guarded call's signal handler on POSIX: it takes only the faults raised
// inside a guard.
#include <gtest/gtest.h>

#include "platform/memory_pages.h"
#include "platform/platform.h"

namespace vesk::platform {
namespace {

void Increment(void* context) { ++*static_cast<int*>(context); }

void Fault(void* context) {
  volatile char* page = static_cast<volatile char*>(context);
  *page = 1;
}

TEST(CallGuardedDeathTest, FaultOutsideAGuardStillKillsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int count = 0;
  ASSERT_TRUE(CallGuarded(&Increment, &count));  // handler installed
  test::Page page(test::Access::kNone);
  EXPECT_DEATH(Fault(page.get()), "");
}

}  // namespace
}  // namespace vesk::platform
