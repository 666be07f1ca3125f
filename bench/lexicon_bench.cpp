// The lexicon at real size: loading a 200,000-word dictionary (2 to 24
// characters a word) beside a 41,000-line character dictionary, the memory it
// takes, and converting text with it. The data is generated, so the program
// needs no corpus.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "frontend/neutral_tone_lexicon.h"
#include "frontend/syllable.h"
#include "lexicon/pinyin_lexicon.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using vesk::PinyinLexicon;

constexpr std::size_t kWords = 200'000;
constexpr std::size_t kStartupWords = 45'000;
constexpr std::size_t kLongest = 24;
constexpr char16_t kHanFirst = 0x4E00;
constexpr std::size_t kHanCount = 0x9FFF - 0x4E00 + 1;
// Most text and most words use a few thousand characters.
constexpr std::size_t kCommon = 3500;

const char* const kSyllables[] = {
    "zh\xC5\x8Dng", "gu\xC3\xB3", "r\xC3\xA9n", "m\xC3\xADn", "d\xC3\xA0",
    "xi\xC7\x8Eo",  "sh\xC3\xAC", "b\xC3\xB9",  "y\xC4\xAB",  "h\xC7\x8Eo",
    "l\xC7\x9C",    "n\xC3\xBC",  "ji\xC4\x81", "xu\xC3\xA9", "de",
    "le",           "m\xC4\x81",  "w\xC7\x92",  "t\xC4\x81",  "zh\xC3\xA8"};

struct Corpus {
  fs::path dir;
  std::u16string charPath;
  std::u16string phrasePath;          // 200,000 words, sorted
  std::u16string shuffledPhrasePath;  // the same words in random order
  std::u16string startupPhrasePath;   // 45,000 words, sorted
  std::u16string text;                // about 200,000 code units
  std::size_t hanInText = 0;
};

class CharPicker {
 public:
  explicit CharPicker(std::mt19937& random) : random_(random) {}
  char16_t operator()() {
    // Four in five characters from the common set.
    if (std::uniform_int_distribution<int>(0, 4)(random_) != 0) {
      return char16_t(kHanFirst + Pick(kCommon));
    }
    return char16_t(kHanFirst + Pick(kHanCount));
  }
  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

 private:
  std::mt19937& random_;
};

// Word lengths as in real dictionaries: mostly two to four characters, a
// tail up to 24.
std::size_t WordLength(CharPicker& pick) {
  const std::size_t roll = pick.Pick(100);
  if (roll < 45) return 2;
  if (roll < 65) return 3;
  if (roll < 88) return 4;
  if (roll < 96) return 5 + pick.Pick(4);
  return 9 + pick.Pick(kLongest - 8);
}

std::string Reading(CharPicker& pick, std::size_t syllables) {
  std::string text;
  for (std::size_t i = 0; i < syllables; ++i) {
    if (i) text += ' ';
    text += kSyllables[pick.Pick(std::size(kSyllables))];
  }
  return text;
}

std::u16string WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), std::streamsize(bytes.size()));
  return vesk::platform::Utf8ToUtf16(path.string());
}

std::string PhraseFile(const std::vector<std::u16string>& words,
                       CharPicker& pick) {
  std::string file;
  file.reserve(words.size() * 40);
  for (const auto& word : words) {
    file += vesk::platform::Utf16ToUtf8(word);
    file += ": ";
    file += Reading(pick, word.size());
    file += '\n';
  }
  return file;
}

Corpus BuildCorpus() {
  Corpus corpus;
  corpus.dir = fs::temp_directory_path() /
               ("vesk-lexicon-bench-" + std::to_string(::getpid()));
  fs::create_directories(corpus.dir);
  std::mt19937 random(42);
  CharPicker pick(random);

  // Every character of the block, plus 20,000 beyond the basic plane in
  // code-point form, as a full character dictionary has.
  std::string chars = "\xEF\xBB\xBF# pinyin\n";
  for (std::size_t i = 0; i < kHanCount; ++i) {
    chars +=
        vesk::platform::Utf16ToUtf8(std::u16string(1, char16_t(kHanFirst + i)));
    chars += ": " + Reading(pick, 1) + "," + Reading(pick, 1) + "\n";
  }
  for (std::size_t i = 0; i < 20'000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "U+%05zX: ", 0x20000 + i);
    chars += line + Reading(pick, 1) + "  # rare\n";
  }
  corpus.charPath = WriteFile(corpus.dir / "pinyin.txt", chars);

  std::vector<std::u16string> words;
  words.reserve(kWords);
  for (std::size_t i = 0; i < kWords; ++i) {
    std::u16string word;
    for (std::size_t n = WordLength(pick); n > 0; --n) word += pick();
    words.push_back(std::move(word));
  }
  std::vector<std::u16string> startup(words.begin(),
                                      words.begin() + kStartupWords);
  std::sort(startup.begin(), startup.end());
  corpus.startupPhrasePath =
      WriteFile(corpus.dir / "phrases-45k.txt", PhraseFile(startup, pick));
  corpus.shuffledPhrasePath =
      WriteFile(corpus.dir / "phrases-shuffled.txt", PhraseFile(words, pick));
  std::sort(words.begin(), words.end());
  corpus.phrasePath =
      WriteFile(corpus.dir / "phrases.txt", PhraseFile(words, pick));

  // Text: dictionary words and single characters, a punctuation mark now
  // and then, as prose has.
  while (corpus.text.size() < 200'000) {
    if (pick.Pick(10) < 6) {
      corpus.text += words[pick.Pick(words.size())];
    } else {
      corpus.text += pick();
    }
    if (pick.Pick(8) == 0) corpus.text += pick.Pick(2) ? u"，" : u"。";
  }
  for (char16_t c : corpus.text) {
    corpus.hanInText += (c >= 0x4E00 && c <= 0x9FFF);
  }
  return corpus;
}

