#include "voice/voice_file.h"

#include <algorithm>
#include <iterator>

namespace vesk::voicefile {

std::vector<uint8_t> Encode(
    int32_t sampleRate, const std::map<int32_t, std::vector<int16_t>>& units,
    std::string& error) {
  std::map<int32_t, const std::vector<int16_t>*> recorded;
  for (const auto& [index, samples] : units) {
    if (index < 0) {
      error = "negative unit index " + std::to_string(index);
      return {};
    }
    if (!samples.empty()) recorded[index] = &samples;
  }
  if (recorded.empty()) {
    error = "no unit to write";
    return {};
  }
  const uint64_t entries = uint64_t(recorded.rbegin()->first) + 1;
  const uint64_t tableEnd = kTableOffset + kEntrySize * entries;
  const uint64_t padding = recorded.size() == 1 ? kEntrySize : 0;
  uint64_t total = tableEnd + padding;
  for (const auto& [index, samples] : recorded) total += 2 * samples->size();
  if (total >= uint64_t(kMaximumFileSize)) {
    error = "the voice would exceed 2 GiB";
    return {};
  }
  std::vector<uint8_t> out(std::size_t(tableEnd + padding), 0);
  out.reserve(std::size_t(total));
  std::copy(std::begin(kBuilderMark), std::end(kBuilderMark),
            out.begin() + kBuilderMarkOffset);
  PutU32(&out[kSampleRateOffset], uint32_t(sampleRate));
  PutU32(&out[kEntryCountOffset], uint32_t(entries));
  PutU32(&out[kUnitCountOffset], uint32_t(recorded.size()));
  for (const auto& [index, samples] : recorded) {
    const std::size_t entry = EntryPosition(index);
    PutU32(&out[entry], uint32_t(out.size()));
    PutU32(&out[entry + kEntryLengthOffset], uint32_t(2 * samples->size()));
    for (int16_t s : *samples) {
      out.push_back(uint8_t(uint16_t(s) & 0xFF));
      out.push_back(uint8_t(uint16_t(s) >> 8));
    }
  }
  return out;
}

}  // namespace vesk::voicefile
