// What the benchmark programs share: the corpus files and where they lie.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::bench {

// Well-formed UTF-8 (the corpus) to UTF-16.
std::u16string FromUtf8(std::string_view utf8);

// Whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

// The non-empty lines of a UTF-8 file.
std::vector<std::u16string> ReadLines(const std::string& path);

// A UTF-8 file cut at separator into records.
std::vector<std::u16string> ReadRecords(const std::string& path,
                                        char separator);

// Code units in the engine's Han block U+4E00..U+9FFF.
std::size_t CountHan(std::u16string_view text);
std::size_t CountHan(const std::vector<std::u16string>& texts);

// Directories named by VESK_BENCH_CORPUS and VESK_BENCH_ENGINE; "" if unset.
std::string CorpusDir();
std::string EngineDir();

}  // namespace vesk::bench
