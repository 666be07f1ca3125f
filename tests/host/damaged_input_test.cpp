// Large and damaged inputs through the exports: long texts, huge and broken
// voice files and dictionaries, crowded directories, endless start-stop
// cycles. Each must end in the specified result or a clear refusal, in
// bounded memory and without leaking threads. Memory and threads are
// measured through /proc where there is one (Linux, and Wine, whose
// programs see the Unix root and its process's /proc/self); elsewhere the
// inputs are still spoken and the measurement is reported as skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "host/host_library.h"
#include "support/test_files.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VESK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VESK_SANITIZED 1
#endif
#endif

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

// Sanitizers keep freed memory in quarantine and shadow every byte, so
// resident memory says nothing about the engine there.
constexpr bool kMemoryIsMeaningful =
#ifdef VESK_SANITIZED
    false;
#else
    true;
#endif

// A field of /proc/self/status in kB, or -1.
int64_t StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::stoll(line.substr(field.size() + 1));
    }
  }
  return -1;
}

// Resets the peak resident size to the current one (Linux 4.0 and later).
bool ResetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return bool(clear);
}

// A host that only counts what it receives and waits for completions.
struct Sink {
  std::mutex mutex;
  std::condition_variable changed;
  int64_t bytes = 0;
  int64_t chunks = 0;
  std::vector<int32_t> completed;  // userValues
  std::vector<int16_t> firstSamples;
};
Sink* sink = new Sink;  // outlives late workers

int32_t CountingPlay(const char16_t*, const int16_t* samples, int32_t byteCount,
                     int32_t userValue) {
  std::lock_guard lock(sink->mutex);
  if (samples == nullptr) {
    sink->completed.push_back(userValue);
    sink->changed.notify_all();
  } else {
    sink->bytes += byteCount;
    ++sink->chunks;
    if (sink->firstSamples.size() < 64)
      sink->firstSamples.push_back(samples[0]);
  }
  return 0;
}

void ResetSink() {
  std::lock_guard lock(sink->mutex);
  sink->bytes = sink->chunks = 0;
  sink->completed.clear();
  sink->firstSamples.clear();
}

bool WaitCompleted(int32_t userValue, std::chrono::seconds limit = 120s) {
  std::unique_lock lock(sink->mutex);
  return sink->changed.wait_for(lock, limit, [&] {
    return std::find(sink->completed.begin(), sink->completed.end(),
                     userValue) != sink->completed.end();
  });
}

std::vector<int32_t> SyllableUnits(
    std::initializer_list<const char*> syllables) {
  std::vector<int32_t> units;
  for (const char* syllable : syllables) {
    for (int32_t tone = 0; tone <= 4; ++tone) {
      const int32_t unit = SyllableUnitIndex(syllable, tone);
      if (unit >= 0) units.push_back(unit);
    }
  }
  return units;
}

std::vector<int32_t> EverydayUnits() {
  std::vector<int32_t> units =
      SyllableUnits({"zhong", "guo", "ren", "ni", "hao", "jin", "tian", "qi",
                     "hen", "yi", "er", "san"});
  units.push_back(kPunctuationUnit);
  for (char letter = 'a'; letter <= 'z'; ++letter)
    units.push_back(LetterUnit(letter));
  std::sort(units.begin(), units.end());
  units.erase(std::unique(units.begin(), units.end()), units.end());
  return units;
}

constexpr std::string_view kSmallCharDictionary =
    "中: zhōng\n国: guó\n人: rén\n你: nǐ\n好: hǎo\n今: jīn\n天: tiān\n气: qì\n"
    "很: hěn\n一: yī\n二: èr\n三: sān\n";

class DamagedInputTest : public testing::Test {
 protected:
  void SetUp() override { ResetSink(); }