const Corpus& GetCorpus() {
  static const Corpus corpus = BuildCorpus();
  return corpus;
}

struct CorpusCleanup {
  ~CorpusCleanup() {
    std::error_code ignored;
    fs::remove_all(fs::temp_directory_path() /
                       ("vesk-lexicon-bench-" + std::to_string(::getpid())),
                   ignored);
  }
} cleanup;

double ResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

double HeapMegabytes() { return double(mallinfo2().uordblks) / (1 << 20); }

// Runs first: memory of one lexicon holding the 200,000 words and the
// character dictionary, before anything else has grown the heap.
void BM_LexiconMemory(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  for (auto _ : state) {
    malloc_trim(0);
    const double rssBefore = ResidentMegabytes();
    const double heapBefore = HeapMegabytes();
    auto lexicon = std::make_unique<PinyinLexicon>();
    lexicon->loadCharDictionary(corpus.charPath);
    lexicon->loadPhraseDictionary(corpus.phrasePath);
    state.counters["rss_before_MB"] = rssBefore;
    state.counters["rss_after_MB"] = ResidentMegabytes();
    state.counters["rss_growth_MB"] = ResidentMegabytes() - rssBefore;
    state.counters["heap_growth_MB"] = HeapMegabytes() - heapBefore;
    state.counters["words"] = double(lexicon->phraseCount());
    state.counters["chars"] = double(lexicon->charCount());
    state.PauseTiming();
    lexicon.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LexiconMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void LoadPhrases(benchmark::State& state, const std::u16string& path) {
  for (auto _ : state) {
    state.PauseTiming();
    auto lexicon = std::make_unique<PinyinLexicon>();
    state.ResumeTiming();
    benchmark::DoNotOptimize(lexicon->loadPhraseDictionary(path));
    state.PauseTiming();
    state.counters["words"] = double(lexicon->phraseCount());
    lexicon.reset();
    state.ResumeTiming();
  }
}

void BM_LoadPhrases200kSorted(benchmark::State& state) {
  LoadPhrases(state, GetCorpus().phrasePath);
}
BENCHMARK(BM_LoadPhrases200kSorted)->Unit(benchmark::kMillisecond);

void BM_LoadPhrases200kShuffled(benchmark::State& state) {
  LoadPhrases(state, GetCorpus().shuffledPhrasePath);
}
BENCHMARK(BM_LoadPhrases200kShuffled)->Unit(benchmark::kMillisecond);

void BM_LoadChars41k(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto lexicon = std::make_unique<PinyinLexicon>();
    state.ResumeTiming();
    benchmark::DoNotOptimize(lexicon->loadCharDictionary(GetCorpus().charPath));
    state.PauseTiming();
    state.counters["chars"] = double(lexicon->charCount());
    lexicon.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadChars41k)->Unit(benchmark::kMillisecond);

// What start-up costs: a new lexicon, 41,000 character lines, 45,000 words.
void BM_StartupLoad(benchmark::State& state) {
  for (auto _ : state) {
    auto lexicon = std::make_unique<PinyinLexicon>();
    benchmark::DoNotOptimize(lexicon->loadCharDictionary(GetCorpus().charPath));
    benchmark::DoNotOptimize(
        lexicon->loadPhraseDictionary(GetCorpus().startupPhrasePath));
    state.PauseTiming();
    lexicon.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartupLoad)->Unit(benchmark::kMillisecond);

const PinyinLexicon& LoadedLexicon() {
  static const PinyinLexicon* lexicon = [] {
    auto* loaded = new PinyinLexicon();
    loaded->loadCharDictionary(GetCorpus().charPath);
    loaded->loadPhraseDictionary(GetCorpus().phrasePath);
    return loaded;
  }();
  return *lexicon;
}

// Conversion of the whole text in runs cut at the punctuation, as the
// speech worker cuts it; items are Han characters.
void BM_ConvertText(benchmark::State& state) {
  const PinyinLexicon& lexicon = LoadedLexicon();
  const Corpus& corpus = GetCorpus();
  std::vector<std::u16string_view> runs;
  std::u16string_view text = corpus.text;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] < 0x4E00 || text[i] > 0x9FFF) {
      if (i > start) runs.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  std::size_t syllables = 0;
  for (auto _ : state) {
    syllables = 0;
    for (std::u16string_view run : runs) {
      auto result = lexicon.convert(run);
      syllables += result.size();
      benchmark::DoNotOptimize(result.data());
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations() * corpus.hanInText));
  state.counters["syllables"] = double(syllables);
  state.counters["runs"] = double(runs.size());
}
BENCHMARK(BM_ConvertText)->Unit(benchmark::kMillisecond);

// The same text in one call.
void BM_ConvertWholeText(benchmark::State& state) {
  const PinyinLexicon& lexicon = LoadedLexicon();
  const Corpus& corpus = GetCorpus();
  for (auto _ : state) {
    auto result = lexicon.convert(corpus.text);
    benchmark::DoNotOptimize(result.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations() * corpus.hanInText));
}
BENCHMARK(BM_ConvertWholeText)->Unit(benchmark::kMillisecond);

// Turning every converted syllable into its unit index.
void BM_SyllableUnitIndex(benchmark::State& state) {
  const auto syllables = LoadedLexicon().convert(GetCorpus().text);
  for (auto _ : state) {
    int64_t sum = 0;
    for (const vesk::Syllable& s : syllables) {
      sum += vesk::SyllableUnitIndex(s.pinyin, s.tone);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * syllables.size()));
}
BENCHMARK(BM_SyllableUnitIndex)->Unit(benchmark::kMicrosecond);

}  // namespace
