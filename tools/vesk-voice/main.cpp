// vesk-voice: builds, inspects and unpacks .vl voice libraries.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>

#include "tool_cli.h"
#include "voice_tool.h"

namespace vt = vesk::voicetool;

namespace {

void ShowProgress(std::size_t done, std::size_t total,
                  const std::string& what) {
  constexpr int kWidth = 30;
  const int filled = total == 0 ? kWidth : int(done * kWidth / total);
  std::fprintf(stderr, "\r[%-*s] %zu/%zu %-24.24s", kWidth,
               std::string(std::size_t(filled), '#').c_str(), done, total,
               what.c_str());
  if (done == total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

std::string Seconds(double seconds) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(1) << seconds << " s";
  return out.str();
}

std::string Megabytes(std::size_t bytes) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << double(bytes) / (1024 * 1024)
      << " MiB";
  return out.str();
}

// How many names a coverage list shows unless --all asks for every one.
constexpr std::size_t kShortList = 40;

// Lists up to limit names, then how many more.
std::string NameList(const std::vector<std::string>& names, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < names.size() && i < limit; ++i) {
    out += (i ? " " : "") + names[i];
  }
  if (names.size() > limit) {
    out += " ... (" + std::to_string(names.size() - limit) +
           " more; --all lists them)";
  }
  return out;
}

// What the dictionaries ask for against what the voice holds.
void ReportCoverage(const vt::DictionaryNeeds& needs,
                    const std::set<int32_t>& recorded, std::size_t limit) {
  std::vector<std::string> exactMissing;
  std::vector<std::string> silent;
  for (int32_t index : needs.units) {
    if (recorded.count(index)) continue;
    exactMissing.push_back(vt::NameOfUnit(index));
    const int32_t base = index - index % 16;
    bool anyTone = false;
    for (int tone = 0; tone <= 4; ++tone) {
      anyTone = anyTone || recorded.count(base + tone);
    }
    if (!anyTone) silent.push_back(vt::NameOfUnit(index));
  }
  std::cout << "dictionaries: " << needs.readings << " readings, "
            << needs.units.size() << " toned syllables on "
            << needs.syllables.size() << " spellings\n";
  std::cout << "  recorded in their own tone: "
            << needs.units.size() - exactMissing.size() << " of "
            << needs.units.size() << "\n";
  if (!exactMissing.empty()) {
    std::cout << "  missing in their own tone (" << exactMissing.size()
              << "): " << NameList(exactMissing, limit) << "\n";
  }
  if (!silent.empty()) {
    std::cout << "  silent, no tone recorded (" << silent.size()
              << "): " << NameList(silent, limit) << "\n";
  }
  if (!needs.unplayable.empty()) {
    std::vector<std::string> names;
    for (const auto& [name, count] : needs.unplayable) {
      names.push_back(name + "x" + std::to_string(count));
    }
    std::cout << "  readings without a unit index (" << names.size()
              << "): " << NameList(names, limit) << "\n";
  }
  int letters = 0;
  for (char c = 'a'; c <= 'z'; ++c) {
    letters +=
        recorded.count(
            vt::UnitIndexForName(std::string("letter-") + c).value_or(-1))
            ? 1
            : 0;
  }
  std::cout << "  letters: " << letters << " of 26, pause: "
            << (recorded.count(vt::kPauseUnit) ? "yes" : "missing") << "\n";
}

std::vector<std::filesystem::path> Paths(const std::vector<std::string>& in) {
  return {in.begin(), in.end()};
}

