// The whole engine as a host sees it: the built library loaded with dlopen
// from an engine directory that holds the shipped dictionaries and voice,
// driven only through its exports, on the benchmark corpus. Also runs Sonic
// alone on the very samples the engine feeds to its Sonic stream.
//
//   vesk_engine_bench init ENGINE_DIR
//       Initialize in this fresh process: wall time and resident memory
//   vesk_engine_bench run ENGINE_DIR CORPUS_DIR
//       conversion, audio, latency and Stop figures
//
// Output: one "engine.<name> value" or "sonic.<name> value" line per figure.
#include <dlfcn.h>
#include <linux/futex.h>
#include <sonic.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "vesksynth.h"

namespace {

using Clock = std::chrono::steady_clock;
using vesk::bench::CountHan;

struct Api {
  VeskBool (*Initialize)(LogCallback) = nullptr;
  VeskBool (*Uninitialize)() = nullptr;
  VeskBool (*GetAudioFormat)(AudioFormat*) = nullptr;
  VeskBool (*SetRate)(intptr_t, int32_t) = nullptr;
  PlayCallback (*SetPlayCallback)(PlayCallback) = nullptr;
  VeskBool (*Speak)(const char16_t*, const char16_t*, int32_t) = nullptr;
  VeskBool (*Stop)() = nullptr;
};

template <typename F>
bool Resolve(void* handle, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(handle, name));
  if (!fn) std::fprintf(stderr, "engine_bench: no export %s\n", name);
  return fn != nullptr;
}

bool LoadApi(const std::string& engineDir, Api& api) {
  const std::string path = engineDir + "/libvesksynth.so";
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "engine_bench: %s\n", dlerror());
    return false;
  }
  return Resolve(handle, "VeskSynthInitialize", api.Initialize) &&
         Resolve(handle, "VeskSynthUninitialize", api.Uninitialize) &&
         Resolve(handle, "VeskSynthGetAudioFormat", api.GetAudioFormat) &&
         Resolve(handle, "VeskSynthSetRate", api.SetRate) &&
         Resolve(handle, "VeskSynthSetPlayCallback", api.SetPlayCallback) &&
         Resolve(handle, "VeskSynthSpeak", api.Speak) &&
         Resolve(handle, "VeskSynthStop", api.Stop);
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// "VmRSS:" or "VmHWM:" of /proc/self/status, in bytes.
long StatusBytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0)
      return std::atol(line.c_str() + std::strlen(key)) * 1024L;
  }
  return -1;
}

void Print(const char* name, double value) {
  std::printf("%s %.6g\n", name, value);
}

double Percentile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t index =
      static_cast<std::size_t>(q * static_cast<double>(values.size()));
  return values[std::min(index, values.size() - 1)];
}

// --- Play callbacks ---------------------------------------------------------

// Worker-thread counters, read by the host only after the completion call or
// after Stop has returned (both order the worker's writes before the read).
struct Probe {
  std::atomic<uint32_t> done{0};
  std::atomic<uint32_t> started{0};
  uint64_t bytes = 0;
  uint64_t calls = 0;
  Clock::time_point first;
};
Probe probe;

// The host sleeps on a futex without spinning first (std::atomic::wait
// spins and yields), so that its waiting costs no CPU time of its own.
void FutexWait(std::atomic<uint32_t>& word) {
  while (word.load(std::memory_order_acquire) == 0) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE,
            0, nullptr, nullptr, 0);
  }
}

void FutexWake(std::atomic<uint32_t>& word) {
  word.store(1, std::memory_order_release);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE,
          INT32_MAX, nullptr, nullptr, 0);
}

void SignalDone() {
  FutexWake(probe.done);
  // An utterance that ended without audio releases a waiter for its first
  // audio too: started becomes 2 instead of 1.
  uint32_t none = 0;
  if (probe.started.compare_exchange_strong(none, 2)) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&probe.started),
            FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
  }
}

// A host that does nothing with the audio.
int32_t CountingPlay(const char16_t*, const int16_t* samples, int32_t byteCount,
                     int32_t) {
  if (samples == nullptr && byteCount == 0) {
    SignalDone();
    return 0;
  }
  probe.bytes += static_cast<uint64_t>(byteCount);
  ++probe.calls;
  return 0;
}

// A host that copies each chunk into its own buffer, as one feeding a sound
// device does; it keeps a long text speaking for a while.
int16_t hostBuffer[192000];
int32_t CopyingPlay(const char16_t*, const int16_t* samples, int32_t byteCount,
                    int32_t) {
  if (samples == nullptr && byteCount == 0) {
    SignalDone();
    return 0;
  }
  const std::size_t bytes =
      std::min<std::size_t>(std::size_t(byteCount), sizeof hostBuffer);
  std::memcpy(hostBuffer, samples, bytes);
  if (probe.started.load(std::memory_order_relaxed) == 0) {
    FutexWake(probe.started);
  }
  return 0;
}