  // Loads the engine from dir_, with the counting callback.
  void Start(HostLibrary& lib) {
    ASSERT_TRUE(lib.ok()) << lib.error();
    ClearRecordedLogs();
    ASSERT_TRUE(lib->Initialize(&RecordLog)) << Describe(RecordedLogs());
    lib->SetPlayCallback(&CountingPlay);
  }

  TempDir dir_;
};

TEST_F(DamagedInputTest, TenMegabyteTextIsSpokenInBoundedMemory) {
  dir_.Write("everyday.vl", BuildMarkerVoice(16000, EverydayUnits(), 16));
  dir_.Write("pinyin.txt", kSmallCharDictionary);
  HostLibrary lib(dir_.path());
  Start(lib);

  // 10 MB of UTF-16: sentences of Chinese, digits and letters. Under the
  // sanitizers, where memory is not measured, 2 MB walk the same paths.
  const std::size_t units = kMemoryIsMeaningful ? 5'000'000 : 1'000'000;
  const std::u16string sentence =
      u"中国人，你好！今天天气很好。abc 123 一二三？";
  std::u16string text;
  text.reserve(units + sentence.size());
  while (text.size() < units) text += sentence;

  const int64_t rssBefore = StatusKb("VmRSS");
  const bool peakReset = ResetPeakRss();
  ASSERT_TRUE(lib->Speak(nullptr, text.c_str(), 1));
  ASSERT_TRUE(WaitCompleted(1)) << "a long text never completed";
  const int64_t peak = StatusKb("VmHWM");
  lib->Uninitialize();
  {
    std::lock_guard lock(sink->mutex);
    EXPECT_GT(sink->chunks, int64_t(text.size() / sentence.size()));
  }
  if (!kMemoryIsMeaningful || !peakReset || rssBefore < 0 || peak < 0) {
    GTEST_SKIP() << "resident memory not measurable here";
  }
  // The engine copies the text (10 MB); anything proportional to the text
  // beyond that copy would be far above this bound.
  const int64_t growthKb = peak - rssBefore;
  RecordProperty("peak_growth_kb", std::to_string(growthKb));
  EXPECT_LT(growthKb, 48 * 1024)
      << "peak resident growth " << growthKb << " kB";
}

TEST_F(DamagedInputTest, VoiceWithAMillionTableEntriesLoadsAndSpeaks) {
  constexpr uint32_t kEntries = 1'000'000;
  const uint32_t dataStart = 24 + 8 * kEntries;
  std::vector<uint8_t> file(dataStart + 16, 0);
  auto put32 = [&](std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(value >> (8 * i));
  };
  put32(8, 16000);
  // Every entry points at the same 16 bytes after the table; only the last
  // entry is refused (its unit would begin right at its own end).
  for (uint32_t k = 0; k < kEntries; ++k) {
    put32(24 + 8 * std::size_t(k), dataStart);
    put32(24 + 8 * std::size_t(k) + 4, 16);
  }
  dir_.Write("big.vl", file);
  HostLibrary lib(dir_.path());
  Start(lib);
  const auto logs = RecordedLogs();
  EXPECT_NE(std::find(logs.begin(), logs.end(),
                      LogLine{1, u"加载语音库 big: 999999 条目"}),
            logs.end())
      << Describe(logs);

  ASSERT_TRUE(lib->Speak(nullptr, u"abc, xyz.", 2));
  ASSERT_TRUE(WaitCompleted(2));
  lib->Uninitialize();
  std::lock_guard lock(sink->mutex);
  EXPECT_EQ(sink->chunks, 8);  // six letters, two marks
  EXPECT_EQ(sink->bytes, 8 * 16);
}