int RunBuild(const std::string& directory, const std::string& output,
             const vt::BuildOptions& options,
             const std::vector<std::string>& dictionaries, std::size_t limit) {
  vt::DictionaryNeeds needs;
  std::string error;
  if (!vt::CollectDictionaryNeeds(Paths(dictionaries), needs, error)) {
    std::cerr << "vesk-voice: " << error << "\n";
    return 1;
  }
  const bool tty = ::isatty(STDERR_FILENO) != 0;
  vt::BuildResult result = vt::BuildFromDirectory(
      directory, options, tty ? vt::Progress(ShowProgress) : vt::Progress());
  for (const auto& warning : result.warnings) {
    std::cerr << "vesk-voice: warning: " << warning << "\n";
  }
  for (const auto& failure : result.errors) {
    std::cerr << "vesk-voice: error: " << failure << "\n";
  }
  if (!result.errors.empty()) {
    std::cerr << "vesk-voice: nothing written\n";
    return 1;
  }
  const std::vector<uint8_t> bytes =
      vt::EncodeVoiceLibrary(result.voice, error);
  if (bytes.empty() || !vt::WriteFileAtomically(output, bytes, error)) {
    std::cerr << "vesk-voice: " << error << "\n";
    return 1;
  }
  // Read it back as the engine will.
  const auto loaded = vt::LoadVoiceLibrary(output, error);
  if (!loaded || loaded->units.size() != result.voice.units.size()) {
    std::cerr << "vesk-voice: the engine does not read " << output
              << " back: " << error << "\n";
    return 1;
  }
  const vt::VoiceFacts facts = vt::Inspect(*loaded);
  std::cout << "wrote " << output << ": " << facts.units.size() << " units, "
            << facts.sampleRate << " Hz, "
            << Seconds(double(facts.totalSamples) / facts.sampleRate) << ", "
            << Megabytes(bytes.size()) << "\n";
  if (!dictionaries.empty()) {
    std::set<int32_t> recorded;
    for (const auto& [index, location] : loaded->units) recorded.insert(index);
    ReportCoverage(needs, recorded, limit);
  }
  return 0;
}

// The table's damage the engine passes over, in words; empty when none.
std::vector<std::string> DescribeTableDamage(const std::string& path) {
  const auto bytes = vt::ReadWholeFile(path);
  if (!bytes) return {};
  const vt::TableDamage damage = vt::ScanTableDamage(*bytes);
  std::vector<std::string> lines;
  if (damage.tableCut) {
    lines.push_back("the file ends inside its unit table (" +
                    std::to_string(bytes->size()) + " of at least " +
                    std::to_string(damage.tableBytes) + " bytes)");
  }
  if (damage.pastEnd > 0) {
    lines.push_back(std::to_string(damage.pastEnd) +
                    " units point past the end of the file (it is " +
                    std::to_string(damage.missingBytes) +
                    " bytes short); the engine skips them");
  }
  return lines;
}

int RunInfo(const std::string& path,
            const std::vector<std::string>& dictionaries, std::size_t limit) {
  std::string error;
  const auto voice = vt::LoadVoiceLibrary(path, error);
  const std::vector<std::string> tableDamage = DescribeTableDamage(path);
  if (!voice) {
    std::cerr << "vesk-voice: " << error << "\n";
    for (const auto& line : tableDamage) {
      std::cerr << "vesk-voice: damaged: " << line << "\n";
    }
    return 1;
  }
  const vt::VoiceFacts facts = vt::Inspect(*voice);
  std::cout << "file:        " << path << " (" << Megabytes(facts.fileBytes)
            << (facts.builderMark ? ", written by vesk-voice" : "") << ")\n";
  std::cout << "name:        " << std::filesystem::path(path).stem().string()
            << "\n";
  std::cout << "sample rate: " << facts.sampleRate << " Hz\n";
  std::cout << "units:       " << facts.units.size() << "\n";
  std::cout << "audio:       "
            << Seconds(double(facts.totalSamples) / facts.sampleRate) << "\n";
  std::cout << "syllables:   tone 1: " << facts.toneCounts[1]
            << ", tone 2: " << facts.toneCounts[2]
            << ", tone 3: " << facts.toneCounts[3]
            << ", tone 4: " << facts.toneCounts[4]
            << ", neutral: " << facts.toneCounts[0] << " (of "
            << vt::StandardSyllables().size() << " syllables)\n";
  std::cout << "letters:     " << facts.letters << " of 26\n";
  std::cout << "pause:       " << (facts.pause ? "yes" : "missing") << "\n";
  if (facts.other > 0) {
    std::cout << "other units: " << facts.other << "\n";
  }
  std::vector<std::string> damaged = tableDamage;
  for (const auto& unit : facts.units) {
    if (!unit.Damaged()) continue;
    std::string what = vt::NameOfUnit(unit.index) + " (unit " +
                       std::to_string(unit.index) + "):";
    if (unit.oddLength) what += " odd length";
    if (unit.silent) what += " silent";
    if (unit.clipped) what += " clipped";
    if (unit.overlapping) what += " overlaps another unit";
    damaged.push_back(what);
  }
  std::cout << "damaged:     " << (damaged.empty() ? "none" : "") << "\n";
  for (const auto& line : damaged) std::cout << "  " << line << "\n";
  if (!dictionaries.empty()) {
    vt::DictionaryNeeds needs;
    if (!vt::CollectDictionaryNeeds(Paths(dictionaries), needs, error)) {
      std::cerr << "vesk-voice: " << error << "\n";
      return 1;
    }
    std::set<int32_t> recorded;
    for (const auto& [index, location] : voice->units) recorded.insert(index);
    ReportCoverage(needs, recorded, limit);
  }
  return 0;
}

