#include "frontend/phonetic_tables.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace vesk {

namespace {

using Entry = std::pair<std::string_view, int32_t>;

// Voice files are keyed by these numbers: every value is part of the format.
// Constant arrays instead of hash maps keep every lookup allocation-free.
// Every key has one to four letters.
constexpr std::array<Entry, 23> kInitialBases{{
    {"b", 416},  {"c", 832},   {"d", 1248},  {"f", 2080},  {"g", 2496},
    {"h", 2912}, {"sh", 3328}, {"j", 3744},  {"k", 4160},  {"l", 4576},
    {"m", 4992}, {"n", 5408},  {"p", 6240},  {"q", 6656},  {"r", 7072},
    {"s", 7488}, {"t", 7904},  {"zh", 8320}, {"ch", 8736}, {"w", 9152},
    {"x", 9568}, {"y", 9984},  {"z", 10400},
}};

constexpr std::array<Entry, 37> kFinalOffsets{{
    {"a", 0},     {"ui", 16},    {"ve", 16},    {"ian", 32},  {"an", 48},
    {"e", 64},    {"eng", 80},   {"en", 96},    {"ng", 96},   {"n", 96},
    {"ing", 112}, {"i", 128},    {"in", 144},   {"ong", 160}, {"iong", 160},
    {"iao", 176}, {"iang", 192}, {"uang", 192}, {"uan", 208}, {"van", 208},
    {"o", 224},   {"uo", 224},   {"ou", 240},   {"er", 240},  {"ia", 256},
    {"ua", 256},  {"ei", 272},   {"ang", 288},  {"ie", 304},  {"u", 320},
    {"v", 336},   {"uai", 336},  {"ao", 352},   {"ai", 368},  {"iu", 384},
    {"un", 400},  {"vn", 400},
}};

constexpr std::array<int32_t, 10> kDigitUnits{4690, 10113, 1908, 7537, 7620,
                                              9475, 4964,  6785, 417,  4131};
// What those units say: the syllables of 零 一 二 三 四 五 六 七 八 九.
constexpr std::array<std::pair<std::string_view, int32_t>, 10> kDigitSyllables{
    {{"ling", 2},
     {"yi", 1},
     {"er", 4},
     {"san", 1},
     {"si", 4},
     {"wu", 3},
     {"liu", 4},
     {"qi", 1},
     {"ba", 1},
     {"jiu", 3}}};

// Keys of up to four ASCII letters packed into one integer, so a lookup is a
// binary search over integers with no string compare.
constexpr std::optional<uint32_t> PackKey(std::string_view key) {
  if (key.empty() || key.size() > 4) return std::nullopt;
  uint32_t packed = 0;
  for (char c : key) {
    // A NUL byte would pack like a shorter key ("\0a" like "a").
    if (c == '\0') return std::nullopt;
    packed = (packed << 8) | static_cast<unsigned char>(c);
  }
  return packed;
}

struct PackedEntry {
  uint32_t key;
  int32_t value;
};

template <std::size_t N>
constexpr std::array<PackedEntry, N> Packed(const std::array<Entry, N>& table) {
  std::array<PackedEntry, N> packed{};
  for (std::size_t i = 0; i < N; ++i) {
    packed[i] = {*PackKey(table[i].first), table[i].second};
  }
  std::sort(
      packed.begin(), packed.end(),
      [](const PackedEntry& a, const PackedEntry& b) { return a.key < b.key; });
  return packed;
}

constexpr auto kPackedInitials = Packed(kInitialBases);
constexpr auto kPackedFinals = Packed(kFinalOffsets);

template <std::size_t N>
constexpr std::optional<int32_t> Find(const std::array<PackedEntry, N>& table,
                                      std::string_view key) {
  const auto packed = PackKey(key);
  if (!packed) return std::nullopt;
  auto it = std::lower_bound(
      table.begin(), table.end(), *packed,
      [](const PackedEntry& entry, uint32_t k) { return entry.key < k; });
  if (it == table.end() || it->key != *packed) return std::nullopt;
  return it->value;
}

// The unit of the k-th letter's name: position 8 of slot 0 of its block.
constexpr int32_t LetterNameUnit(int k) { return kLetterBlockSize * k + 8; }

static_assert(Find(kPackedInitials, "zh") == 8320);
static_assert(Find(kPackedFinals, "vn") == 400);
static_assert(!Find(kPackedFinals, "ue"));
static_assert(!Find(kPackedFinals, std::string_view("\0a", 2)));
static_assert(LetterNameUnit(25) == 10408);

}  // namespace

std::optional<int32_t> InitialBase(std::string_view initial) {
  return Find(kPackedInitials, initial);
}

std::optional<int32_t> FinalOffset(std::string_view final) {
  return Find(kPackedFinals, final);
}

int32_t DigitUnit(char16_t digit) {
  if (digit < u'0' || digit > u'9') return -1;
  return kDigitUnits[digit - u'0'];
}

Syllable DigitSyllable(char16_t digit) {
  if (digit < u'0' || digit > u'9') return {};
  const auto& [pinyin, tone] = kDigitSyllables[digit - u'0'];
  return {std::string(pinyin), tone};
}

int32_t LetterUnit(char letter) {
  if (letter < 'a' || letter > 'z') return -1;
  return LetterNameUnit(letter - 'a');
}

}  // namespace vesk
