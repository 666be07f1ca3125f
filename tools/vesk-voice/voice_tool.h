// The voice builder's logic: unit names, audio preparation, the .vl layout
// and its inspection. main.cpp only parses arguments and prints.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/phonetic_tables.h"

namespace vesk::voicetool {

// ---- Unit names ----------------------------------------------------------
//
// A recording's file stem names its unit:
//   zhong1, lv4, lü4, nve4, ma0 or ma5 (neutral tone), zhōng (tone mark)
//   letter-a .. letter-z   the name of a Latin letter
//   pause                  the unit played for sentence marks
//   unit-1234              a raw unit index

inline constexpr int32_t kPauseUnit = kPunctuationUnit;
inline constexpr int32_t kLastUnit = 10815;

// The unit index a file stem names, or nullopt. The name is put in Unicode
// normalisation form C first.
std::optional<int32_t> UnitIndexForName(std::string_view stem);

// A UTF-8 name in normalisation form C (as it is when it cannot be).
std::string NfcName(std::string_view name);

// The canonical name of a unit index: zhong1, ma0, lv4, letter-a, pause or
// unit-N when no standard syllable has it.
std::string NameOfUnit(int32_t index);

// The standard Mandarin syllables (ü written v), one spelling per unit slot.
const std::vector<std::string>& StandardSyllables();

// Canonical spelling of the syllable recorded under index (any tone), or
// empty when none of the standard syllables lands there.
std::string CanonicalSyllable(int32_t index);

// How espeak-ng's Mandarin pinyin voice wants a syllable: tone 0 as 5, ü
// after j, q, x, y written u.
std::string EspeakSpelling(std::string_view pinyin, int32_t tone);

// ---- Dictionaries --------------------------------------------------------

struct DictionaryNeeds {
  // Unit indices of every toned reading that has one.
  std::set<int32_t> units;
  // Base syllables (canonical spelling) whose units are needed.
  std::set<std::string> syllables;
  // Readings with no place in the index space, with how often they occur.
  std::map<std::string, int> unplayable;
  std::size_t readings = 0;
};

// Reads the readings of pinyin.txt / phrases.txt style files with the
// engine's own reading parser. False (with error) when a file cannot be read.
bool CollectDictionaryNeeds(const std::vector<std::filesystem::path>& files,
                            DictionaryNeeds& needs, std::string& error);

// ---- Audio ---------------------------------------------------------------

struct Audio {
  int sampleRate = 0;
  std::vector<float> samples;  // mono, -1..1
};

// Any format libsndfile reads, mixed down to mono.
std::optional<Audio> ReadAudio(const std::filesystem::path& path,
                               std::string& error);

// Band-limited conversion to targetRate.
std::optional<std::vector<float>> Resample(const std::vector<float>& samples,
                                           int fromRate, int targetRate,
                                           std::string& error);

// Second-order Butterworth high-pass at cutoffHz, run from the first sample:
// removes rumble and the offsets that would thump where units meet.
void HighPass(std::vector<float>& samples, int sampleRate, double cutoffHz);

// Cuts leading and trailing silence, keeping marginSamples of lead-in and
// tail. Returns false when nothing but silence is left.
bool TrimSilence(std::vector<float>& samples, int sampleRate,
                 std::size_t marginSamples);

// Raised-cosine fade over the first and last fadeSamples.
void ApplyFades(std::vector<float>& samples, std::size_t fadeSamples);

std::vector<int16_t> ToPcm16(const std::vector<float>& samples,
                             float gain = 1.0f);

bool WriteWav(const std::filesystem::path& path,
              const std::vector<int16_t>& samples, int sampleRate,
              std::string& error);

// ---- Voice library files -------------------------------------------------

struct VoiceLibrary {
  int32_t sampleRate = 16000;
  std::map<int32_t, std::vector<int16_t>> units;
};

// The file bytes, laid out by voicefile::Encode. Empty (with error) when the
// voice cannot be written.
std::vector<uint8_t> EncodeVoiceLibrary(const VoiceLibrary& voice,
                                        std::string& error);

// Writes through a temporary file so a failed write never leaves half a
// voice behind.
bool WriteFileAtomically(const std::filesystem::path& path,
                         const std::vector<uint8_t>& bytes, std::string& error);

struct BuildOptions {
  int sampleRate = 16000;
  bool trim = false;
  double fadeMs = 5.0;
  bool fadeGiven = false;
  double highPassHz = 0;  // 0: off
  // One gain for the whole voice so that its loudest sample lies here (dBFS);
  // unset: left as recorded.
  std::optional<double> normalizeDb;
  // Silence for the pause unit when no pause recording is given; 0: none.
  double pauseMs = 0;
};

struct BuildResult {
  VoiceLibrary voice;
  std::vector<std::string> warnings;
  std::vector<std::string> errors;
  std::map<int32_t, std::filesystem::path> sources;
};

// Progress: (done, total, current file name).
using Progress =
    std::function<void(std::size_t, std::size_t, const std::string&)>;

BuildResult BuildFromDirectory(const std::filesystem::path& directory,
                               const BuildOptions& options,
                               const Progress& progress);

// ---- Inspection ----------------------------------------------------------

struct UnitFacts {
  int32_t index = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
  bool oddLength = false;
  bool silent = false;
  bool clipped = false;
  bool overlapping = false;
  bool Damaged() const { return oddLength || silent || clipped || overlapping; }
};

struct VoiceFacts {
  int32_t sampleRate = 0;
  std::size_t fileBytes = 0;
  bool builderMark = false;
  std::vector<UnitFacts> units;
  uint64_t totalSamples = 0;
  int toneCounts[5] = {0, 0, 0, 0, 0};
  int letters = 0;
  bool pause = false;
  int other = 0;  // indices that are neither a syllable, a letter nor pause
};

struct LoadedVoice {
  int32_t sampleRate = 0;
  std::map<int32_t, std::pair<uint32_t, uint32_t>> units;  // offset, length
  std::vector<uint8_t> data;
};

// Loads with the engine's own loader. A file the engine refuses, or whose
// header is not plausibly a voice (sample rate outside 1000..384000 Hz),
// gives nullopt and a message.
std::optional<LoadedVoice> LoadVoiceLibrary(const std::filesystem::path& path,
                                            std::string& error);

VoiceFacts Inspect(const LoadedVoice& voice);

// What the engine's loader silently passes over in a file's unit table.
struct TableDamage {
  std::size_t pastEnd = 0;    // units that point past the end of the file
  uint64_t missingBytes = 0;  // how much longer the file would have to be
  bool tableCut = false;      // the file ends inside its own table
  uint64_t tableBytes = 0;    // where the table ends, when cut
  bool Any() const { return pastEnd > 0 || tableCut; }
};
TableDamage ScanTableDamage(const std::vector<uint8_t>& data);

std::optional<std::vector<uint8_t>> ReadWholeFile(
    const std::filesystem::path& path);

// A unit's samples (its odd last byte dropped).
std::vector<int16_t> UnitSamples(const LoadedVoice& voice, int32_t index);

// A syllable name, letter-x, pause, unit-N or a plain number to an index.
std::optional<int32_t> ParseUnitArgument(std::string_view text);

}  // namespace vesk::voicetool