TEST_F(DamagedInputTest, VoiceClaimingUnitsPastItsEndKeepsOnlyUnitsInside) {
  const int32_t a = LetterUnit('a'), b = LetterUnit('b'), c = LetterUnit('c');
  std::vector<uint8_t> file =
      BuildMarkerVoice(16000, {a, b, c, kPunctuationUnit}, 8);
  const uint32_t size = uint32_t(file.size());
  auto put32 = [&](std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(value >> (8 * i));
  };
  auto get32 = [&](std::size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t(file[at + i]) << (8 * i);
    return value;
  };
  // b runs one byte past the end; c's offset plus length wraps around 2^32;
  // unit 5 starts past the end; unit 6 claims 4 GB.
  put32(24 + 8 * std::size_t(b) + 4, size - get32(24 + 8 * std::size_t(b)) + 1);
  put32(24 + 8 * std::size_t(c), 0xFFFFFFF0u);
  put32(24 + 8 * std::size_t(c) + 4, 0x20u);
  put32(24 + 8 * 5, size + 100);
  put32(24 + 8 * 5 + 4, 2);
  put32(24 + 8 * 6, size - 16);
  put32(24 + 8 * 6 + 4, 0xFFFFFFFFu);
  dir_.Write("past.vl", file);
  // And a voice cut short in the middle of its table.
  std::vector<uint8_t> cut = BuildMarkerVoice(16000, {a, b, c}, 8);
  cut.resize(24 + 8 * std::size_t(b) + 3);
  dir_.Write("cut.vl", cut);
  HostLibrary lib(dir_.path());
  Start(lib);
  const auto logs = RecordedLogs();
  // a and the punctuation unit survive in past.vl; cut.vl has no unit data.
  EXPECT_NE(std::find(logs.begin(), logs.end(),
                      LogLine{1, u"加载语音库 past: 2 条目"}),
            logs.end())
      << Describe(logs);
  EXPECT_NE(std::find(logs.begin(), logs.end(),
                      LogLine{1, u"加载语音库 cut: 0 条目"}),
            logs.end())
      << Describe(logs);

  ASSERT_TRUE(lib->Speak(u"past", u"abc.", 3));
  ASSERT_TRUE(WaitCompleted(3));
  lib->Uninitialize();
  std::lock_guard lock(sink->mutex);
  EXPECT_EQ(sink->firstSamples,
            (std::vector<int16_t>{int16_t(a), int16_t(kPunctuationUnit)}));
}

TEST_F(DamagedInputTest, DictionariesWithHugeLinesNulBytesAndBadUtf8StillLoad) {
  dir_.Write("everyday.vl", BuildMarkerVoice(16000, EverydayUnits(), 16));
  using namespace std::string_literals;
  std::string chars = "\xEF\xBB\xBF人: rén\n";
  chars += "中: ";  // a 1 MB line of readings
  while (chars.size() < (1u << 20)) chars += "zhōng,";
  chars += "\n";
  chars += "国\0: guó\n"s;             // NUL inside the character
  chars += "好: h\0ǎo\n"s;             // NUL inside a reading
  chars += "\xFF\xFE: nǐ\n";           // not UTF-8 at all
  chars += "\xE4\xB8: yī\n";           // a sequence cut short
  chars += "\xC0\xAF: èr\n";           // overlong encoding
  chars += "U+4ECA: j\xFF\xC3īn\n";    // bad bytes inside a reading
  chars += std::string(1 << 20, 'x');  // 1 MB without any line end
  dir_.Write("pinyin.txt", chars);

  std::string phrases = "今天: jīn tiān\n";
  std::string word;  // a 1 MB word
  while (word.size() < (1u << 20)) word += "天";
  phrases += word + ": tiān\n";
  phrases += "\0\0\0: a\n"s;
  phrases += "\xED\xA0\x80\xED\xB0\x80: surrogate pair in CESU form\n";
  phrases += std::string(4096, '\0');
  dir_.Write("phrases.txt", phrases);

  HostLibrary lib(dir_.path());
  Start(lib);
  const auto logs = RecordedLogs();
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back().level, 1) << Describe(logs);

  // Chinese text next to the huge word: every position may start a word.
  std::u16string text;
  for (int i = 0; i < 200; ++i) text += u"今天人中，天天天";
  ASSERT_TRUE(lib->Speak(nullptr, text.c_str(), 4));
  ASSERT_TRUE(WaitCompleted(4));
  lib->Uninitialize();
  std::lock_guard lock(sink->mutex);
  EXPECT_GT(sink->chunks, 0);
}

