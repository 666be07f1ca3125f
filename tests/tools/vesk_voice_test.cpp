#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <set>
#include <sstream>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "support/test_files.h"
#include "tools/tool_runner.h"
#include "voice/voice.h"
#include "voice_tool.h"

namespace vesk::test {
namespace {

namespace vt = vesk::voicetool;

// silence, a tone, silence: a recording with room around the sound.
std::vector<float> Syllable(int rate, double lead, double sound, double tail,
                            double frequency = 220.0, float amplitude = 0.5f) {
  std::vector<float> out(std::size_t(lead * rate), 0.0f);
  const std::size_t count = std::size_t(sound * rate);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(amplitude * float(std::sin(2 * std::numbers::pi * frequency *
                                             double(i) / rate)));
  }
  out.resize(out.size() + std::size_t(tail * rate), 0.0f);
  return out;
}

void WriteAudio(const std::filesystem::path& path,
                const std::vector<float>& mono, int rate, int channels,
                int format) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::vector<float> frames;
  for (float sample : mono) {
    for (int c = 0; c < channels; ++c) frames.push_back(sample);
  }
  sf_writef_float(file, frames.data(), sf_count_t(mono.size()));
  sf_close(file);
}

std::vector<int16_t> ReadWav16(const std::filesystem::path& path, int& rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  std::vector<int16_t> samples(std::size_t(info.frames));
  sf_readf_short(file, samples.data(), info.frames);
  sf_close(file);
  rate = info.samplerate;
  return samples;
}

ToolRun RunVoiceTool(const std::vector<std::string>& args,
                     const TempDir& scratch) {
  return RunTool(VESK_VOICE_TOOL, args, scratch.path());
}

// ---- Unit names ----------------------------------------------------------

TEST(VoiceUnitNames, NameASyllableByTheEngineIndex) {
  EXPECT_EQ(vt::UnitIndexForName("zhong1"), SyllableUnitIndex("zhong", 1));
  EXPECT_EQ(vt::UnitIndexForName("shi4"), SyllableUnitIndex("shi", 4));
  EXPECT_EQ(vt::UnitIndexForName("Zhong1"), SyllableUnitIndex("zhong", 1));
  EXPECT_EQ(vt::UnitIndexForName("er4"), 1908);
}

TEST(VoiceUnitNames, TakeZeroAndFiveAsTheNeutralTone) {
  EXPECT_EQ(vt::UnitIndexForName("ma0"), SyllableUnitIndex("ma", 0));
  EXPECT_EQ(vt::UnitIndexForName("ma5"), SyllableUnitIndex("ma", 0));
  EXPECT_EQ(vt::UnitIndexForName("ma"), SyllableUnitIndex("ma", 0));
}

TEST(VoiceUnitNames, TakeUmlautAndVAlike) {
  const int32_t lv4 = SyllableUnitIndex("lv", 4);
  EXPECT_EQ(vt::UnitIndexForName("lv4"), lv4);
  EXPECT_EQ(vt::UnitIndexForName("l\xC3\xBC"
                                 "4"),
            lv4);  // lü4
  EXPECT_EQ(vt::UnitIndexForName("L\xC3\x9C"
                                 "4"),
            lv4);  // LÜ4
  EXPECT_EQ(vt::UnitIndexForName("nve4"), SyllableUnitIndex("nve", 4));
  EXPECT_EQ(vt::UnitIndexForName("lu\xCC\x88"
                                 "4"),
            lv4);  // decomposed
  EXPECT_NE(vt::UnitIndexForName("lv4"), vt::UnitIndexForName("lu4"));
}

