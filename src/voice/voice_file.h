// The .vl voice library file: a 24-byte header, a table of 8-byte entries
// (entry k describes the unit with index k; the number of entries is not
// stored), then the units' PCM, signed 16-bit mono. All integers are
// little-endian and all offsets absolute. A file format: never change a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vesk::voicefile {

// ---- Header ---------------------------------------------------------------
// The loader reads only the sample rate. Our builder fills the bytes the
// loader ignores: its mark at 0 and the entry and unit counts at 12 and 16,
// for people and tools reading the file.
inline constexpr std::size_t kBuilderMarkOffset = 0;
inline constexpr uint8_t kBuilderMark[8] = {'V', 'E', 'S', 'K', 'V', 'L', 1, 0};
inline constexpr std::size_t kSampleRateOffset = 8;
inline constexpr std::size_t kEntryCountOffset = 12;
inline constexpr std::size_t kUnitCountOffset = 16;
inline constexpr std::size_t kTableOffset = 24;

// ---- Table entries ---------------------------------------------------------
// The unit's PCM offset, then its length in bytes; length 0: no such unit.
inline constexpr std::size_t kEntrySize = 8;
inline constexpr std::size_t kEntryLengthOffset = 4;

// ---- Limits ----------------------------------------------------------------
// From 28 bytes on a file has a sample rate. The whole file is one in-memory
// buffer with 32-bit offsets: files of 2^31 bytes or more are refused.
inline constexpr int64_t kMinimumFileSize = 28;
inline constexpr int64_t kMaximumFileSize = int64_t(1) << 31;

// Byte position of the table entry of a unit index (index >= 0).
constexpr std::size_t EntryPosition(int32_t index) {
  return kTableOffset + kEntrySize * std::size_t(index);
}

inline uint32_t ReadU32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 |
         uint32_t(at[3]) << 24;
}

inline void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

// The bytes of a voice file: the header, one entry per index 0..highest,
// every unit's PCM after the table in index order. Units without samples
// keep an empty entry. A lone unit gets one empty entry of padding, for the
// loader wants a unit's data to start after the end of its own entry. Empty,
// with error, when there is no unit, an index is negative or the file would
// reach kMaximumFileSize.
std::vector<uint8_t> Encode(
    int32_t sampleRate, const std::map<int32_t, std::vector<int16_t>>& units,
    std::string& error);

}  // namespace vesk::voicefile