// Every unit into a folder, one WAV file each, named as the builder reads
// them back (zhong1.wav, letter-a.wav, pause.wav).
int RunExtractAll(const std::string& path, const std::string& folder) {
  std::string error;
  const auto voice = vt::LoadVoiceLibrary(path, error);
  if (!voice) {
    std::cerr << "vesk-voice: " << error << "\n";
    return 1;
  }
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  std::size_t written = 0;
  for (const auto& [index, location] : voice->units) {
    const std::vector<int16_t> samples = vt::UnitSamples(*voice, index);
    if (samples.empty()) continue;
    const auto file =
        std::filesystem::path(folder) / (vt::NameOfUnit(index) + ".wav");
    if (!vt::WriteWav(file, samples, voice->sampleRate, error)) {
      std::cerr << "vesk-voice: " << error << "\n";
      return 1;
    }
    ++written;
  }
  std::cout << "wrote " << written << " units into " << folder << "\n";
  return 0;
}

int RunExtract(const std::string& path, const std::string& unitName,
               std::string output) {
  const auto index = vt::ParseUnitArgument(unitName);
  if (!index) {
    std::cerr << "vesk-voice: " << unitName
              << " names no unit (try zhong1, ma5, lv4, letter-a, pause or a "
                 "number)\n";
    return 1;
  }
  std::string error;
  const auto voice = vt::LoadVoiceLibrary(path, error);
  if (!voice) {
    std::cerr << "vesk-voice: " << error << "\n";
    return 1;
  }
  const std::vector<int16_t> samples = vt::UnitSamples(*voice, *index);
  if (samples.empty()) {
    std::cerr << "vesk-voice: " << path << " has no unit "
              << vt::NameOfUnit(*index) << " (index " << *index << ")\n";
    return 1;
  }
  if (output.empty()) output = vt::NameOfUnit(*index) + ".wav";
  if (!vt::WriteWav(output, samples, voice->sampleRate, error)) {
    std::cerr << "vesk-voice: " << error << "\n";
    return 1;
  }
  std::cout << "wrote " << output << ": " << vt::NameOfUnit(*index) << " (unit "
            << *index << "), " << samples.size() << " samples, "
            << Seconds(double(samples.size()) / voice->sampleRate) << "\n";
  return 0;
}

// The toned units the dictionaries' readings need, one name a line (zhong1,
// ma0): what a voice's coverage is counted against.
int RunToneUnits(const std::vector<std::string>& dictionaries) {
  vt::DictionaryNeeds needs;
  std::string error;
  if (!vt::CollectDictionaryNeeds(Paths(dictionaries), needs, error)) {
    std::cerr << "vesk-voice: " << error << "\n";
    return 1;
  }
  for (const int32_t index : needs.units) {
    std::cout << vt::NameOfUnit(index) << "\n";
  }
  return 0;
}

