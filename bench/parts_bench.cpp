// The engine's parts on the benchmark corpus: dictionary loading,
// conversion, unit indices and the worker's two delivery paths (run on the
// calling thread, without the thread start of an utterance).
//
// VESK_BENCH_ENGINE names the engine directory (pinyin.txt, phrases.txt,
// *.vl), VESK_BENCH_CORPUS the corpus directory (bench/make_corpus.mjs).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/engine_state.h"
#include "bench_support.h"
#include "frontend/syllable.h"
#include "lexicon/pinyin_lexicon.h"
#include "voice/voice.h"
#include "worker/speech_worker.h"

namespace {

using vesk::bench::CountHan;
using vesk::bench::FromUtf8;

std::u16string EngineFile(const char* name) {
  return FromUtf8(vesk::bench::EngineDir() + "/" + name);
}

bool HaveDictionaries() {
  const std::string dir = vesk::bench::EngineDir();
  return !dir.empty() && std::filesystem::exists(dir + "/pinyin.txt") &&
         std::filesystem::exists(dir + "/phrases.txt");
}

struct Corpus {
  std::vector<std::u16string> paragraphs;
  std::vector<std::u16string> bulk;
  std::vector<std::u16string> sonic;
  // The runs of the block that the worker hands to convert.
  std::vector<std::u16string> hanRuns;
};

const Corpus& GetCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    const std::string dir = vesk::bench::CorpusDir();
    c.paragraphs = vesk::bench::ReadLines(dir + "/paragraphs.txt");
    c.bulk = vesk::bench::ReadRecords(dir + "/bulk.txt", '\x1e');
    c.sonic = vesk::bench::ReadRecords(dir + "/sonic.txt", '\x1e');
    auto isHan = [](char16_t ch) { return ch >= 0x4E00 && ch <= 0x9FFF; };
    for (const auto& p : c.paragraphs) {
      for (std::size_t i = 0; i < p.size();) {
        if (!isHan(p[i])) {
          ++i;
          continue;
        }
        std::size_t end = i;
        while (end < p.size() && isHan(p[end])) ++end;
        c.hanRuns.push_back(p.substr(i, end - i));
        i = end;
      }
    }
    return c;
  }();
  return corpus;
}

// The shipped dictionaries, loaded once.
const vesk::PinyinLexicon* Lexicon() {
  static const vesk::PinyinLexicon* lexicon = []() -> vesk::PinyinLexicon* {
    if (!HaveDictionaries()) return nullptr;
    auto* l = new vesk::PinyinLexicon();
    l->loadCharDictionary(EngineFile("pinyin.txt"));
    l->loadPhraseDictionary(EngineFile("phrases.txt"));
    return l;
  }();
  return lexicon;
}

bool Ready(benchmark::State& state) {
  if (Lexicon() == nullptr) {
    state.SkipWithError("no dictionaries in VESK_BENCH_ENGINE");
    return false;
  }
  if (GetCorpus().paragraphs.empty()) {
    state.SkipWithError("no corpus in VESK_BENCH_CORPUS");
    return false;
  }
  return true;
}

