// One recorded voice: a .vl file held in memory and its unit table.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vesk {

// Where a unit's PCM lies in the voice file's bytes.
struct UnitEntry {
  uint32_t offset = 0;
  uint32_t length = 0;
};

// The levels of the host's log callback (vesksynth.h). Unscoped, so that a
// level is the int32_t the callback takes.
enum LogLevel : int32_t { kLogInfo = 1, kLogWarning = 2, kLogError = 4 };

// Receives the loader's messages (kLogInfo or kLogError).
using LogSink = std::function<void(int32_t level, const std::u16string& text)>;

struct Voice {
  std::u16string name;
  std::u16string path;
  int32_t sampleRate = 0;
  std::map<int32_t, UnitEntry> units;
  platform::FileBytes data;  // the whole file, read in one read

  // A copy of units with one slot per index below kIndexedUnitLimit (every
  // syllable, letter and pause unit), so that the worker's lookups cost no
  // tree search. Built by IndexUnits (VoiceRegistry::Add calls it); empty
  // until then, and stale if units changes afterwards.
  struct IndexedUnit {
    UnitEntry entry;
    bool present = false;
  };
  static constexpr int32_t kIndexedUnitLimit = 16384;
  std::vector<IndexedUnit> unitIndex;

  void IndexUnits();

  // Reads the whole file at path and scans its unit table. True when at
  // least one unit was accepted. Reports one line through log.
  bool Load(const std::u16string& path, const LogSink& log);

  bool HasUnit(int32_t index) const;

  // The unit's first PCM byte inside data and its length in bytes, or null
  // with byteLength 0. Never copies or allocates.
  const uint8_t* GetUnit(int32_t index, uint32_t& byteLength) const;
};

}  // namespace vesk