TEST(VoiceUnitNames, ReadToneMarks) {
  EXPECT_EQ(vt::UnitIndexForName("zh\xC5\x8Dng"),  // zhōng
            SyllableUnitIndex("zhong", 1));
  EXPECT_EQ(vt::UnitIndexForName("l\xC7\x9C"),  // lǜ
            SyllableUnitIndex("lv", 4));
  // Decomposed, as macOS stores file names: o + U+0304, u + U+0308 + U+0300.
  EXPECT_EQ(vt::UnitIndexForName("zho\xCC\x84ng"),
            SyllableUnitIndex("zhong", 1));
  EXPECT_EQ(vt::UnitIndexForName("lu\xCC\x88\xCC\x80"),
            SyllableUnitIndex("lv", 4));
  EXPECT_EQ(vt::NfcName("zho\xCC\x84ng"), "zh\xC5\x8Dng");
}

TEST(VoiceUnitNames, NameLettersThePauseAndRawIndices) {
  EXPECT_EQ(vt::UnitIndexForName("letter-a"), LetterUnit('a'));
  EXPECT_EQ(vt::UnitIndexForName("letter-Z"), LetterUnit('z'));
  EXPECT_EQ(vt::UnitIndexForName("pause"), kPunctuationUnit);
  EXPECT_EQ(vt::UnitIndexForName("unit-1234"), 1234);
  EXPECT_EQ(vt::ParseUnitArgument("8449"), 8449);
  EXPECT_EQ(vt::ParseUnitArgument("zhi1"), 8449);
}

TEST(VoiceUnitNames, RejectNamesThatNameNoUnit) {
  for (const char* name :
       {"", "xyz1", "zhong6", "zhong1x", "letter-", "letter-ab", "letter-1",
        "unit-", "unit-x", "unit-10816", "readme", "ma1.backup"}) {
    EXPECT_FALSE(vt::UnitIndexForName(name).has_value()) << name;
  }
}

TEST(VoiceUnitNames, GiveEveryKnownSyllableItsOwnUnit) {
  std::set<int32_t> seen;
  for (const auto& syllable : vt::StandardSyllables()) {
    const int32_t index = SyllableUnitIndex(syllable, 0);
    ASSERT_GE(index, 0) << syllable;
    EXPECT_TRUE(seen.insert(index).second) << syllable << " shares a unit";
  }
  EXPECT_GT(seen.size(), 400u);
}

TEST(VoiceUnitNames, NameUnitsSoThatTheNameLeadsBack) {
  for (const auto& syllable : vt::StandardSyllables()) {
    for (int tone = 0; tone <= 4; ++tone) {
      const int32_t index = SyllableUnitIndex(syllable, tone);
      EXPECT_EQ(vt::UnitIndexForName(vt::NameOfUnit(index)), index)
          << syllable << tone;
    }
  }
  for (char c = 'a'; c <= 'z'; ++c) {
    const int32_t index = LetterUnit(c);
    EXPECT_EQ(vt::NameOfUnit(index), std::string("letter-") + c);
  }
  EXPECT_EQ(vt::NameOfUnit(24), "pause");
  EXPECT_EQ(vt::NameOfUnit(8449), "zhi1");
  EXPECT_EQ(vt::NameOfUnit(7), "unit-7");
}

TEST(VoiceUnitNames, SpellSyllablesAsEspeakReadsThem) {
  EXPECT_EQ(vt::EspeakSpelling("jv", 1), "ju1");
  EXPECT_EQ(vt::EspeakSpelling("xve", 2), "xue2");
  EXPECT_EQ(vt::EspeakSpelling("yvan", 3), "yuan3");
  EXPECT_EQ(vt::EspeakSpelling("lv", 4), "lv4");
  EXPECT_EQ(vt::EspeakSpelling("nve", 4), "nve4");
  EXPECT_EQ(vt::EspeakSpelling("ma", 0), "ma5");
}

// ---- The file layout -----------------------------------------------------

