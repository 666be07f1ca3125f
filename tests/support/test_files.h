// Builders shared by the tests: temporary directories, files, voice files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::test {

// A fresh directory removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::u16string u16path() const;
  // Writes bytes to name inside the directory; returns the full path.
  std::filesystem::path Write(const std::string& name,
                              std::string_view bytes) const;
  std::filesystem::path Write(const std::string& name,
                              const std::vector<uint8_t>& bytes) const;

 private:
  std::filesystem::path path_;
};

// UTF-8 literal to UTF-16, for readable test data.
std::u16string U16(std::string_view utf8);
std::string U8(std::u16string_view utf16);

// A .vl file as the voice builder writes it (voicefile::Encode); throws
// std::invalid_argument for units it cannot write.
std::vector<uint8_t> BuildVoiceFile(
    int32_t sampleRate, const std::map<int32_t, std::vector<int16_t>>& units);

// count samples all holding the value index: a unit whose samples tell which
// unit was played.
std::vector<int16_t> MarkerSamples(int32_t index, std::size_t count);

// A voice where every listed unit is MarkerSamples(unit, samplesPerUnit).
std::vector<uint8_t> BuildMarkerVoice(int32_t sampleRate,
                                      const std::vector<int32_t>& unitIndices,
                                      std::size_t samplesPerUnit);

}  // namespace vesk::test
