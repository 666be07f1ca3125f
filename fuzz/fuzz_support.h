// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk::fuzz {

// Aborts (a crash to libFuzzer) with a message when an invariant fails.
void Require(bool condition, const char* what);

// A file that lives only in memory (memfd) but has a path the engine's
// loaders can open like any other file.
class MemoryFile {
 public:
  MemoryFile();
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the whole content.
  void Write(const uint8_t* data, std::size_t size);
  void Write(std::string_view bytes);
  const std::u16string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::u16string path_;
};

// Fuzz bytes as UTF-16 code units, little-endian pairs; an odd last byte is
// dropped. Any code unit may appear, lone surrogates and NUL included.
std::u16string BytesToUtf16(const uint8_t* data, std::size_t size);

// A small character dictionary (digits, number words, a few dozen common
// characters, the sandhi characters) and a phrase dictionary over them.
std::string_view SmallCharDictionary();
std::string_view SmallPhraseDictionary();

}  // namespace vesk::fuzz
