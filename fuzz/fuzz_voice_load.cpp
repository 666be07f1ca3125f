// The .vl loader against arbitrary file contents, checked entry by entry
// against an independent reading of the table layout.
#include <cstdint>
#include <map>

#include "fuzz_support.h"
#include "voice/voice.h"

namespace {

uint32_t U32At(const uint8_t* data, uint64_t at) {
  return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 |
         uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 3]) << 24;
}

// The units a correct loader accepts: entries are read while they lie wholly
// before the lowest accepted unit offset; a unit must have a length, fit the
// file and start after its own entry.
std::map<int32_t, vesk::UnitEntry> ExpectedUnits(const uint8_t* data,
                                                 uint64_t size) {
  std::map<int32_t, vesk::UnitEntry> units;
  if (size < 32) return units;
  uint64_t bound = size;
  int32_t index = 0;
  for (uint64_t p = 24; p + 8 <= size && p + 8 <= bound; p += 8, ++index) {
    const uint32_t offset = U32At(data, p);
    const uint32_t length = U32At(data, p + 4);
    if (length != 0 && uint64_t(offset) + length <= size && offset > p + 8) {
      units[index] = {offset, length};
      if (offset < bound) bound = offset;
    }
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using vesk::fuzz::Require;
  static vesk::fuzz::MemoryFile file;
  file.Write(data, size);

  vesk::Voice voice;
  voice.name = u"fuzz";
  int lines = 0;
  const bool loaded =
      voice.Load(file.path(), [&](int32_t level, const std::u16string& text) {
        Require(level == 1 || level == 4, "loader logs at level 1 or 4");
        Require(!text.empty(), "loader message not empty");
        ++lines;
      });
  Require(lines == 1, "exactly one message per load");
  Require(voice.path == file.path(), "path kept");
  Require(loaded == !voice.units.empty(), "result tells whether units exist");
  if (size < 28) {
    Require(voice.data.empty() && voice.units.empty(), "short file dropped");
    return 0;
  }
  Require(voice.data.size() == size, "whole file held");
  Require(voice.sampleRate == int32_t(U32At(data, 8)), "sample rate");

  const auto expected = ExpectedUnits(data, size);
  Require(voice.units.size() == expected.size(), "accepted unit count");
  for (const auto& [index, entry] : expected) {
    auto found = voice.units.find(index);
    Require(found != voice.units.end(), "expected unit present");
    Require(found->second.offset == entry.offset &&
                found->second.length == entry.length,
            "unit entry as in the file");
    uint32_t length = 0;
    const uint8_t* bytes = voice.GetUnit(index, length);
    Require(voice.HasUnit(index), "HasUnit for an accepted unit");
    Require(bytes == voice.data.data() + entry.offset && length == entry.length,
            "GetUnit points into the file bytes");
  }
  for (int32_t probe : {-1, int32_t(expected.size()) + 1, 1 << 30}) {
    if (expected.count(probe) != 0) continue;
    uint32_t length = 7;
    Require(!voice.HasUnit(probe), "HasUnit false for an absent unit");
    Require(voice.GetUnit(probe, length) == nullptr && length == 0,
            "GetUnit null for an absent unit");
  }
  return 0;
}