TEST(VoiceLibraryFile, LoadsInTheEngineWithEveryUnitIntact) {
  vt::VoiceLibrary library;
  library.sampleRate = 22050;
  library.units[24] = std::vector<int16_t>(100, 0);
  library.units[8] = {1, -2, 3};
  library.units[8449] = {32767, -32768, 0, 7};
  std::string error;
  const auto bytes = vt::EncodeVoiceLibrary(library, error);
  ASSERT_FALSE(bytes.empty()) << error;
  TempDir dir;
  const auto path = dir.Write("v.vl", bytes);
  Voice voice;
  ASSERT_TRUE(voice.Load(dir.u16path() + u"/v.vl", [](int32_t, auto&) {}));
  EXPECT_EQ(voice.sampleRate, 22050);
  EXPECT_EQ(voice.units.size(), 3u);
  const auto loaded = vt::LoadVoiceLibrary(path, error);
  ASSERT_TRUE(loaded) << error;
  for (const auto& [index, samples] : library.units) {
    EXPECT_EQ(vt::UnitSamples(*loaded, index), samples) << index;
  }
}

TEST(VoiceLibraryFile, KeepsALoneUnitThatSitsInTheLastTableEntry) {
  vt::VoiceLibrary library;
  library.units[5] = {10, 20};
  std::string error;
  const auto bytes = vt::EncodeVoiceLibrary(library, error);
  TempDir dir;
  dir.Write("one.vl", bytes);
  Voice voice;
  ASSERT_TRUE(voice.Load(dir.u16path() + u"/one.vl", [](int32_t, auto&) {}));
  EXPECT_TRUE(voice.HasUnit(5));
}

TEST(VoiceLibraryFile, RefusesAVoiceWithoutUnits) {
  vt::VoiceLibrary library;
  library.units[3] = {};
  std::string error;
  EXPECT_TRUE(vt::EncodeVoiceLibrary(library, error).empty());
  EXPECT_FALSE(error.empty());
}

// ---- Audio preparation ---------------------------------------------------

TEST(VoiceAudio, TrimKeepsTheSoundAndASmallMargin) {
  auto samples = Syllable(16000, 0.1, 0.2, 0.1);
  ASSERT_TRUE(vt::TrimSilence(samples, 16000, 80));
  EXPECT_GE(samples.size(), 3200u);
  EXPECT_LE(samples.size(), 3200u + 2 * 80 + 2 * 80);
}

TEST(VoiceAudio, TrimReportsARecordingOfSilence) {
  std::vector<float> samples(16000, 0.0f);
  EXPECT_FALSE(vt::TrimSilence(samples, 16000, 80));
  EXPECT_TRUE(samples.empty());
}

TEST(VoiceAudio, FadesBringBothEdgesToZero) {
  std::vector<float> samples(1000, 0.5f);
  vt::ApplyFades(samples, 80);
  EXPECT_LT(std::abs(samples.front()), 0.01f);
  EXPECT_LT(std::abs(samples.back()), 0.01f);
  EXPECT_FLOAT_EQ(samples[500], 0.5f);
}

TEST(VoiceAudio, ResamplingKeepsTheDuration) {
  std::string error;
  const auto out =
      vt::Resample(Syllable(22050, 0, 1.0, 0), 22050, 16000, error);
  ASSERT_TRUE(out) << error;
  EXPECT_NEAR(double(out->size()), 16000.0, 4.0);
}

TEST(VoiceAudio, HighPassRemovesAnOffset) {
  std::vector<float> samples(16000, 0.2f);
  vt::HighPass(samples, 16000, 60);
  for (std::size_t i = 15000; i < samples.size(); ++i) {
    ASSERT_LT(std::abs(samples[i]), 0.01f) << i;
  }
}

// ---- The executable ------------------------------------------------------

class VeskVoiceTool : public ::testing::Test {
 protected:
  void Record(const std::string& name, const std::vector<float>& mono,
              int rate = 22050, int channels = 1,
              int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    WriteAudio(recordings.path() / name, mono, rate, channels, format);
  }
  TempDir recordings;
  TempDir scratch;
};