// Notes when the first audio of an utterance arrived.
int32_t FirstAudioPlay(const char16_t*, const int16_t* samples,
                       int32_t byteCount, int32_t) {
  if (samples == nullptr && byteCount == 0) {
    SignalDone();
    return 0;
  }
  if (probe.started.load(std::memory_order_relaxed) == 0) {
    probe.first = Clock::now();
    FutexWake(probe.started);
  }
  return 0;
}

// The chunks of an utterance at default settings, each distinct sample block
// stored once (the engine hands out pointers into its voice data).
struct Capture {
  std::vector<std::vector<int16_t>> blocks;
  std::map<std::pair<const int16_t*, int32_t>, std::vector<std::size_t>>
      byAddress;
  std::vector<std::size_t> sequence;
};
Capture capture;

int32_t CapturingPlay(const char16_t*, const int16_t* samples,
                      int32_t byteCount, int32_t) {
  if (samples == nullptr && byteCount == 0) {
    SignalDone();
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(byteCount) / 2;
  auto& candidates = capture.byAddress[{samples, byteCount}];
  for (std::size_t id : candidates) {
    if (std::memcmp(capture.blocks[id].data(), samples, count * 2) == 0) {
      capture.sequence.push_back(id);
      return 0;
    }
  }
  capture.blocks.emplace_back(samples, samples + count);
  candidates.push_back(capture.blocks.size() - 1);
  capture.sequence.push_back(capture.blocks.size() - 1);
  return 0;
}

void WaitDone() { FutexWait(probe.done); }

// Until the first audio (started 1) or the end of an utterance without any
// (started 2).
void WaitStarted() { FutexWait(probe.started); }

bool Speak(const Api& api, const std::u16string& text) {
  probe.done.store(0);
  probe.started.store(0);
  if (!api.Speak(nullptr, text.c_str(), 7)) {
    std::fprintf(stderr, "engine_bench: Speak refused\n");
    std::exit(1);
  }
  return true;
}

void SpeakAndWait(const Api& api, const std::u16string& text) {
  Speak(api, text);
  WaitDone();
}

struct Run {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  uint64_t bytes = 0;
  uint64_t calls = 0;
};

Run SpeakEach(const Api& api, const std::vector<std::u16string>& texts) {
  probe.bytes = probe.calls = 0;
  const double cpu0 = ProcessCpuSeconds();
  const auto t0 = Clock::now();
  for (const auto& text : texts) SpeakAndWait(api, text);
  Run run;
  run.wallSeconds = Seconds(Clock::now() - t0);
  run.cpuSeconds = ProcessCpuSeconds() - cpu0;
  run.bytes = probe.bytes;
  run.calls = probe.calls;
  return run;
}

// Sonic on its own: the engine's stream pattern (one write per unit, then
// reads of at most one second) on the same sample blocks.
double SonicAlone(int32_t sampleRate, float speed, uint64_t& samplesOut) {
  const int chunk = sampleRate > 0 ? sampleRate : 8000;
  std::vector<int16_t> buffer(static_cast<std::size_t>(chunk));
  const double cpu0 = ThreadCpuSeconds();
  sonicStream stream = sonicCreateStream(sampleRate, 1);
  sonicSetSpeed(stream, speed);
  samplesOut = 0;
  auto drain = [&] {
    for (;;) {
      const int available = sonicSamplesAvailable(stream);
      if (available <= 0) return;
      const int got = sonicReadShortFromStream(stream, buffer.data(),
                                               std::min(available, chunk));
      if (got <= 0) return;
      samplesOut += static_cast<uint64_t>(got);
    }
  };
  for (std::size_t id : capture.sequence) {
    auto& block = capture.blocks[id];
    sonicWriteShortToStream(stream, block.data(),
                            static_cast<int>(block.size()));
    drain();
  }
  sonicFlushStream(stream);
  drain();
  sonicDestroyStream(stream);
  return ThreadCpuSeconds() - cpu0;
}

int RunInit(const std::string& engineDir) {
  Api api;
  if (!LoadApi(engineDir, api)) return 1;
  uint64_t voiceBytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(engineDir)) {
    if (entry.path().extension() == ".vl" && entry.is_regular_file())
      voiceBytes += entry.file_size();
  }
  const long rss0 = StatusBytes("VmRSS:");
  rusage usage0{};
  getrusage(RUSAGE_SELF, &usage0);
  const double cpu0 = ProcessCpuSeconds();
  const auto t0 = Clock::now();
  const bool ok = api.Initialize(nullptr) != 0;
  const double seconds = Seconds(Clock::now() - t0);
  const double cpu = ProcessCpuSeconds() - cpu0;
  rusage usage1{};
  getrusage(RUSAGE_SELF, &usage1);
  const long rss1 = StatusBytes("VmRSS:");
  const long hwm = StatusBytes("VmHWM:");
  if (!ok) {
    std::fprintf(stderr, "engine_bench: Initialize failed in %s\n",
                 engineDir.c_str());
    return 1;
  }
  Print("engine.init_ms", seconds * 1e3);
  Print("engine.init_cpu_ms", cpu * 1e3);
  Print("engine.init_page_faults",
        static_cast<double>(usage1.ru_minflt - usage0.ru_minflt));
  Print("engine.init_rss_growth_mb",
        static_cast<double>(rss1 - rss0) / 1048576.0);
  Print("engine.init_peak_growth_mb",
        static_cast<double>(hwm - rss0) / 1048576.0);
  Print("engine.voice_file_mb", static_cast<double>(voiceBytes) / 1048576.0);
  Print("engine.init_rss_beyond_voice_mb",
        static_cast<double>(rss1 - rss0 - static_cast<long>(voiceBytes)) /
            1048576.0);
  return 0;
}

