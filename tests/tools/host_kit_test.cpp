// The host kit (tools/common/): loading the engine by path, listing its
// voices, and the streaming front of the text preparation.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine_library.h"
#include "english_words.h"
#include "host_text.h"
#include "prepared_stream.h"
#include "text_prep.h"
#include "tools/marker_engine.h"

namespace vesk::test {
namespace {

namespace host = vesk::host;

TEST(HostKit, LoadsTheEngineAndResolvesEveryExport) {
  EngineDir engine;
  host::EngineLibrary library(engine.dir.path() / host::kEngineFileName);
  ASSERT_TRUE(library.ok()) << library.error();
#define VESK_EXPECT_RESOLVED(verb) \
  EXPECT_NE(library.api().verb, nullptr) << #verb;
  VESK_FOR_EACH_EXPORT(VESK_EXPECT_RESOLVED)
#undef VESK_EXPECT_RESOLVED
}

TEST(HostKit, RefusesWhatIsNoEngineAndSaysWhy) {
  TempDir dir;
  host::EngineLibrary garbage(dir.Write("libvesksynth.so", "not a library"));
  EXPECT_FALSE(garbage.ok());
  EXPECT_FALSE(garbage.error().empty());
  // A real library without the exports.
  host::EngineLibrary foreign("libm.so.6");
  EXPECT_FALSE(foreign.ok());
  EXPECT_NE(foreign.error().find("is not a Vesk engine: no export VeskSynth"),
            std::string::npos)
      << foreign.error();
}

TEST(HostKit, ListsTheVoicesOfTheLoadedEngine) {
  EngineDir engine;
  engine.AddVoice("beta", 16000);
  engine.AddVoice("alpha", 22050);
  host::EngineLibrary library(engine.dir.path() / host::kEngineFileName);
  ASSERT_TRUE(library.ok()) << library.error();
  ASSERT_TRUE(library.api().Initialize(nullptr));
  EXPECT_EQ(host::VoiceNames(library.api()),
            (std::vector<std::u16string>{u"alpha", u"beta"}));
  library.api().Uninitialize();
}

TEST(HostKit, EngineDirectoriesDependOnlyOnWhereTheHostIsInstalled) {
  const auto programs = host::EngineDirectories(host::HostPlace::kProgram);
  const auto module =
      host::EngineDirectories(host::HostPlace::kSpeechDispatcherModule);
  ASSERT_EQ(programs.size(), 3u);
  ASSERT_EQ(module.size(), 3u);
  EXPECT_NE(programs[0], module[0]);  // bin/ or the module directory
  EXPECT_EQ(programs[1], module[1]);  // the build tree's
  EXPECT_EQ(programs[2], module[2]);  // the install prefix's
}

// A host that is itself a library finds the engine beside its own file: the
// kit is linked into this program, so that is the program's directory.
TEST(HostKit, ALibraryHostFindsTheEngineBesideTheModuleTheKitIsIn) {
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(host::EngineDirectories(host::HostPlace::kBesideModule),
            std::vector<std::filesystem::path>{self.parent_path()});
}

// Text without its line breaks, which the engine does not hear.
std::u16string Heard(std::u16string text) {
  std::erase(text, u'\n');
  return text;
}

// Texts cut at line breaks are heard as the whole would be: the pause a line
// break owes is said at the start of the next piece that says something.
TEST(PreparedStream, PiecesCutAtLineBreaksReadAsTheWholeText) {
  for (const std::u16string& text : {std::u16string(u"你好\n再见"),
                                     std::u16string(u"第一行\n\n\n第二行。\n"),
                                     std::u16string(u"价格¥100\n-3℃\n3.14"),
                                     std::u16string(u"结束。\n开始")}) {
    host::PreparedStream stream;
    std::u16string pieces;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = std::min(text.find(u'\n', at), text.size() - 1);
      stream.Append(std::u16string_view(text).substr(at, end + 1 - at));
      pieces += stream.Take(false);
      at = end + 1;
    }
    pieces += stream.Take(true);
    EXPECT_EQ(Heard(pieces), Heard(textprep::PrepareText(text)))
        << testing::PrintToString(host::ToUtf8(text));
  }
}

TEST(PreparedStream, RawModeHandsTheTextOnUntouched) {
  host::PreparedStream stream(false);
  stream.Append(u"-3℃\n¥100");
  EXPECT_EQ(stream.Take(false), u"-3℃\n");
  EXPECT_EQ(stream.Take(true), u"¥100");
}

// ---- English words -------------------------------------------------------

struct SpanCase {
  std::u16string text;
  std::vector<host::TextSpan> spans;
};

TEST(EnglishWords, WordsGoToTheEnglishVoiceAcronymsAndLettersStaySpelled) {
  const std::vector<SpanCase> cases = {
      {u"Firefox USB", {{u"Firefox", true}, {u" USB", false}}},
      {u"左 Control 键",
       {{u"左 ", false}, {u"Control", true}, {u" 键", false}}},
      {u"NVDA的email", {{u"NVDA的", false}, {u"email", true}}},
      {u"e-mail, don't", {{u"e-mail", true}, {u", ", false}, {u"don't", true}}},
      {u"iPhone", {{u"iPhone", true}}},
      // Capitals, single letters and letters joined to digits: spelled.
      {u"USB ID a B", {{u"USB ID a B", false}}},
      {u"x86_64 COVID-19 mp3", {{u"x86_64 COVID-19 mp3", false}}},
      {u"中文", {{u"中文", false}}},
      {u"", {}},
  };
  for (const auto& c : cases) {
    const auto spans = host::SplitEnglishWords(c.text);
    ASSERT_EQ(spans.size(), c.spans.size()) << host::ToUtf8(c.text);
    std::u16string joined;
    for (std::size_t i = 0; i < spans.size(); ++i) {
      EXPECT_EQ(spans[i].text, c.spans[i].text) << host::ToUtf8(c.text);
      EXPECT_EQ(spans[i].english, c.spans[i].english) << host::ToUtf8(c.text);
      joined += spans[i].text;
    }
    EXPECT_EQ(joined, c.text);
  }
}

TEST(EnglishWords, TheEnglishVoiceSpeaksAtTheVoicesRateAndLoudness) {
  const std::vector<int16_t> quiet = {0, 5, -5, 300, -400, 0};
  EXPECT_DOUBLE_EQ(host::VoicedLoudness(quiet.data(), quiet.size()),
                   std::sqrt((300.0 * 300 + 400.0 * 400) / 2));
  EXPECT_EQ(host::VoicedLoudness(quiet.data(), 1), 0);

  const host::EnglishVoice voice;
  ASSERT_TRUE(voice.ok());
  const auto at16k = voice.Speak(u"Firefox", {.sampleRate = 16000});
  const auto at32k = voice.Speak(u"Firefox", {.sampleRate = 32000});
  ASSERT_GT(at16k.size(), 1000u);
  // Resampled, not cut or padded: twice the rate, twice the samples.
  EXPECT_NEAR(double(at32k.size()) / double(at16k.size()), 2.0, 0.01);
  for (const double loudness : {400.0, 4000.0}) {
    const auto matched =
        voice.Speak(u"Firefox", {.sampleRate = 16000, .loudness = loudness});
    EXPECT_NEAR(double(matched.size()), double(at16k.size()),
                0.01 * double(at16k.size()));
    EXPECT_NEAR(host::VoicedLoudness(matched.data(), matched.size()), loudness,
                loudness * 0.1);
  }
  // Before the engine has been heard: the engine's volume over its default.
  const auto half =
      voice.Speak(u"Firefox", {.sampleRate = 16000, .volumeGain = 0.5});
  EXPECT_NEAR(host::VoicedLoudness(half.data(), half.size()),
              host::VoicedLoudness(at16k.data(), at16k.size()) / 2,
              host::VoicedLoudness(at16k.data(), at16k.size()) * 0.05);
  // Faster speech is shorter.
  const auto fast = voice.Speak(u"Firefox", {.sampleRate = 16000, .rate = 100});
  EXPECT_LT(fast.size(), at16k.size() * 3 / 4);
}

}  // namespace
}  // namespace vesk::test
