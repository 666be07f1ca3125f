#include "support/test_files.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <random>
#include <stdexcept>

#include "platform/platform.h"
#include "voice/voice_file.h"

namespace vesk::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("vesk-test-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + "-" +
                             std::to_string(random() % 100000));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::u16string TempDir::u16path() const { return U16(path_.string()); }

std::filesystem::path TempDir::Write(const std::string& name,
                                     std::string_view bytes) const {
  auto full = path_ / name;
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + full.string());
  return full;
}

std::filesystem::path TempDir::Write(const std::string& name,
                                     const std::vector<uint8_t>& bytes) const {
  return Write(name,
               std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                bytes.size()));
}

std::u16string U16(std::string_view utf8) {
  return platform::Utf8ToUtf16(utf8);
}
std::string U8(std::u16string_view utf16) {
  return platform::Utf16ToUtf8(utf16);
}

std::vector<uint8_t> BuildVoiceFile(
    int32_t sampleRate, const std::map<int32_t, std::vector<int16_t>>& units) {
  std::string error;
  std::vector<uint8_t> bytes = voicefile::Encode(sampleRate, units, error);
  if (bytes.empty()) throw std::invalid_argument("voice file: " + error);
  return bytes;
}

std::vector<int16_t> MarkerSamples(int32_t index, std::size_t count) {
  return std::vector<int16_t>(count, int16_t(index));
}

std::vector<uint8_t> BuildMarkerVoice(int32_t sampleRate,
                                      const std::vector<int32_t>& unitIndices,
                                      std::size_t samplesPerUnit) {
  std::map<int32_t, std::vector<int16_t>> units;
  for (int32_t index : unitIndices)
    units[index] = MarkerSamples(index, samplesPerUnit);
  return BuildVoiceFile(sampleRate, units);
}

}  // namespace vesk::test
