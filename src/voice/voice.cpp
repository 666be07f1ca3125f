#include "voice/voice.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <string>

#include "platform/platform.h"
#include "voice/voice_file.h"

namespace vesk {

namespace {

using voicefile::kMaximumFileSize;
using voicefile::kMinimumFileSize;
constexpr int64_t kTableStart = int64_t(voicefile::kTableOffset);
constexpr int64_t kEntrySize = int64_t(voicefile::kEntrySize);

uint32_t ReadU32(const platform::FileBytes& bytes, std::size_t at) {
  return voicefile::ReadU32(bytes.data() + at);
}

std::u16string Decimal(std::size_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// Walks the unit table while each entry lies before the lowest accepted
// unit offset; the entry count is not stored.
void ScanUnitTable(const platform::FileBytes& data,
                   std::map<int32_t, UnitEntry>& units) {
  const int64_t size = int64_t(data.size());
  if (size < kTableStart + kEntrySize) return;
  int64_t bound = size;
  int32_t index = 0;
  int64_t position = kTableStart;
  while (position + kEntrySize <= size) {
    const uint32_t offset = ReadU32(data, std::size_t(position));
    const uint32_t length =
        ReadU32(data, std::size_t(position) + voicefile::kEntryLengthOffset);
    if (length != 0 && int64_t(offset) + int64_t(length) <= size &&
        int64_t(offset) > position + kEntrySize) {
      units.emplace_hint(units.end(), index, UnitEntry{offset, length});
      bound = std::min(bound, int64_t(offset));
    }
    ++index;
    position += kEntrySize;
    if (position + kEntrySize > bound) break;
  }
}

}  // namespace

bool Voice::Load(const std::u16string& newPath, const LogSink& log) {
  if (&newPath != &path) path = newPath;
  units.clear();
  unitIndex.clear();  // it points into the old content
  data.clear();
  const auto fail = [&](const char16_t* message) {
    if (log) log(kLogError, message + path);
    data.clear();
    data.shrink_to_fit();
    return false;
  };

  // One read of the size measured at the end of the file, unlike the
  // dictionaries' read: a file whose size cannot be told is empty to the
  // loader, and one that delivers less than that size failed to read.
  platform::OwnedFile file(platform::OpenFile(path, "rb"));
  if (!file) return fail(u"无法打开语音库文件: ");
  const int64_t size = platform::FileSizeFromEnd(file.get());
  if (size <= 0) return fail(u"语音库文件为空: ");
  if (size >= kMaximumFileSize) return fail(u"语音库文件过大: ");
  if (!platform::SeekTo(file.get(), 0)) return fail(u"读取语音库文件失败: ");
  try {
    data.resize(std::size_t(size));  // not zero-filled: the read fills it
  } catch (const std::bad_alloc&) {
    return fail(u"读取语音库文件失败: ");
  }
  if (std::fread(data.data(), 1, data.size(), file.get()) != data.size()) {
    return fail(u"读取语音库文件失败: ");
  }
  file.reset();
  if (size < kMinimumFileSize) return fail(u"语音库文件格式错误: ");

  sampleRate = int32_t(ReadU32(data, voicefile::kSampleRateOffset));
  ScanUnitTable(data, units);
  if (log) {
    log(kLogInfo,
        u"加载语音库 " + name + u": " + Decimal(units.size()) + u" 条目");
  }
  return !units.empty();
}

void Voice::IndexUnits() {
  unitIndex.clear();
  const auto first = units.lower_bound(0);
  const auto end = units.lower_bound(kIndexedUnitLimit);
  if (first == end) return;
  unitIndex.resize(std::size_t(std::prev(end)->first) + 1);
  for (auto it = first; it != end; ++it) {
    unitIndex[std::size_t(it->first)] = {it->second, true};
  }
}

bool Voice::HasUnit(int32_t index) const {
  if (index >= 0 && std::size_t(index) < unitIndex.size()) {
    return unitIndex[std::size_t(index)].present;
  }
  return units.contains(index);
}

const uint8_t* Voice::GetUnit(int32_t index, uint32_t& byteLength) const {
  byteLength = 0;
  const UnitEntry* found = nullptr;
  if (index >= 0 && std::size_t(index) < unitIndex.size()) {
    const IndexedUnit& slot = unitIndex[std::size_t(index)];
    if (slot.present) found = &slot.entry;
  } else {
    const auto it = units.find(index);
    if (it != units.end()) found = &it->second;
  }
  if (found == nullptr) return nullptr;
  const UnitEntry& entry = *found;
  byteLength = entry.length;
  if (entry.length == 0) return nullptr;
  if (data.empty() ||
      uint64_t(entry.offset) + uint64_t(entry.length) > data.size()) {
    byteLength = 0;
    return nullptr;
  }
  return data.data() + entry.offset;
}

}  // namespace vesk
