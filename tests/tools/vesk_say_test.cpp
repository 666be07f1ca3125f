#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "say_tool.h"
#include "support/test_files.h"
#include "tools/tool_runner.h"

namespace vesk::test {
namespace {

namespace say = vesk::say;

constexpr int32_t kA = 8, kB = 424, kC = 840, kPause = 24;
constexpr std::size_t kUnitSamples = 50;

// An engine directory as a host finds it: the library and a marker voice
// whose every sample tells which unit is playing.
class EngineDir {
 public:
  EngineDir() {
    std::filesystem::copy_file(VESK_ENGINE_LIBRARY,
                               dir.path() / say::kEngineFileName);
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
std::vector<int16_t> Expected(const std::vector<int32_t>& units,
                              std::size_t perUnit = kUnitSamples,
                              int gain = 1) {
  std::vector<int16_t> out;
  for (int32_t unit : units)
    out.insert(out.end(), perUnit, int16_t(unit * gain));
  return out;
}

std::vector<int16_t> ReadWav(const std::filesystem::path& path, int& rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  std::vector<int16_t> samples(std::size_t(info.frames));
  sf_readf_short(file, samples.data(), info.frames);
  sf_close(file);
  rate = info.samplerate;
  return samples;
}

class VeskSayTool : public ::testing::Test {
 protected:
  ToolRun Say(const std::vector<std::string>& args,
              const std::filesystem::path& input = {}) {
    return RunTool(VESK_SAY_TOOL, args, scratch.path(), input);
  }
  std::string Out(const std::string& name = "out.wav") {
    return (scratch.path() / name).string();
  }
  EngineDir engine;
  TempDir scratch;
};

// ---- Text handling -------------------------------------------------------

TEST(VeskSayText, DecodesUtf8SplitAnywhere) {
  const std::string text =
      "\xEF\xBB\xBF"
      "a\xE4\xB8\xAD\xF0\x9F\x98\x80z";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    say::Utf8Decoder decoder;
    std::u16string out;
    decoder.Feed(text.substr(0, cut), out);
    decoder.Feed(text.substr(cut), out);
    decoder.Finish(out);
    EXPECT_EQ(out, u"a\u4E2D\U0001F600z") << "cut at " << cut;
  }
}

// Read in pieces, text decodes exactly as the engine decodes the same bytes
// whole, invalid ones included, wherever the input is cut.
TEST(VeskSayText, StreamingDecodeIsTheEnginesDecode) {
  const std::string text =
      "\xED\xA0\x80\xE4\xB8\xAD\xE0\x80\x80"
      "a\xF0\x9F\x98\xF4\x90\x80\x80\xC0\xAF\xE4\xB8"
      "b\xED\xAF\xBF\xED\xBF\xBF\xF0\x90\x80\x80\xF8\xE4"
      "Z\xF0\x9F\x98\x80\xE4\xE4\xE4\xE4\x80\x80\x80\x80\x80\xF1\x41";
  const std::u16string whole = platform::Utf8ToUtf16(text);
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    for (std::size_t second = cut; second <= text.size(); ++second) {
      say::Utf8Decoder decoder;
      std::u16string out;
      decoder.Feed(text.substr(0, cut), out);
      decoder.Feed(text.substr(cut, second - cut), out);
      decoder.Feed(text.substr(second), out);
      decoder.Finish(out);
      EXPECT_EQ(out, whole) << "cut at " << cut << " and " << second;
    }
  }
}

TEST(VeskSayText, ReplacesInvalidUtf8) {
  EXPECT_EQ(say::ToUtf16("a\xFF"
                         "b"),
            u"a\uFFFDb");
  EXPECT_EQ(say::ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");      // overlong
  EXPECT_EQ(say::ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(say::ToUtf16("x\xE4\xB8"), u"x\uFFFD");          // cut short
  EXPECT_EQ(say::ToUtf8(u"\u4E2D\xD800"), "\xE4\xB8\xAD\xEF\xBF\xBD");
}

TEST(VeskSayText, CutsAtLineBreaksThenSafeCharacters) {
  EXPECT_EQ(say::NextPieceLength(u"ab\ncd", 10, false), 3u);
  EXPECT_EQ(say::NextPieceLength(u"abcd", 10, false), 0u);
  EXPECT_EQ(say::NextPieceLength(u"abcd", 10, true), 4u);
  EXPECT_EQ(say::NextPieceLength(u"ab\ncd,efgh", 8, false), 3u);
  EXPECT_EQ(say::NextPieceLength(u"abcd,efgh", 8, false), 5u);
  // A run of letters, digits or Chinese characters is never cut while a
  // safe place exists.
  EXPECT_EQ(say::NextPieceLength(u"ab 1234567", 8, false), 3u);
  EXPECT_EQ(
      say::NextPieceLength(u"\u4E2D\u4E2D\u3002\u4E2D\u4E2D\u4E2D", 4, false),
      3u);
  EXPECT_EQ(say::NextPieceLength(u"abcdefgh", 4, false), 4u);
  EXPECT_EQ(say::NextPieceLength(u"abc\U0001F600", 4, false), 3u);
  EXPECT_FALSE(say::HasContent(u" \r\n\t"));
  EXPECT_TRUE(say::HasContent(u" x"));
}

TEST(VeskSayText, FindsTheEngineGivenOrInTheFirstDirectoryThatHoldsIt) {
  EngineDir engine;
  TempDir empty;
  std::string error;
  EXPECT_EQ(say::FindEngine(engine.path(), {}, error),
            engine.dir.path() / say::kEngineFileName);
  EXPECT_EQ(say::FindEngine("", {empty.path(), engine.dir.path()}, error),
            std::filesystem::weakly_canonical(engine.dir.path() /
                                              say::kEngineFileName));
  EXPECT_FALSE(say::FindEngine(empty.path().string(), {}, error));
  EXPECT_NE(error.find("holds no"), std::string::npos);
  EXPECT_FALSE(say::FindEngine("", {empty.path()}, error));
  EXPECT_NE(error.find("--engine"), std::string::npos);
}

// ---- Speaking ------------------------------------------------------------

TEST_F(VeskSayTool, SpeaksTextIntoAWavFile) {
  engine.AddVoice("marker", 16000);
  const ToolRun run = Say({"--engine", engine.path(), "-o", Out(), "abc"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  int rate = 0;
  EXPECT_EQ(ReadWav(Out(), rate), Expected({kA, kB, kC}));
  EXPECT_EQ(rate, 16000);
  // The engine's own log, with its level.
  EXPECT_NE(run.err.find("engine info: 加载语音库 marker: 4 条目"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("engine warning: 未找到pinyin.txt"),
            std::string::npos);
}

TEST_F(VeskSayTool, ReadsALongFileInPiecesWithoutLosingAnything) {
  engine.AddVoice("marker", 16000, 4);
  std::string text;
  std::vector<int32_t> units;
  // Larger than one read block, so sequences and pieces straddle reads.
  for (int line = 0; line < 12000; ++line) {
    text += "ab c.\n";
    units.insert(units.end(), {kA, kB, kC, kPause});
  }
  // One long line: cut where the engine would break the run anyway.
  for (int i = 0; i < 2500; ++i) {
    text += "abc,";
    units.insert(units.end(), {kA, kB, kC, kPause});
  }
  const auto input = scratch.Write("book.txt", text);
  const ToolRun run =
      Say({"--engine", engine.path(), "-o", Out(), "-f", input.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  int rate = 0;
  EXPECT_EQ(ReadWav(Out(), rate), Expected(units, 4));
}

TEST_F(VeskSayTool, ReadsStandardInputAndWritesRawPcm) {
  engine.AddVoice("marker", 16000);
  const auto input = scratch.Write("in.txt", "b.a\n");
  const ToolRun run = Say({"--engine", engine.path(), "-o", "-"}, input);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto expected = Expected({kB, kPause, kA});
  ASSERT_EQ(run.out.size(), expected.size() * 2);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto low = uint8_t(run.out[2 * i]);
    const auto high = uint8_t(run.out[2 * i + 1]);
    ASSERT_EQ(int16_t(low | (high << 8)), expected[i]) << i;
  }
}

TEST_F(VeskSayTool, PassesTheVolumeToTheEngine) {
  engine.AddVoice("marker", 16000);
  const ToolRun run =
      Say({"--engine", engine.path(), "-o", Out(), "--volume", "100", "ab"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  int rate = 0;
  EXPECT_EQ(ReadWav(Out(), rate), Expected({kA, kB}, kUnitSamples, 2));
}

TEST_F(VeskSayTool, ListsVoicesAndSpeaksWithTheChosenOne) {
  engine.AddVoice("alpha", 16000);
  engine.AddVoice("beta", 22050, 7);
  const ToolRun list = Say({"--engine", engine.path(), "--list-voices"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out, "alpha\t16000 Hz\nbeta\t22050 Hz\n");

  const ToolRun info = Say({"--engine", engine.path(), "--info"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("Halden语音 1.1.0"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("voices:  2"), std::string::npos) << info.out;

  const ToolRun beta =
      Say({"--engine", engine.path(), "--voice", "beta", "-o", Out(), "c"});
  ASSERT_EQ(beta.exitCode, 0) << beta.err;
  int rate = 0;
  EXPECT_EQ(ReadWav(Out(), rate), Expected({kC}, 7));
  EXPECT_EQ(rate, 22050);

  const ToolRun unknown = Say(
      {"--engine", engine.path(), "--voice", "gamma", "-o", Out("x.wav"), "c"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(
      unknown.err.find("no voice named gamma; the voices are: alpha beta"),
      std::string::npos)
      << unknown.err;
}

TEST_F(VeskSayTool, RejectsBadOptionsWithoutWritingAnything) {
  engine.AddVoice("marker", 16000);
  const auto text = scratch.Write("t.txt", "abc");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--rate", "101"},
           {"--rate", "abc"},
           {"--pitch", "-1"},
           {"--volume", "1e3"},
           {"-f", text.string()},  // text both ways
           {"--frobnicate"}}) {
    std::vector<std::string> full{"--engine", engine.path(), "-o", Out()};
    full.insert(full.end(), args.begin(), args.end());
    full.push_back("abc");
    const ToolRun run = Say(full);
    EXPECT_NE(run.exitCode, 0) << testing::PrintToString(args);
    EXPECT_NE(run.exitCode, -1) << "crashed: " << testing::PrintToString(args);
    EXPECT_FALSE(run.err.empty());
    EXPECT_FALSE(std::filesystem::exists(Out()))
        << testing::PrintToString(args);
  }
  const ToolRun noOutput = Say({"--engine", engine.path(), "abc"});
  EXPECT_EQ(noOutput.exitCode, 2);
  EXPECT_NE(noOutput.err.find("-o"), std::string::npos);
}

TEST_F(VeskSayTool, ReportsMissingFilesAndEnginesClearly) {
  engine.AddVoice("marker", 16000);
  EngineDir voiceless;
  TempDir empty;
  const auto notEngine = scratch.Write("libfake.so", "not a library");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {{"--engine", engine.path(), "-f", Out("missing.txt")},
            "cannot read"},
           {{"--engine", Out("nowhere")}, "no such engine library"},
           {{"--engine", empty.path().string(), "abc"}, "holds no"},
           {{"--engine", notEngine.string(), "abc"}, "libfake.so"},
           {{"--engine", voiceless.path(), "abc"}, "未找到语音库文件(.vl)"}}) {
    std::vector<std::string> full = c.args;
    full.insert(full.end(), {"-o", Out()});
    const ToolRun run = Say(full);
    EXPECT_EQ(run.exitCode, 1) << testing::PrintToString(c.args);
    EXPECT_NE(run.err.find(c.message), std::string::npos)
        << testing::PrintToString(c.args) << ": " << run.err;
  }
}

TEST_F(VeskSayTool, StopsCleanlyOnInterrupt) {
  engine.AddVoice("marker", 16000);
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  const std::string output = Out();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(input[0], 0);
    ::close(input[1]);
    const std::string err = (scratch.path() / "err.txt").string();
    ::freopen(err.c_str(), "w", stderr);
    ::execl(VESK_SAY_TOOL, VESK_SAY_TOOL, "--engine", engine.path().c_str(),
            "-o", output.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(input[0]);
  const char line[] = "abc\n";
  ASSERT_EQ(::write(input[1], line, 4), 4);
  // The output file appears once the signal handlers are in place; then
  // the tool is waiting for more input, which never comes.
  for (int i = 0; i < 2000 && !std::filesystem::exists(output); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(std::filesystem::exists(output));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(input[1]);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  // A readable WAV holding whatever had been spoken by then.
  int rate = 0;
  const auto samples = ReadWav(output, rate);
  EXPECT_EQ(rate, 16000);
  const auto whole = Expected({kA, kB, kC});
  ASSERT_LE(samples.size(), whole.size());
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), whole.begin()));
}

}  // namespace
}  // namespace vesk::test
