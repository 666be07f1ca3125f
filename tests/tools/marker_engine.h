// An engine directory as a host finds it, for the tools' tests: the built
// library and marker voices whose every sample tells which unit is playing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_library.h"
#include "support/test_files.h"

namespace vesk::test {

// Units of the letters a, b, c and of the sentence marks.
inline constexpr int32_t kA = 8, kB = 424, kC = 840, kPause = 24;
inline constexpr std::size_t kUnitSamples = 50;

class EngineDir {
 public:
  EngineDir() {
    std::filesystem::copy_file(VESK_ENGINE_LIBRARY,
                               dir.path() / vesk::host::kEngineFileName);
  }
  void AddVoice(const std::string& name, int32_t rate,
                std::size_t samplesPerUnit = kUnitSamples) {
    dir.Write(name + ".vl",
              BuildMarkerVoice(rate, {kA, kB, kC, kPause}, samplesPerUnit));
  }
  std::string path() const { return dir.path().string(); }
  TempDir dir;
};

// The samples the marker voice plays for a sequence of units.
inline std::vector<int16_t> Expected(const std::vector<int32_t>& units,
                                     std::size_t perUnit = kUnitSamples,
                                     int gain = 1) {
  std::vector<int16_t> out;
  for (int32_t unit : units)
    out.insert(out.end(), perUnit, int16_t(unit * gain));
  return out;
}

}  // namespace vesk::test
