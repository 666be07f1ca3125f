// Loading pinyin.txt: one character and its readings per line.
#include <optional>

#include "lexicon/dictionary_file.h"
#include "lexicon/pinyin_lexicon.h"
#include "platform/platform.h"

namespace vesk {

namespace {

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hexadecimal code point read the way the C library's string-to-unsigned
// conversion reads base 16 (leading white space, a sign, an optional 0x,
// digits up to the first other character); nullopt when no digit is read or
// the value leaves 32 bits. A minus sign always leaves 32 bits there, unless
// the value is 0, which no entry may have.
std::optional<uint32_t> ParseCodePoint(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && IsCSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  if (at + 2 < text.size() && text[at] == '0' &&
      (text[at + 1] == 'x' || text[at + 1] == 'X') &&
      HexDigit(text[at + 2]) >= 0) {
    at += 2;
  }
  const std::size_t firstDigit = at;
  uint64_t value = 0;
  for (int digit; at < text.size() && (digit = HexDigit(text[at])) >= 0; ++at) {
    value = value * 16 + uint64_t(digit);
    if (value > UINT32_MAX) return std::nullopt;
  }
  if (at == firstDigit) return std::nullopt;
  if (negative && value != 0) return std::nullopt;
  return uint32_t(value);
}

struct CharEntry {
  uint32_t code = 0;
  std::string_view readings;
};

std::optional<CharEntry> ParseCharLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  CharEntry entry;
  if (line.starts_with("U+") || line.starts_with("u+")) {
    auto code = ParseCodePoint(line.substr(2, colon - 2));
    if (!code) return std::nullopt;
    entry.code = *code;
    std::string_view rest = line.substr(colon + 1);
    entry.readings = trimBlanks(rest.substr(0, rest.find('#')));
  } else {
    // Only the first code unit is the key; whatever follows is ignored.
    const std::u16string character =
        platform::Utf8ToUtf16(line.substr(0, colon));
    if (character.empty()) return std::nullopt;
    entry.code = character.front();
    // "#" is no comment here: it stays part of the readings.
    entry.readings = trimBlanks(line.substr(colon + 1));
  }
  if (entry.code == 0 || entry.readings.empty()) return std::nullopt;
  return entry;
}

}  // namespace

bool PinyinLexicon::loadCharDictionary(const std::u16string& path) {
  const std::optional<std::string> content = readDictionaryFile(path);
  if (!content) return false;
  ReadingCache cache;  // its keys point into content
  charReadings_.reserve(charReadings_.size() + countLines(*content));
  std::size_t stored = 0;
  forEachEntryLine(*content, [&](std::string_view line) {
    const std::optional<CharEntry> entry = ParseCharLine(line);
    if (!entry) return;
    Reading reading = parseReadings(entry->readings, ',', cache);
    if (reading.empty()) return;
    storeChar(entry->code, std::move(reading));
    ++stored;
  });
  return stored > 0;
}

}  // namespace vesk
