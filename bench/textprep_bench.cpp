// The hosts' text preparation, which runs before every utterance: its
// throughput on the benchmark corpus (Chinese prose as a screen reader meets
// it) and on text dense with numbers, dates, units and symbols. Bytes are
// counted as UTF-8, the size of the text a host is handed.
//
// VESK_BENCH_CORPUS names the corpus directory (bench/make_corpus.mjs);
// without it only the dense text is measured.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "text_prep.h"

namespace {

std::size_t Utf8Bytes(std::u16string_view text) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80)
      bytes += 1;
    else if (c < 0x800)
      bytes += 2;
    else if (c >= 0xD800 && c <= 0xDBFF)
      bytes += 4, ++i;
    else
      bytes += 3;
  }
  return bytes;
}

void PrepareAll(benchmark::State& state,
                const std::vector<std::u16string>& texts, bool readSymbols) {
  if (texts.empty()) {
    state.SkipWithError("no corpus (VESK_BENCH_CORPUS)");
    return;
  }
  std::size_t bytes = 0;
  for (const auto& t : texts) bytes += Utf8Bytes(t);
  vesk::textprep::PrepOptions options;
  options.readSymbols = readSymbols;
  for (auto _ : state) {
    for (const auto& t : texts) {
      benchmark::DoNotOptimize(vesk::textprep::PrepareText(t, options));
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
  state.counters["utterances"] = double(texts.size());
}

const std::vector<std::u16string>& Paragraphs() {
  static const std::vector<std::u16string> paragraphs =
      vesk::bench::CorpusDir().empty()
          ? std::vector<std::u16string>{}
          : vesk::bench::ReadLines(vesk::bench::CorpusDir() +
                                   "/paragraphs.txt");
  return paragraphs;
}

// Screen-reader lines where nearly every one has something to read.
const std::vector<std::u16string>& Dense() {
  static const std::vector<std::u16string> lines = [] {
    const std::vector<std::string> seeds = {
        "今天是2026年12月9日，气温-3度。价格是3.14元。",
        "会议于2026-12-09 08:30开始，预计持续1.5~2小时；地点：3号楼201室。",
        "下载速度5.2MB/s，已完成75%（共1,024MB），剩余约3分钟。",
        "联系电话：010-12345678，手机13812345678。",
        "版本v1.2.3已发布，服务器192.168.1.10重启于21:30。",
        "比分3:2，全场共投篮2个三分球，时速120km/h。",
        "原价￥1,299.00，现价$199，折扣约15%，库存2件。",
        "Windows 10和x86_64下运行，编码ISO-8859-1，第3章：H2O的性质。",
    };
    std::vector<std::u16string> out;
    for (int i = 0; i < 64; ++i)
      for (const auto& s : seeds) out.push_back(vesk::bench::FromUtf8(s));
    return out;
  }();
  return lines;
}

void BM_PrepareCorpusParagraphs(benchmark::State& state) {
  PrepareAll(state, Paragraphs(), true);
}
BENCHMARK(BM_PrepareCorpusParagraphs)->Unit(benchmark::kMillisecond);

void BM_PrepareDenseLines(benchmark::State& state) {
  PrepareAll(state, Dense(), true);
}
BENCHMARK(BM_PrepareDenseLines)->Unit(benchmark::kMicrosecond);

void BM_PrepareDenseLinesModule(benchmark::State& state) {
  PrepareAll(state, Dense(), false);
}
BENCHMARK(BM_PrepareDenseLinesModule)->Unit(benchmark::kMicrosecond);

}  // namespace