TEST_F(VeskVoiceTool, BuildsAVoiceThatInfoDescribesAndExtractGivesBack) {
  Record("zhong1.wav", Syllable(44100, 0.1, 0.25, 0.1), 44100, 2);
  Record("ma5.flac", Syllable(22050, 0.1, 0.2, 0.1, 330), 22050, 1,
         SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  Record(
      "l\xC3\xBC"
      "4.wav",
      Syllable(16000, 0.05, 0.2, 0.05, 440));
  Record("letter-a.wav", Syllable(22050, 0.1, 0.3, 0.1, 550));
  Record("pause.wav", std::vector<float>(22050 / 5, 0.0f));
  recordings.Write("readme.txt", "not audio");
  const auto output = scratch.path() / "v.vl";

  const ToolRun build = RunVoiceTool(
      {"build", recordings.path().string(), "-o", output.string(), "--trim"},
      scratch);
  ASSERT_EQ(build.exitCode, 0) << build.err;
  EXPECT_NE(build.err.find("readme.txt: not a unit name"), std::string::npos)
      << build.err;

  std::string error;
  const auto voice = vt::LoadVoiceLibrary(output, error);
  ASSERT_TRUE(voice) << error;
  EXPECT_EQ(voice->sampleRate, 16000);
  std::set<int32_t> indices;
  for (const auto& [index, location] : voice->units) indices.insert(index);
  EXPECT_EQ(indices, (std::set<int32_t>{SyllableUnitIndex("zhong", 1),
                                        SyllableUnitIndex("ma", 0),
                                        SyllableUnitIndex("lv", 4),
                                        LetterUnit('a'), kPunctuationUnit}));
  // Trimmed to the tone (0.25 s) and a few ms; the pause is kept whole.
  const auto zhong = vt::UnitSamples(*voice, SyllableUnitIndex("zhong", 1));
  EXPECT_GE(zhong.size(), 4000u);
  EXPECT_LE(zhong.size(), 4000u + 640u);
  EXPECT_NEAR(double(vt::UnitSamples(*voice, kPunctuationUnit).size()), 3200.0,
              4.0);

  const ToolRun info = RunVoiceTool({"info", output.string()}, scratch);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("sample rate: 16000 Hz"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("units:       5"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("letters:     1 of 26"), std::string::npos);
  EXPECT_NE(info.out.find("pause:       yes"), std::string::npos);
  EXPECT_NE(info.out.find("damaged:     none"), std::string::npos);

  const auto wav = scratch.path() / "zhong.wav";
  const ToolRun extract = RunVoiceTool(
      {"extract", output.string(), "zhong1", "-o", wav.string()}, scratch);
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  int rate = 0;
  EXPECT_EQ(ReadWav16(wav, rate), zhong);
  EXPECT_EQ(rate, 16000);

  const auto byNumber = scratch.path() / "ma.wav";
  const ToolRun extractNumber = RunVoiceTool(
      {"extract", output.string(), std::to_string(SyllableUnitIndex("ma", 0)),
       "-o", byNumber.string()},
      scratch);
  ASSERT_EQ(extractNumber.exitCode, 0) << extractNumber.err;
  EXPECT_EQ(ReadWav16(byNumber, rate),
            vt::UnitSamples(*voice, SyllableUnitIndex("ma", 0)));

  // Every unit at once, under the names build reads back.
  const auto folder = scratch.path() / "all";
  const ToolRun extractAll = RunVoiceTool(
      {"extract", output.string(), "--all", "-o", folder.string()}, scratch);
  ASSERT_EQ(extractAll.exitCode, 0) << extractAll.err;
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"zhong1.wav", "ma0.wav", "lv4.wav",
                                          "letter-a.wav", "pause.wav"}));
  EXPECT_EQ(ReadWav16(folder / "zhong1.wav", rate), zhong);
}

