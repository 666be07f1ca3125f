#include "bench_support.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vesk::bench {

std::u16string FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<uint8_t>(utf8[i]);
    uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b >> 5) == 6 && i + 1 < utf8.size()) {
      cp = (b & 0x1Fu) << 6 | (utf8[i + 1] & 0x3F);
      len = 2;
    } else if ((b >> 4) == 14 && i + 2 < utf8.size()) {
      cp = (b & 0x0Fu) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
      len = 3;
    } else if ((b >> 3) == 30 && i + 3 < utf8.size()) {
      cp = (b & 0x07u) << 18 | (utf8[i + 1] & 0x3F) << 12 |
           (utf8[i + 2] & 0x3F) << 6 | (utf8[i + 3] & 0x3F);
      len = 4;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::vector<std::u16string> ReadRecords(const std::string& path,
                                        char separator) {
  std::vector<std::u16string> records;
  const std::string bytes = ReadFile(path);
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find(separator, start);
    if (end == std::string::npos) end = bytes.size();
    if (end > start) {
      records.push_back(
          FromUtf8(std::string_view(bytes).substr(start, end - start)));
    }
    start = end + 1;
  }
  return records;
}

std::vector<std::u16string> ReadLines(const std::string& path) {
  return ReadRecords(path, '\n');
}

std::size_t CountHan(std::u16string_view text) {
  std::size_t n = 0;
  for (char16_t c : text) n += (c >= 0x4E00 && c <= 0x9FFF) ? 1 : 0;
  return n;
}

std::size_t CountHan(const std::vector<std::u16string>& texts) {
  std::size_t n = 0;
  for (const auto& t : texts) n += CountHan(t);
  return n;
}

static std::string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string CorpusDir() { return FromEnvironment("VESK_BENCH_CORPUS"); }
std::string EngineDir() { return FromEnvironment("VESK_BENCH_ENGINE"); }

}  // namespace vesk::bench
