// Unloading the library with a worker behind it: dlclose neither hangs nor
// leaves code running in unmapped memory.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "frontend/phonetic_tables.h"
#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

bool StillLoaded(const std::filesystem::path& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

class HostUnloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearRecordedLogs();
    ClearRecordedPlays();
    SetPlayHook({});
    ASSERT_TRUE(library.ok()) << library.error();
    std::vector<int32_t> units;
    for (char c = 'a'; c <= 'z'; ++c) units.push_back(LetterUnit(c));
    dir.Write("v.vl", BuildMarkerVoice(16000, units, 256));
    ASSERT_TRUE(library->Initialize(&RecordLog));
    library->SetPlayCallback(&RecordPlay);
  }
  void TearDown() override { SetPlayHook({}); }

  TempDir dir;
  HostLibrary library{dir.path()};
};

TEST_F(HostUnloadTest, AfterAnUtteranceEndedByItself) {
  ASSERT_TRUE(library->Speak(nullptr, u"abc", 1));
  ASSERT_TRUE(WaitForCompletion());
  library.Unload();
  EXPECT_FALSE(StillLoaded(library.libraryPath()));
}

TEST_F(HostUnloadTest, WhileAnUtteranceIsRunning) {
  // Paced by the host so that the utterance is still running when the
  // library goes.
  SetPlayHook([](const PlayCall&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  const std::u16string text(2000, u'z');
  ASSERT_TRUE(library->Speak(nullptr, text.c_str(), 1));
  ASSERT_TRUE(WaitForPlays(1));
  library.Unload();  // stops and joins the worker
  const std::size_t delivered = RecordedPlays().size();
  EXPECT_LT(delivered, text.size());
  for (const PlayCall& call : RecordedPlays())
    EXPECT_FALSE(call.IsCompletion());
  EXPECT_FALSE(StillLoaded(library.libraryPath()));
}

TEST_F(HostUnloadTest, AfterStopFromInsideThePlayCallback) {
  std::atomic<int> calls{0};
  std::atomic<int> worker{-1};
  std::promise<void> stopped;
  SetPlayHook([&](const PlayCall&) {
    if (calls++ == 0) {
      worker = CurrentThreadId();
      library->Stop();  // detaches the worker
      stopped.set_value();
    }
  });
  const std::u16string text(2000, u'z');
  ASSERT_TRUE(library->Speak(nullptr, text.c_str(), 1));
  ASSERT_EQ(stopped.get_future().wait_for(std::chrono::seconds(20)),
            std::future_status::ready);
  library.Unload();
  // The detached worker may still be on its way out: the code stays mapped.
  EXPECT_TRUE(StillLoaded(library.libraryPath()));
  SetPlayHook({});
  EXPECT_TRUE(WaitForThreadToEnd(worker));
}

}  // namespace
}  // namespace vesk::test