void BM_LoadCharDictionary(benchmark::State& state) {
  if (!HaveDictionaries()) return state.SkipWithError("no dictionaries");
  for (auto _ : state) {
    auto lexicon = std::make_unique<vesk::PinyinLexicon>();
    benchmark::DoNotOptimize(
        lexicon->loadCharDictionary(EngineFile("pinyin.txt")));
    state.PauseTiming();
    lexicon.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadCharDictionary)->Unit(benchmark::kMillisecond);

void BM_LoadPhraseDictionary(benchmark::State& state) {
  if (!HaveDictionaries()) return state.SkipWithError("no dictionaries");
  for (auto _ : state) {
    auto lexicon = std::make_unique<vesk::PinyinLexicon>();
    benchmark::DoNotOptimize(
        lexicon->loadPhraseDictionary(EngineFile("phrases.txt")));
    state.PauseTiming();
    lexicon.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadPhraseDictionary)->Unit(benchmark::kMillisecond);

void BM_ConvertHanRuns(benchmark::State& state) {
  if (!Ready(state)) return;
  const auto& runs = GetCorpus().hanRuns;
  const auto& lexicon = *Lexicon();
  std::size_t syllables = 0;
  for (auto _ : state) {
    for (const auto& run : runs) {
      auto result = lexicon.convert(run);
      syllables += result.size();
      benchmark::DoNotOptimize(result.data());
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) *
                          int64_t(CountHan(runs)));
  state.counters["syllables"] = double(syllables) / double(state.iterations());
}
BENCHMARK(BM_ConvertHanRuns)->Unit(benchmark::kMillisecond);

void BM_ConvertBulk(benchmark::State& state) {
  if (!Ready(state)) return;
  const auto& bulk = GetCorpus().bulk;
  const auto& lexicon = *Lexicon();
  for (auto _ : state) {
    for (const auto& text : bulk) {
      auto result = lexicon.convert(text);
      benchmark::DoNotOptimize(result.data());
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) *
                          int64_t(CountHan(bulk)));
}
BENCHMARK(BM_ConvertBulk)->Unit(benchmark::kMillisecond);

void BM_SyllableUnitIndex(benchmark::State& state) {
  if (!Ready(state)) return;
  std::vector<vesk::Syllable> syllables;
  for (const auto& run : GetCorpus().hanRuns) {
    for (auto& s : Lexicon()->convert(run)) syllables.push_back(std::move(s));
    if (syllables.size() >= 200000) break;
  }
  for (auto _ : state) {
    for (const auto& s : syllables) {
      benchmark::DoNotOptimize(vesk::SyllableUnitIndex(s.pinyin, s.tone));
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) *
                          int64_t(syllables.size()));
}
BENCHMARK(BM_SyllableUnitIndex)->Unit(benchmark::kMillisecond);

// --- The worker on the calling thread ---------------------------------------

uint64_t deliveredBytes = 0;

int32_t NoopPlay(const char16_t*, const int16_t*, int32_t byteCount, int32_t) {
  deliveredBytes += uint64_t(byteCount);
  return 0;
}

std::string FirstVoiceFile() {
  std::vector<std::string> voices;
  const std::string dir = vesk::bench::EngineDir();
  if (dir.empty() || !std::filesystem::is_directory(dir)) return {};
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == ".vl")
      voices.push_back(entry.path().string());
  }
  std::sort(voices.begin(), voices.end());
  return voices.empty() ? std::string() : voices.front();
}

// An engine of its own holding the default voice.
vesk::EngineState* BenchEngine() {
  static vesk::EngineState* engine = []() -> vesk::EngineState* {
    const std::string file = FirstVoiceFile();
    if (file.empty()) return nullptr;
    vesk::Voice voice;
    voice.name = u"bench";
    if (!voice.Load(FromUtf8(file), nullptr)) return nullptr;
    auto* e = new vesk::EngineState();
    e->workerContext.voices.Add(std::move(voice));
    e->playCallback.store(&NoopPlay);
    e->initialized = true;
    return e;
  }();
  return engine;
}

void SpeakAll(benchmark::State& state, const std::vector<std::u16string>& texts,
              int32_t rate) {
  if (!Ready(state)) return;
  vesk::EngineState* engine = BenchEngine();
  if (engine == nullptr)
    return state.SkipWithError("no voice in VESK_BENCH_ENGINE");
  engine->workerContext.rate.store(rate);
  int32_t sampleRate = engine->workerContext.voices.First()->sampleRate;
  deliveredBytes = 0;
  for (auto _ : state) {
    for (const auto& text : texts) {
      vesk::UtteranceRequest request;
      request.text = text;
      request.control = std::make_shared<vesk::UtteranceControl>();
      engine->workerContext.running.store(true);
      vesk::SpeakUtterance(engine->workerContext, request, *Lexicon());
    }
  }
  engine->workerContext.rate.store(50);
  state.SetItemsProcessed(int64_t(state.iterations()) *
                          int64_t(CountHan(texts)));
  // Audio seconds delivered per second of this thread's time.
  state.counters["audio_rate"] =
      benchmark::Counter(double(deliveredBytes) / 2.0 / double(sampleRate),
                         benchmark::Counter::kIsRate);
}

void BM_WorkerDirectParagraphs(benchmark::State& state) {
  SpeakAll(state, GetCorpus().paragraphs, 50);
}
BENCHMARK(BM_WorkerDirectParagraphs)->Unit(benchmark::kMillisecond);

void BM_WorkerDirectBulk(benchmark::State& state) {
  SpeakAll(state, GetCorpus().bulk, 50);
}
BENCHMARK(BM_WorkerDirectBulk)->Unit(benchmark::kMillisecond);

void BM_WorkerSonicRate70(benchmark::State& state) {
  SpeakAll(state, GetCorpus().sonic, 70);
}
BENCHMARK(BM_WorkerSonicRate70)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
