#include "lexicon/dictionary_file.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/platform.h"

namespace vesk {

namespace {

struct ToneMark {
  std::string_view bytes;
  char letter;
  int32_t tone;  // -1: the mark leaves the tone as it was
};

// In matching order: the first row whose bytes begin at a position wins.
constexpr std::array<ToneMark, 30> kToneMarks{{
    {"\xC4\x81", 'a', 1},  {"\xC3\xA1", 'a', 2},     {"\xC7\x8E", 'a', 3},
    {"\xC3\xA0", 'a', 4},  {"\xC4\x93", 'e', 1},     {"\xC3\xA9", 'e', 2},
    {"\xC4\x9B", 'e', 3},  {"\xC3\xA8", 'e', 4},     {"\xC4\xAB", 'i', 1},
    {"\xC3\xAD", 'i', 2},  {"\xC7\x90", 'i', 3},     {"\xC3\xAC", 'i', 4},
    {"\xC5\x8D", 'o', 1},  {"\xC3\xB3", 'o', 2},     {"\xC7\x92", 'o', 3},
    {"\xC3\xB2", 'o', 4},  {"\xC5\xAB", 'u', 1},     {"\xC3\xBA", 'u', 2},
    {"\xC7\x94", 'u', 3},  {"\xC3\xB9", 'u', 4},     {"\xC7\x96", 'v', 1},
    {"\xC7\x98", 'v', 2},  {"\xC7\x9A", 'v', 3},     {"\xC7\x9C", 'v', 4},
    {"\xC3\xBC", 'v', -1}, {"\xC5\x84", 'n', 2},     {"\xC5\x88", 'n', 3},
    {"\xC7\xB9", 'n', 4},  {"\xE1\xB8\xBF", 'm', 2}, {"m\xCC\x80", 'm', 4},
}};

// Only these bytes begin a row; every other byte is copied without a search.
bool MayStartToneMark(unsigned char c) {
  return c == 0xC3 || c == 0xC4 || c == 0xC5 || c == 0xC7 || c == 0xE1 ||
         c == 'm';
}

// The rows by their first two bytes (row number + 1, or 0): the first byte
// picks one of six groups, the low six bits of the second a slot. No two rows
// share a slot (the build stops otherwise), so the one row found is the only
// one that can match at a position, the same one a scan in matching order
// finds.
constexpr int MarkGroup(unsigned char c) {
  switch (c) {
    case 0xC3:
      return 0;
    case 0xC4:
      return 1;
    case 0xC5:
      return 2;
    case 0xC7:
      return 3;
    case 0xE1:
      return 4;
    case 'm':
      return 5;
    default:
      return -1;
  }
}

using MarkTable = std::array<std::array<uint8_t, 64>, 6>;

constexpr MarkTable BuildMarkTable() {
  MarkTable table{};
  for (std::size_t row = 0; row < kToneMarks.size(); ++row) {
    const std::string_view bytes = kToneMarks[row].bytes;
    const int group = MarkGroup(static_cast<unsigned char>(bytes[0]));
    const auto second = static_cast<unsigned char>(bytes[1]);
    if (group < 0) throw "row outside the groups";
    uint8_t& slot = table[std::size_t(group)][second & 0x3F];
    if (slot != 0) throw "two rows share their first two bytes";
    slot = uint8_t(row + 1);
  }
  return table;
}

constexpr MarkTable kMarkTable = BuildMarkTable();

// The row whose bytes begin at the start of rest, or null.
const ToneMark* MatchToneMark(std::string_view rest) {
  if (rest.size() < 2) return nullptr;
  const int group = MarkGroup(static_cast<unsigned char>(rest[0]));
  if (group < 0) return nullptr;
  const auto second = static_cast<unsigned char>(rest[1]);
  const uint8_t row = kMarkTable[std::size_t(group)][second & 0x3F];
  if (row == 0) return nullptr;
  const ToneMark& mark = kToneMarks[row - 1];
  return rest.starts_with(mark.bytes) ? &mark : nullptr;
}

}  // namespace

namespace {

// Calls fn(piece) for every trimmed piece between delimiters, empty ones too.
template <typename Fn>
void forEachPiece(std::string_view text, char delimiter, Fn&& fn) {
  while (true) {
    const std::size_t end = text.find(delimiter);
    fn(trimBlanks(text.substr(0, end)));
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

std::vector<std::string_view> splitReadings(std::string_view text,
                                            char delimiter) {
  std::vector<std::string_view> pieces;
  forEachPiece(text, delimiter,
               [&](std::string_view piece) { pieces.push_back(piece); });
  return pieces;
}

namespace {

template <typename Parse>
std::vector<Syllable> ParsePieces(std::string_view text, char delimiter,
                                  Parse&& parse) {
  // One allocation: there are at most as many pieces as delimiters plus one.
  std::vector<Syllable> syllables;
  syllables.reserve(
      std::size_t(std::count(text.begin(), text.end(), delimiter)) + 1);
  forEachPiece(text, delimiter, [&](std::string_view piece) {
    if (piece.empty()) return;
    auto&& syllable = parse(piece);
    if (!syllable.pinyin.empty()) {
      syllables.push_back(std::forward<decltype(syllable)>(syllable));
    }
  });
  return syllables;
}

}  // namespace

std::vector<Syllable> parseReadings(std::string_view text, char delimiter) {
  return ParsePieces(text, delimiter, parseReading);
}

std::vector<Syllable> parseReadings(std::string_view text, char delimiter,
                                    ReadingCache& cache) {
  return ParsePieces(text, delimiter,
                     [&cache](std::string_view piece) -> const Syllable& {
                       return cache.parse(piece);
                     });
}

namespace {

std::size_t ReadingHash(std::string_view reading) {
  // FNV-1a: a handful of bytes, each folded in with one multiplication.
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char c : reading) {
    hash = (hash ^ uint8_t(c)) * 0x100000001B3ULL;
  }
  return std::size_t(hash ^ (hash >> 32));
}

}  // namespace

const Syllable& ReadingCache::parse(std::string_view reading) {
  if ((syllables_.size() + 1) * 2 > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = ReadingHash(reading) & mask;
  for (; slots_[at].syllable != 0; at = (at + 1) & mask) {
    if (slots_[at].reading == reading) {
      return syllables_[slots_[at].syllable - 1];
    }
  }
  syllables_.push_back(parseReading(reading));
  slots_[at] = Slot{reading, uint32_t(syllables_.size())};
  return syllables_.back();
}

void ReadingCache::grow() {
  std::vector<Slot> old(std::max<std::size_t>(1024, 2 * slots_.size()));
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.syllable == 0) continue;
    std::size_t at = ReadingHash(slot.reading) & mask;
    while (slots_[at].syllable != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

std::size_t countLines(std::string_view content) {
  // memchr skips a line in a few steps; a byte-by-byte count does not.
  std::size_t lines = 1;
  for (std::size_t at = content.find('\n'); at != std::string_view::npos;
       at = content.find('\n', at + 1)) {
    ++lines;
  }
  return lines;
}

Syllable parseReading(std::string_view reading) {
  // Every row is at least as long as the letter it writes, so the spelling
  // never outgrows the reading: written through a pointer, cut to size once.
  Syllable syllable;
  syllable.pinyin.resize(reading.size());
  char* out = syllable.pinyin.data();
  std::size_t at = 0;
  while (at < reading.size()) {
    const auto c = static_cast<unsigned char>(reading[at]);
    if (MayStartToneMark(c)) {
      if (const ToneMark* match = MatchToneMark(reading.substr(at))) {
        *out++ = match->letter;
        if (match->tone >= 0) syllable.tone = match->tone;
        at += match->bytes.size();
        continue;
      }
    }
    *out++ = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c);
    ++at;
  }
  syllable.pinyin.resize(std::size_t(out - syllable.pinyin.data()));
  return syllable;
}

std::optional<std::string> readDictionaryFile(const std::u16string& path) {
  std::string content;
  if (platform::ReadFileInto(path, content) != platform::ReadFailure::kNone) {
    return std::nullopt;
  }

  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (content.size() > 2 &&
      std::string_view(content).starts_with(kByteOrderMark)) {
    content.erase(0, kByteOrderMark.size());
  }
  return content;
}

}  // namespace vesk