TEST_F(DamagedInputTest, DirectoryWithThousandsOfOtherFilesFindsItsVoices) {
  for (int i = 0; i < 3000; ++i) {
    static const char* const suffixes[] = {".txt", ".VL",  ".vl.bak",
                                           "",     ".wav", ".vlx"};
    dir_.Write("file" + std::to_string(i) + suffixes[i % 6], "not a voice");
  }
  const std::vector<int32_t> units = EverydayUnits();
  dir_.Write("one.vl", BuildMarkerVoice(16000, units, 16));
  dir_.Write("two.vl", BuildMarkerVoice(22050, units, 16));
  dir_.Write("three.vl", BuildMarkerVoice(8000, units, 16));
  dir_.Write(".vl", BuildMarkerVoice(8000, units, 16));  // no stem: not a voice
  // A directory named like a voice, holding a voice: offered, refused.
  std::filesystem::create_directory(dir_.path() / "folder.vl");
  dir_.Write("folder.vl/inner.vl", BuildMarkerVoice(8000, units, 16));
  HostLibrary lib(dir_.path());
  Start(lib);
  EXPECT_EQ(RecordedLogs().back(),
            (LogLine{1, u"Halden语音插件初始化完成，加载了 3 个语音库"}))
      << Describe(RecordedLogs());
  uint32_t count = 0;
  ASSERT_TRUE(lib->GetVoiceList(nullptr, &count));
  EXPECT_EQ(count, 3u);
  ASSERT_TRUE(lib->Speak(u"two", u"ok", 5));
  ASSERT_TRUE(WaitCompleted(5));
  lib->Uninitialize();
}

TEST_F(DamagedInputTest, ThousandStartStopCyclesLeakNoThreadsOrMemory) {
  dir_.Write("cycle.vl", BuildMarkerVoice(16000, EverydayUnits(), 400));
  dir_.Write("pinyin.txt", kSmallCharDictionary);
  dir_.Write("phrases.txt", "今天: jīn tiān\n中国人: zhōng guó rén\n");
  HostLibrary lib(dir_.path());
  ASSERT_TRUE(lib.ok()) << lib.error();

  auto cycle = [&](int i) {
    ASSERT_TRUE(lib->Initialize(nullptr));
    lib->SetPlayCallback(&CountingPlay);
    // Half of the utterances run to their end, half are cut by Uninitialize.
    ASSERT_TRUE(lib->Speak(nullptr, u"今天中国人很好。abc", 1000 + i));
    if (i % 2 == 0) {
      ASSERT_TRUE(WaitCompleted(1000 + i, 30s));
    }
    ASSERT_TRUE(lib->Uninitialize());
  };
  for (int i = 0; i < 50; ++i) cycle(i);  // warm up allocator and caches
  const int threadsBefore = ThreadCount();
  const int64_t rssBefore = StatusKb("VmRSS");
  for (int i = 50; i < 1000; ++i) {
    cycle(i);
    if (HasFatalFailure()) return;
  }
  // A detached or unjoined worker would show up as a task of its own.
  if (threadsBefore >= 0) {
    EXPECT_EQ(ThreadCount(), threadsBefore);
  }
  const int64_t rssAfter = StatusKb("VmRSS");
  if (!kMemoryIsMeaningful || rssBefore < 0 || rssAfter < 0) {
    GTEST_SKIP() << "resident memory not measurable here";
  }
  RecordProperty("rss_growth_kb", std::to_string(rssAfter - rssBefore));
  EXPECT_LT(rssAfter - rssBefore, 8 * 1024)
      << "resident memory grew by " << (rssAfter - rssBefore) << " kB";
}

}  // namespace
}  // namespace vesk::test