TEST_F(VeskVoiceTool, RefusesTwoRecordingsOfOneUnit) {
  Record("ma0.wav", Syllable(16000, 0, 0.1, 0));
  Record("ma5.wav", Syllable(16000, 0, 0.1, 0));
  const auto output = scratch.path() / "v.vl";
  const ToolRun build = RunVoiceTool(
      {"build", recordings.path().string(), "-o", output.string()}, scratch);
  EXPECT_NE(build.exitCode, 0);
  EXPECT_NE(build.err.find("both name the unit ma0"), std::string::npos)
      << build.err;
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(VeskVoiceTool, ReportsWhatTheDictionariesNeedAndTheVoiceLacks) {
  Record("zhong1.wav", Syllable(16000, 0, 0.1, 0));
  const auto chars =
      scratch.Write("pinyin.txt", "U+4E2D: zh\xC5\x8Dng,zh\xC3\xB2ng  # x\n");
  const auto words = scratch.Write("phrases.txt",
                                   "\xE9\xA9\xAC\xE4\xB8\x8A: m\xC7\x8E "
                                   "sh\xC3\xA0ng\n");  // 马上: mǎ shàng
  const auto output = scratch.path() / "v.vl";
  const ToolRun build =
      RunVoiceTool({"build", recordings.path().string(), "-o", output.string(),
                    "--dict", chars.string(), "--dict", words.string()},
                   scratch);
  ASSERT_EQ(build.exitCode, 0) << build.err;
  EXPECT_NE(build.out.find("4 toned syllables"), std::string::npos)
      << build.out;
  EXPECT_NE(build.out.find("missing in their own tone (3): shang4 ma3 zhong4"),
            std::string::npos)
      << build.out;
  EXPECT_NE(build.out.find("silent, no tone recorded (2): shang4 ma3"),
            std::string::npos)
      << build.out;
  EXPECT_NE(build.out.find("letters: 0 of 26, pause: missing"),
            std::string::npos);

  const ToolRun syllables = RunVoiceTool(
      {"syllables", "--dict", chars.string(), "--dict", words.string()},
      scratch);
  ASSERT_EQ(syllables.exitCode, 0) << syllables.err;
  EXPECT_EQ(syllables.out, "ma\nshang\nzhong\n");

  const ToolRun toned = RunVoiceTool({"syllables", "--toned", "--dict",
                                      chars.string(), "--dict", words.string()},
                                     scratch);
  ASSERT_EQ(toned.exitCode, 0) << toned.err;
  std::set<std::string> units;
  std::istringstream lines(toned.out);
  for (std::string line; std::getline(lines, line);) units.insert(line);
  EXPECT_EQ(units,
            (std::set<std::string>{"ma3", "shang4", "zhong1", "zhong4"}));
}

TEST_F(VeskVoiceTool, RejectsBadNumbersAndMissingArguments) {
  Record("ma1.wav", Syllable(16000, 0, 0.1, 0));
  const auto output = (scratch.path() / "v.vl").string();
  const auto dir = recordings.path().string();
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"build", dir, "-o", output, "--rate", "abc"},
           {"build", dir, "-o", output, "--rate", "100"},
           {"build", dir, "-o", output, "--fade-ms", "-1"},
           {"build", dir, "-o", output, "--normalize", "3"},
           {"build", dir},
           {"info"},
           {"extract", output},
           {"extract", output, "--all"},
           {"extract", output, "ma1", "--all", "-o", dir},
           {"syllables", "--toned"},
           {"frobnicate"},
           {}}) {
    const ToolRun run = RunVoiceTool(args, scratch);
    EXPECT_NE(run.exitCode, 0) << testing::PrintToString(args);
    EXPECT_NE(run.exitCode, -1) << "crashed: " << testing::PrintToString(args);
    EXPECT_FALSE(run.err.empty()) << testing::PrintToString(args);
  }
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(VeskVoiceTool, FailsCleanlyOnMissingDamagedAndForeignFiles) {
  Record("ma1.wav", Syllable(16000, 0, 0.1, 0));
  const auto wav = (recordings.path() / "ma1.wav").string();
  const auto shortFile =
      scratch.Write("short.vl", std::string(27, '\0')).string();
  const auto noise =
      scratch.Write("noise.vl", std::string(4096, '\xFF')).string();
  const auto missing = (scratch.path() / "missing.vl").string();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {{"info", missing}, "no such file"},
           {{"info", scratch.path().string()}, "not a file"},
           {{"info", wav}, "not a voice library"},
           {{"info", shortFile}, "not a voice library"},
           {{"info", noise}, "not a voice library"},
           {{"extract", wav, "ma1"}, "not a voice library"},
           {{"extract", noise, "ma1"}, "not a voice library"},
           {{"build", missing, "-o", missing}, "not a directory"}}) {
    const ToolRun run = RunVoiceTool(c.args, scratch);
    EXPECT_EQ(run.exitCode, 1) << testing::PrintToString(c.args);
    EXPECT_NE(run.err.find(c.message), std::string::npos)
        << testing::PrintToString(c.args) << ": " << run.err;
  }
}