int RunAll(const std::string& engineDir, const std::string& corpusDir) {
  using vesk::bench::ReadLines;
  using vesk::bench::ReadRecords;
  const auto paragraphs = ReadLines(corpusDir + "/paragraphs.txt");
  const auto lines = ReadLines(corpusDir + "/lines.txt");
  const auto sentences = ReadLines(corpusDir + "/sentences.txt");
  const auto bulk = ReadRecords(corpusDir + "/bulk.txt", '\x1e');
  const auto sonicText = ReadRecords(corpusDir + "/sonic.txt", '\x1e');
  if (paragraphs.empty() || lines.empty() || sentences.empty() ||
      bulk.empty() || sonicText.empty()) {
    std::fprintf(stderr, "engine_bench: corpus missing in %s\n",
                 corpusDir.c_str());
    return 1;
  }

  Api api;
  if (!LoadApi(engineDir, api)) return 1;
  if (!api.Initialize(nullptr)) {
    std::fprintf(stderr, "engine_bench: Initialize failed in %s\n",
                 engineDir.c_str());
    return 1;
  }
  AudioFormat format{};
  api.GetAudioFormat(&format);
  const double sampleRate = format.sampleRate;
  Print("engine.sample_rate", sampleRate);
  api.SetPlayCallback(&CountingPlay);

  // Warm caches and the allocator.
  SpeakEach(api, std::vector<std::u16string>(
                     paragraphs.begin(),
                     paragraphs.begin() +
                         std::min<std::size_t>(500, paragraphs.size())));

  // Conversion through Speak, one utterance per paragraph.
  const double paragraphHan = static_cast<double>(CountHan(paragraphs));
  Run para = SpeakEach(api, paragraphs);
  Print("engine.paragraph_count", static_cast<double>(paragraphs.size()));
  Print("engine.paragraph_han_per_s", paragraphHan / para.wallSeconds);
  Print("engine.paragraph_us", para.wallSeconds / paragraphs.size() * 1e6);
  Print("engine.paragraph_han_per_cpu_s", paragraphHan / para.cpuSeconds);

  // In bulk, about 64 KB per utterance; the median of three passes.
  const double bulkHan = static_cast<double>(CountHan(bulk));
  std::vector<Run> passes;
  for (int i = 0; i < 3; ++i) passes.push_back(SpeakEach(api, bulk));
  std::sort(passes.begin(), passes.end(), [](const Run& a, const Run& b) {
    return a.wallSeconds < b.wallSeconds;
  });
  const Run& mid = passes[1];
  const double audioSeconds = static_cast<double>(mid.bytes) / 2.0 / sampleRate;
  Print("engine.bulk_han", bulkHan);
  Print("engine.bulk_han_per_s", bulkHan / mid.wallSeconds);
  Print("engine.bulk_han_per_cpu_s", bulkHan / mid.cpuSeconds);
  Print("engine.bulk_audio_s", audioSeconds);
  Print("engine.bulk_cpu_s", mid.cpuSeconds);
  Print("engine.bulk_chunks", static_cast<double>(mid.calls));
  Print("engine.audio_s_per_cpu_s", audioSeconds / mid.cpuSeconds);

  // One utterance per short line.
  Run perLine = SpeakEach(api, lines);
  Print("engine.line_count", static_cast<double>(lines.size()));
  Print("engine.lines_per_s", lines.size() / perLine.wallSeconds);
  Print("engine.line_us", perLine.wallSeconds / lines.size() * 1e6);
  Print("engine.line_cpu_us", perLine.cpuSeconds / lines.size() * 1e6);
  Print("engine.line_han_per_s",
        static_cast<double>(CountHan(lines)) / perLine.wallSeconds);

  // The Sonic path (rate 70) against Sonic alone on the same samples.
  const double sonicHan = static_cast<double>(CountHan(sonicText));
  Run direct = SpeakEach(api, sonicText);
  api.SetRate(0, 70);
  Run slowed = SpeakEach(api, sonicText);
  api.SetRate(0, 50);
  api.SetPlayCallback(&CapturingPlay);
  SpeakEach(api, sonicText);
  api.SetPlayCallback(&CountingPlay);
  uint64_t sonicSamples = 0;
  const float speed = 1.0f + (70 - 50) / 50.0f;  // the engine's rate 70
  const double sonicCpu = SonicAlone(format.sampleRate, speed, sonicSamples);
  Print("engine.sonic_text_han", sonicHan);
  Print("engine.default_text_cpu_s", direct.cpuSeconds);
  Print("engine.rate70_cpu_s", slowed.cpuSeconds);
  Print("engine.rate70_audio_s",
        static_cast<double>(slowed.bytes) / 2.0 / sampleRate);
  Print(
      "engine.rate70_audio_s_per_cpu_s",
      static_cast<double>(slowed.bytes) / 2.0 / sampleRate / slowed.cpuSeconds);
  Print("sonic.input_audio_s",
        static_cast<double>(direct.bytes) / 2.0 / sampleRate);
  Print("sonic.output_audio_s", static_cast<double>(sonicSamples) / sampleRate);
  Print("sonic.cpu_s", sonicCpu);
  Print("sonic.audio_s_per_cpu_s",
        static_cast<double>(sonicSamples) / sampleRate / sonicCpu);
  Print("sonic.distinct_blocks", static_cast<double>(capture.blocks.size()));

  // Speak to first audio, for a sentence.
  api.SetPlayCallback(&FirstAudioPlay);
  std::vector<double> firstAudio;
  const std::size_t latencyRuns = std::min<std::size_t>(3000, sentences.size());
  for (std::size_t i = 0; i < latencyRuns; ++i) {
    probe.done.store(0);
    probe.started.store(0);
    const auto t0 = Clock::now();
    api.Speak(nullptr, sentences[i].c_str(), 7);
    WaitStarted();
    if (probe.started.load() == 1)
      firstAudio.push_back(Seconds(probe.first - t0) * 1e6);
    WaitDone();
  }
  Print("engine.first_audio_p50_us", Percentile(firstAudio, 0.50));
  Print("engine.first_audio_p99_us", Percentile(firstAudio, 0.99));
  Print("engine.first_audio_max_us", Percentile(firstAudio, 1.0));
  Print("engine.first_audio_samples", static_cast<double>(firstAudio.size()));

  // Stop while speaking a 64 KB text to a host that copies the audio.
  api.SetPlayCallback(&CopyingPlay);
  std::vector<double> stopTimes;
  std::size_t finishedFirst = 0;
  const std::size_t stopRuns = 2000;
  for (std::size_t i = 0; i < stopRuns; ++i) {
    Speak(api, bulk[i % bulk.size()]);
    WaitStarted();
    // An utterance that already ran to its end (the host was held up for
    // its whole length) is stopped too but not counted: Stop had no speech
    // to end.
    const bool ended = probe.done.load() != 0;
    const auto t0 = Clock::now();
    api.Stop();
    const double us = Seconds(Clock::now() - t0) * 1e6;
    if (ended) {
      ++finishedFirst;
    } else {
      stopTimes.push_back(us);
    }
  }
  Print("engine.stop_p50_us", Percentile(stopTimes, 0.50));
  Print("engine.stop_p99_us", Percentile(stopTimes, 0.99));
  Print("engine.stop_max_us", Percentile(stopTimes, 1.0));
  Print("engine.stop_after_end", static_cast<double>(finishedFirst));

  api.Uninitialize();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "init" && argc == 3) return RunInit(argv[2]);
  if (mode == "run" && argc == 4) return RunAll(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: vesk_engine_bench init ENGINE_DIR\n"
               "       vesk_engine_bench run ENGINE_DIR CORPUS_DIR\n");
  return 2;
}