int RunSyllables(const std::vector<std::string>& dictionaries, bool espeak,
                 bool toned) {
  if (toned) return RunToneUnits(dictionaries);
  std::set<std::string> syllables;
  if (dictionaries.empty()) {
    syllables.insert(vt::StandardSyllables().begin(),
                     vt::StandardSyllables().end());
  } else {
    vt::DictionaryNeeds needs;
    std::string error;
    if (!vt::CollectDictionaryNeeds(Paths(dictionaries), needs, error)) {
      std::cerr << "vesk-voice: " << error << "\n";
      return 1;
    }
    syllables = needs.syllables;
  }
  for (const auto& syllable : syllables) {
    if (!espeak) {
      std::cout << syllable << "\n";
      continue;
    }
    for (int tone = 0; tone <= 4; ++tone) {
      std::cout << syllable << tone << " " << vt::EspeakSpelling(syllable, tone)
                << "\n";
    }
  }
  if (espeak) {
    for (char c = 'a'; c <= 'z'; ++c) {
      std::cout << "letter-" << c << " " << char(c - 'a' + 'A') << "\n";
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vesk-voice: builds and inspects .vl voice libraries"};
  vesk::tool::AddVersionFlag(app, "vesk-voice");
  app.require_subcommand(1);

  std::string directory;
  std::string output;
  std::vector<std::string> dictionaries;
  vt::BuildOptions options;
  auto* build = app.add_subcommand(
      "build",
      "Packs a folder of recordings into a voice library. Files are named "
      "by unit: zhong1.wav, ma5.wav or ma0.wav (neutral tone), lv4.wav or "
      "lü4.wav, letter-a.wav .. letter-z.wav, pause.wav; any format "
      "libsndfile reads.");
  build->add_option("directory", directory, "Folder of recordings")->required();
  build->add_option("-o,--output", output, "Voice library to write (.vl)")
      ->required();
  build->add_option("--rate", options.sampleRate, "Sample rate of the voice")
      ->check(CLI::Range(4000, 192000));
  build->add_flag("--trim", options.trim,
                  "Cut leading and trailing silence from every unit");
  auto* fade = build
                   ->add_option("--fade-ms", options.fadeMs,
                                "Fade at cut unit edges, in ms (default 5)")
                   ->check(CLI::Range(0.0, 100.0));
  build
      ->add_option("--highpass", options.highPassHz,
                   "High-pass filter cut-off in Hz (default 0: off)")
      ->check(CLI::Range(0.0, 2000.0));
  build
      ->add_option("--normalize", options.normalizeDb,
                   "Scale the whole voice so its loudest sample is at this "
                   "level in dBFS (e.g. -3)")
      ->check(CLI::Range(-60.0, 0.0));
  build
      ->add_option("--pause-ms", options.pauseMs,
                   "Silence for the pause unit when there is no pause file")
      ->check(CLI::Range(0.0, 5000.0));
  build
      ->add_option("--dict", dictionaries,
                   "pinyin.txt / phrases.txt to report missing syllables")
      ->check(CLI::ExistingFile);
  bool buildAll = false;
  build->add_flag("--all", buildAll,
                  "List every missing syllable in the coverage");

  std::string infoPath;
  std::vector<std::string> infoDictionaries;
  auto* info = app.add_subcommand("info", "Describes a voice library");
  info->add_option("file", infoPath, "Voice library (.vl)")->required();
  info->add_option("--dict", infoDictionaries,
                   "Report coverage of these dictionaries")
      ->check(CLI::ExistingFile);
  bool all = false;
  info->add_flag("--all", all, "List every missing syllable in the coverage");

  std::string extractPath;
  std::string unitName;
  std::string extractOutput;
  auto* extract =
      app.add_subcommand("extract", "Writes one unit of a voice to WAV");
  extract->add_option("file", extractPath, "Voice library (.vl)")->required();
  auto* unitOption = extract->add_option(
      "unit", unitName, "zhong1, ma5, lv4, letter-a, pause or a unit index");
  bool extractAll = false;
  auto* allOption = extract->add_flag(
      "--all", extractAll, "Every unit, into the folder given with -o");
  extract->add_option("-o,--output", extractOutput,
                      "WAV file (default: <unit>.wav); with --all, a folder");
  unitOption->excludes(allOption);
  extract->callback([&] {
    if (!extractAll && unitName.empty()) {
      throw CLI::RequiredError("unit (or --all)");
    }
    if (extractAll && extractOutput.empty()) {
      throw CLI::RequiredError("--output with --all");
    }
  });

  std::vector<std::string> syllableDictionaries;
  bool espeak = false;
  bool toned = false;
  auto* syllables = app.add_subcommand(
      "syllables",
      "Lists the syllables a voice needs (all standard ones, or those the "
      "dictionaries use)");
  syllables->add_option("--dict", syllableDictionaries, "Dictionary files")
      ->check(CLI::ExistingFile);
  syllables->add_flag("--espeak", espeak,
                      "Print \"unit text\" lines for all five tones and the "
                      "letters, as espeak-ng's pinyin voice reads them");
  syllables
      ->add_flag("--toned", toned,
                 "Print every toned unit the dictionaries' readings use "
                 "(zhong1, ma0), one a line")
      ->needs(syllables->get_option("--dict"))
      ->excludes(syllables->get_option("--espeak"));

  if (const auto exit = vesk::tool::ParseCommandLine(app, argc, argv)) {
    return *exit;
  }

  const std::size_t limit =
      all || buildAll ? std::numeric_limits<std::size_t>::max() : kShortList;
  if (*build) {
    options.fadeGiven = fade->count() > 0;
    return RunBuild(directory, output, options, dictionaries, limit);
  }
  if (*info) return RunInfo(infoPath, infoDictionaries, limit);
  if (*extract) {
    return extractAll ? RunExtractAll(extractPath, extractOutput)
                      : RunExtract(extractPath, unitName, extractOutput);
  }
  if (*syllables) return RunSyllables(syllableDictionaries, espeak, toned);
  return 1;
}