// A voice cut short: the engine skips what lies past the end, and info says
// how much of the voice is gone.
TEST_F(VeskVoiceTool, InfoCountsUnitsLostToACutFile) {
  vt::VoiceLibrary voice;
  for (int32_t unit : {kPunctuationUnit, SyllableUnitIndex("ma", 1),
                       SyllableUnitIndex("zhong", 1)}) {
    voice.units[unit] = std::vector<int16_t>(400, 1000);
  }
  std::string error;
  const std::vector<uint8_t> bytes = vt::EncodeVoiceLibrary(voice, error);
  ASSERT_FALSE(bytes.empty()) << error;
  const std::size_t tableEnd = bytes.size() - 3 * 800;
  const auto whole = scratch.Write("whole.vl", bytes);
  const auto half = scratch.Write(
      "half.vl",
      std::vector<uint8_t>(bytes.begin(),
                           bytes.begin() + std::ptrdiff_t(tableEnd + 1000)));
  const auto inTable = scratch.Write(
      "table.vl",
      std::vector<uint8_t>(bytes.begin(),
                           bytes.begin() + std::ptrdiff_t(tableEnd / 2)));

  const ToolRun intact = RunVoiceTool({"info", whole.string()}, scratch);
  ASSERT_EQ(intact.exitCode, 0) << intact.err;
  EXPECT_NE(intact.out.find("damaged:     none"), std::string::npos)
      << intact.out;
  const ToolRun cut = RunVoiceTool({"info", half.string()}, scratch);
  ASSERT_EQ(cut.exitCode, 0) << cut.err;
  EXPECT_NE(cut.out.find("units:       1\n"), std::string::npos) << cut.out;
  EXPECT_NE(cut.out.find("2 units point past the end of the file (it is 1400 "
                         "bytes short)"),
            std::string::npos)
      << cut.out;
  const ToolRun table = RunVoiceTool({"info", inTable.string()}, scratch);
  EXPECT_EQ(table.exitCode, 1);
  EXPECT_NE(table.err.find("damaged: the file ends inside its unit table (" +
                           std::to_string(tableEnd / 2) + " of at least " +
                           std::to_string(tableEnd) + " bytes)"),
            std::string::npos)
      << table.err;
}

TEST_F(VeskVoiceTool, ListsTheWholeCoverageWithAll) {
  Record("zhong1.wav", Syllable(16000, 0, 0.1, 0));
  std::string dictionary;
  const auto& syllables = vt::StandardSyllables();
  for (std::size_t i = 0; i < 50; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "U+4E%02zX: ", i);
    dictionary += code + syllables[i] + "\n";  // neutral tone
  }
  const auto chars = scratch.Write("pinyin.txt", dictionary);
  const auto output = scratch.path() / "v.vl";
  const ToolRun built = RunVoiceTool(
      {"build", recordings.path().string(), "-o", output.string()}, scratch);
  ASSERT_EQ(built.exitCode, 0) << built.err;
  const ToolRun shortList = RunVoiceTool(
      {"info", output.string(), "--dict", chars.string()}, scratch);
  ASSERT_EQ(shortList.exitCode, 0) << shortList.err;
  EXPECT_NE(shortList.out.find("(10 more; --all lists them)"),
            std::string::npos)
      << shortList.out;
  const ToolRun all = RunVoiceTool(
      {"info", output.string(), "--dict", chars.string(), "--all"}, scratch);
  ASSERT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(all.out.find("more"), std::string::npos) << all.out;
  for (std::size_t i = 0; i < 50; ++i) {
    EXPECT_NE(all.out.find(" " + syllables[i] + "0"), std::string::npos)
        << syllables[i];
  }
}

TEST_F(VeskVoiceTool, ExtractNamesAUnitTheVoiceLacks) {
  Record("ma1.wav", Syllable(16000, 0, 0.1, 0));
  const auto output = (scratch.path() / "v.vl").string();
  ASSERT_EQ(
      RunVoiceTool({"build", recordings.path().string(), "-o", output}, scratch)
          .exitCode,
      0);
  const ToolRun missing = RunVoiceTool({"extract", output, "ma2"}, scratch);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("has no unit ma2"), std::string::npos)
      << missing.err;
  const ToolRun nonsense = RunVoiceTool({"extract", output, "qqq9"}, scratch);
  EXPECT_EQ(nonsense.exitCode, 1);
  EXPECT_NE(nonsense.err.find("names no unit"), std::string::npos);
}

TEST(VoiceInspection, FlagsOddSilentClippedAndOverlappingUnits) {
  const int32_t good = SyllableUnitIndex("ba", 1);
  const int32_t silent = SyllableUnitIndex("ma", 1);
  const int32_t clipped = SyllableUnitIndex("da", 1);
  const int32_t odd = SyllableUnitIndex("ta", 1);
  const int32_t overlapping = SyllableUnitIndex("na", 1);
  std::map<int32_t, std::vector<int16_t>> units;
  std::vector<int16_t> tone;
  for (int i = 0; i < 200; ++i) tone.push_back(int16_t(1000 * (i % 7) - 3000));
  units[good] = tone;
  units[silent] = std::vector<int16_t>(200, 0);
  units[clipped] = tone;
  for (int i = 50; i < 60; ++i) units[clipped][i] = 32767;
  units[odd] = tone;
  units[overlapping] = tone;
  units[kPunctuationUnit] = std::vector<int16_t>(200, 0);
  auto bytes = BuildVoiceFile(16000, units);
  const auto put = [&](std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
  };
  put(24 + 8 * std::size_t(odd) + 4, 399);
  // The overlapping unit starts inside the good one.
  const uint32_t goodOffset =
      bytes[24 + 8 * good] | (bytes[24 + 8 * good + 1] << 8) |
      (bytes[24 + 8 * good + 2] << 16) | (bytes[24 + 8 * good + 3] << 24);
  put(24 + 8 * std::size_t(overlapping), goodOffset + 100);

  TempDir dir;
  const auto path = dir.Write("damaged.vl", bytes);
  std::string error;
  const auto voice = vt::LoadVoiceLibrary(path, error);
  ASSERT_TRUE(voice) << error;
  std::map<int32_t, vt::UnitFacts> facts;
  for (const auto& unit : vt::Inspect(*voice).units) facts[unit.index] = unit;
  EXPECT_TRUE(facts[silent].silent);
  EXPECT_TRUE(facts[clipped].clipped);
  EXPECT_TRUE(facts[odd].oddLength);
  EXPECT_TRUE(facts[overlapping].overlapping);
  EXPECT_TRUE(facts[good].overlapping);
  EXPECT_FALSE(facts[kPunctuationUnit].Damaged());
  EXPECT_FALSE(facts[clipped].silent);

  const ToolRun info =
      RunTool(VESK_VOICE_TOOL, {"info", path.string()}, dir.path());
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("ma1 (unit " + std::to_string(silent) + "): silent"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("clipped"), std::string::npos);
  EXPECT_NE(info.out.find("odd length"), std::string::npos);
  EXPECT_NE(info.out.find("overlaps another unit"), std::string::npos);
}

}  // namespace
}  // namespace vesk::test
