#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "audio_out.h"
#include "english_words.h"
#include "frontend/text_runs.h"
#include "host_text.h"
#include "platform/platform.h"
#include "say_tool.h"
#include "support/test_files.h"
#include "tools/marker_engine.h"
#include "tools/tool_runner.h"
#include "vesk_version.h"

namespace vesk::test {
namespace {

namespace host = vesk::host;
namespace say = vesk::say;

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
  // The marker voice's letters are spelled: English words have a test of
  // their own, SayEnglish.
  ToolRun Say(std::vector<std::string> args,
              const std::filesystem::path& input = {}) {
    args.insert(args.begin(), "--spell-english");
    return RunTool(VESK_SAY_TOOL, args, scratch.path(), input);
  }
  ToolRun SayEnglish(const std::vector<std::string>& args) {
    return RunTool(VESK_SAY_TOOL, args, scratch.path());
  }
  std::string Out(const std::string& name = "out.wav") {
    return (scratch.path() / name).string();
  }
  EngineDir engine;
  TempDir scratch;
};

// ---- Text handling -------------------------------------------------------

// Decoding in pieces gives what decoding the whole input at once gives, for
// every place a read may end, with the engine's own UTF-8 conversion.
TEST(VeskSayText, DecodesUtf8SplitAnywhereAsTheEngineDecodesItWhole) {
  const std::string text =
      "\xEF\xBB\xBF"
      "a\xE4\xB8\xAD\xF0\x9F\x98\x80z\xC0\xAF\xED\xA0\x80\xE4\xB8"
      "b\xF0\x9F\x98";
  std::u16string whole = platform::Utf8ToUtf16(text.substr(3));
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    say::InputDecoder decoder;
    std::string error;
    ASSERT_TRUE(decoder.Open("UTF-8", error));
    std::u16string out;
    decoder.Feed(text.substr(0, cut), out);
    decoder.Feed(text.substr(cut), out);
    decoder.Finish(out);
    EXPECT_EQ(out, whole) << "cut at " << cut;
    EXPECT_EQ(decoder.firstBadByte(), 12u);
  }
}

TEST(VeskSayText, ReadsOtherEncodingsThroughIconvAndNulAsALineBreak) {
  struct Case {
    std::string encoding;
    std::string bytes;
    std::u16string text;
  };
  using namespace std::string_literals;
  for (const Case& c : std::vector<Case>{
           {"GB18030", "\xC4\xE3\xBA\xC3"s, u"你好"},
           {"UTF-16LE", "\xFF\xFE\x60\x4F\x7D\x59\0\0a\0"s, u"你好\na"},
           {"UTF-16BE", "\xFE\xFF\x4F\x60\xD8\x3D\xDE\x00"s, u"你\U0001F600"},
           {"BIG5", "\xA7\x41\xA6\x6E"s, u"你好"},
           {"UTF-8", "a\0b"s, u"a\nb"}}) {
    for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut) {
      say::InputDecoder decoder;
      std::string error;
      ASSERT_TRUE(decoder.Open(c.encoding, error)) << error;
      std::u16string out;
      decoder.Feed(c.bytes.substr(0, cut), out);
      decoder.Feed(c.bytes.substr(cut), out);
      decoder.Finish(out);
      EXPECT_EQ(U8(out), U8(c.text)) << c.encoding << " cut at " << cut;
      EXPECT_FALSE(decoder.firstBadByte()) << c.encoding;
    }
  }
  say::InputDecoder broken;
  std::string error;
  ASSERT_TRUE(broken.Open("GB18030", error));
  std::u16string out;
  broken.Feed("a\xFF", out);
  broken.Finish(out);
  EXPECT_EQ(out, u"a\uFFFD");
  EXPECT_EQ(broken.firstBadByte(), 1u);
  say::InputDecoder unknown;
  EXPECT_FALSE(unknown.Open("NO-SUCH-CODE", error));
  EXPECT_NE(error.find("unknown encoding NO-SUCH-CODE"), std::string::npos);
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
      say::InputDecoder decoder;
      std::string error;
      ASSERT_TRUE(decoder.Open("UTF-8", error)) << error;
      std::u16string out;
      decoder.Feed(text.substr(0, cut), out);
      decoder.Feed(text.substr(cut, second - cut), out);
      decoder.Feed(text.substr(second), out);
      decoder.Finish(out);
      EXPECT_EQ(out, whole) << "cut at " << cut << " and " << second;
    }
  }
}

TEST(VeskSayText, TellsTheEncodingFromTheFirstBytes) {
  using namespace std::string_literals;
  std::string gbkNovel;
  for (int i = 0; i < 40; ++i) {
    // 今天是星期三，天气很好。我们去公园散步。
    gbkNovel +=
        "\xBD\xF1\xCC\xEC\xCA\xC7\xD0\xC7\xC6\xDA\xC8\xFD\xA3\xAC\xCC\xEC"
        "\xC6\xF8\xBA\xDC\xBA\xC3\xA1\xA3\xCE\xD2\xC3\xC7\xC8\xA5\xB9\xAB"
        "\xD4\xB0\xC9\xA2\xB2\xBD\xA1\xA3\n";
  }
  struct Case {
    std::string head;
    std::string option;
    std::string name;  // empty: refused
    bool noted;
  };
  for (const Case& c : std::vector<Case>{
           {"\xEF\xBB\xBFok", "", "UTF-8", false},
           {"\xE4\xBD\xA0\xE5\xA5", "", "UTF-8", false},  // cut short
           {"\xFF\xFE\x60\x4F", "", "UTF-16LE", false},
           {"\xFE\xFF\x4F\x60", "", "UTF-16BE", false},
           {"\xFF\xFE\0\0"s, "", "UTF-32LE", false},
           {"\xC4\xE3\xBA\xC3", "", "GB18030", true},  // 你好 in GBK
           {gbkNovel, "", "GB18030", true},
           {"\xC4\xE3\xBA\xC3", "big5", "big5", false},
           {"\xFF", "utf8", "UTF-8", false},
           // Chinese UTF-8 with a stray byte: damaged, not another encoding.
           {"\xE4\xBD\xA0\xE5\xA5\xBD\xFF\xE4\xB8\x96\xE7\x95\x8C", "", "",
            false}}) {
    const say::InputEncoding chosen = say::ChooseEncoding(c.head, c.option);
    EXPECT_EQ(chosen.ok, !c.name.empty()) << c.head << ": " << chosen.error;
    if (!chosen.ok) {
      EXPECT_NE(chosen.error.find("--encoding"), std::string::npos);
      continue;
    }
    EXPECT_EQ(chosen.name, c.name) << c.head;
    EXPECT_EQ(!chosen.note.empty(), c.noted) << chosen.note;
    if (c.noted) {
      EXPECT_NE(chosen.note.find(c.name), std::string::npos);
    }
  }
  EXPECT_EQ(say::FirstInvalidUtf8("ab\xC0\xAF"), 2u);
  EXPECT_EQ(say::FirstInvalidUtf8("\xED\xA0\x80"), 0u);
  EXPECT_EQ(say::FirstInvalidUtf8("\xF4\x90\x80\x80"), 0u);
  EXPECT_FALSE(say::FirstInvalidUtf8("\xF0\x9F\x98\x80\xE4\xB8"));
  EXPECT_EQ(host::ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");      // overlong
  EXPECT_EQ(host::ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(host::ToUtf16("x\xE4\xB8"), u"x\uFFFD");          // cut short
  EXPECT_EQ(host::ToUtf8(u"\u4E2D\xD800"), "\xE4\xB8\xAD\xEF\xBF\xBD");
}

TEST(VeskSayText, CutsAtLineBreaksThenSafeCharacters) {
  EXPECT_EQ(host::NextPieceLength(u"ab\ncd", 10, false), 3u);
  EXPECT_EQ(host::NextPieceLength(u"abcd", 10, false), 0u);
  EXPECT_EQ(host::NextPieceLength(u"abcd", 10, true), 4u);
  EXPECT_EQ(host::NextPieceLength(u"ab\ncd,efgh", 8, false), 3u);
  EXPECT_EQ(host::NextPieceLength(u"abcd,efgh", 8, false), 5u);
  // A run of letters, digits or Chinese characters is never cut while a
  // safe place exists.
  EXPECT_EQ(host::NextPieceLength(u"ab 1234567", 8, false), 3u);
  EXPECT_EQ(
      host::NextPieceLength(u"\u4E2D\u4E2D\u3002\u4E2D\u4E2D\u4E2D", 4, false),
      3u);
  EXPECT_EQ(host::NextPieceLength(u"abcdefgh", 4, false), 4u);
  EXPECT_EQ(host::NextPieceLength(u"abc\U0001F600", 4, false), 3u);
  EXPECT_FALSE(host::HasContent(u" \r\n\t"));
  EXPECT_TRUE(host::HasContent(u" x"));
}

TEST(VeskSayText, CutsOnlyWhereTheWorkerEndsARun) {
  const std::u16string text = u"中文ab12,。x ䷿一鿿ꀀZ9！ ？...";
  std::vector<std::size_t> runEnds;
  for (std::size_t i = 0; i < text.size(); i = RunEnd(text, i))
    runEnds.push_back(RunEnd(text, i));
  for (std::size_t p = 1; p <= text.size(); ++p) {
    if (!host::IsSafeCutAfter(text[p - 1])) continue;
    EXPECT_NE(std::find(runEnds.begin(), runEnds.end(), p), runEnds.end())
        << "cut after position " << p - 1;
  }
}

TEST(VeskSayText, FindsTheEngineGivenOrInTheFirstDirectoryThatHoldsIt) {
  EngineDir engine;
  TempDir empty;
  std::string error;
  EXPECT_EQ(host::FindEngine(engine.path(), {}, error),
            engine.dir.path() / host::kEngineFileName);
  EXPECT_EQ(host::FindEngine("", {empty.path(), engine.dir.path()}, error),
            std::filesystem::weakly_canonical(engine.dir.path() /
                                              host::kEngineFileName));
  EXPECT_FALSE(host::FindEngine(empty.path().string(), {}, error));
  EXPECT_NE(error.find("holds no"), std::string::npos);
  EXPECT_FALSE(host::FindEngine("", {empty.path()}, error));
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
  const ToolRun run =
      Say({"--engine", engine.path(), "--raw", "-o", "-"}, input);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto expected = Expected({kB, kPause, kA});
  ASSERT_EQ(run.out.size(), expected.size() * 2);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto low = uint8_t(run.out[2 * i]);
    const auto high = uint8_t(run.out[2 * i + 1]);
    ASSERT_EQ(int16_t(low | (high << 8)), expected[i]) << i;
  }
}

TEST_F(VeskSayTool, SpeaksAnEnglishWordAsOneWordAndSpellsAnAcronym) {
  engine.AddVoice("marker", 16000);
  // "b" and "USB" (of which the marker voice has the B) are spelled by the
  // engine; "Cab" is one word in the English voice, at the engine's level.
  ASSERT_EQ(SayEnglish({"--engine", engine.path(), "-o", Out(), "b Cab USB"})
                .exitCode,
            0);
  int rate = 0;
  const auto samples = ReadWav(Out(), rate);
  EXPECT_EQ(rate, 16000);
  const auto b = Expected({kB});
  ASSERT_GT(samples.size(), 2 * b.size() + 1000);
  EXPECT_EQ(std::vector<int16_t>(samples.begin(), samples.begin() + b.size()),
            b);
  EXPECT_EQ(std::vector<int16_t>(samples.end() - b.size(), samples.end()), b);
  const std::vector<int16_t> word(samples.begin() + b.size(),
                                  samples.end() - b.size());
  EXPECT_NEAR(host::VoicedLoudness(word.data(), word.size()), kB, kB * 0.1);
  EXPECT_NE(word, Expected({kC, kA, kB}));
  // Turned off: every letter spelled.
  ASSERT_EQ(SayEnglish({"--spell-english", "--engine", engine.path(), "-o",
                        Out(), "b Cab USB"})
                .exitCode,
            0);
  EXPECT_EQ(ReadWav(Out(), rate), Expected({kB, kC, kA, kB, kB}));
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
           {"--frobnicate"},
           {"--split", "0"},
           {"--encoding", "NO-SUCH-CODE"}}) {
    std::vector<std::string> full{"--engine", engine.path(), "-o", Out()};
    full.insert(full.end(), args.begin(), args.end());
    full.push_back("abc");
    const ToolRun run = Say(full);
    EXPECT_EQ(run.exitCode, 2) << testing::PrintToString(args);
    EXPECT_FALSE(run.err.empty());
    EXPECT_FALSE(std::filesystem::exists(Out()))
        << testing::PrintToString(args);
  }
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--raw", "abc"},
                                             {"--split", "5", "abc"},
                                             {"--split", "5", "-o", "-"}}) {
    std::vector<std::string> full{"--engine", engine.path()};
    full.insert(full.end(), args.begin(), args.end());
    const ToolRun run = Say(full);
    EXPECT_EQ(run.exitCode, 2) << testing::PrintToString(args);
    EXPECT_NE(run.err.find("needs -o"), std::string::npos) << run.err;
  }
  const ToolRun version = Say({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "vesk-say " VESK_VERSION "\n");
  const ToolRun help = Say({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("-f,--file FILE"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("16000 Hz"), std::string::npos);
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

TEST_F(VeskSayTool, StopsAtASignalKeepingAReadableFileAndExits128PlusIt) {
  engine.AddVoice("marker", 16000);
  for (const int signal : {SIGINT, SIGTERM}) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const std::string output = Out();
    std::filesystem::remove(output);
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(input[0], 0);
      ::close(input[1]);
      const std::string err = (scratch.path() / "err.txt").string();
      ::freopen(err.c_str(), "w", stderr);
      ::execl(VESK_SAY_TOOL, VESK_SAY_TOOL, "--spell-english", "--engine",
              engine.path().c_str(), "-o", output.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(input[0]);
    const char line[] = "abc\n";
    ASSERT_EQ(::write(input[1], line, 4), 4);
    // The output is begun once the first line has been read and the stops
    // are taken; then the tool waits for more input, which never comes.
    const std::string part = output + ".part";
    for (int i = 0; i < 2000 && !std::filesystem::exists(part); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(std::filesystem::exists(part));
    ::kill(child, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(input[1]);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    // A readable WAV holding whatever had been spoken by then.
    int rate = 0;
    const auto samples = ReadWav(output, rate);
    EXPECT_EQ(rate, 16000);
    const auto whole = Expected({kA, kB, kC});
    ASSERT_LE(samples.size(), whole.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), whole.begin()));
    EXPECT_FALSE(std::filesystem::exists(part));
  }
}

// ---- Input ---------------------------------------------------------------

TEST_F(VeskSayTool, ReadsGbkUtf16AndNulBytesAndRefusesDamagedUtf8) {
  engine.AddVoice("marker", 16000);
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    std::vector<std::string> options;
    std::vector<int32_t> units;  // empty: refused
    std::string message;
  };
  for (const Case& c :
       std::vector<Case>{// a。b in GBK, told from the bytes and said so.
                         {"a\xA1\xA3"
                          "b"s,
                          {},
                          {kA, kPause, kB},
                          "GB18030"},
                         {"a\xA1\xA3"
                          "b"s,
                          {"--encoding", "GBK"},
                          {kA, kPause, kB},
                          ""},
                         {"\xFF\xFE"
                          "a\0\x02\x30"
                          "b\0"s,
                          {},
                          {kA, kPause, kB},
                          ""},
                         {"\xFE\xFF\0a\x30\x02\0b"s, {}, {kA, kPause, kB}, ""},
                         {"a\0b\0\0c"s, {}, {kA, kPause, kB, kPause, kC}, ""},
                         {"\0a"s, {}, {kA}, ""},
                         {"\xE4\xBD\xA0\xE5\xA5\xBD\xFF\xE4\xB8\x96\xE7\x95\x8C"
                          "abc"s,
                          {},
                          {},
                          "not valid UTF-8"},
                         {"\xE4\xBD\xA0\xFF"
                          "ab"s,
                          {"--encoding", "UTF-8"},
                          {kA, kB},
                          "skipped"}}) {
    const auto input = scratch.Write("in.txt", c.bytes);
    std::vector<std::string> args{"--engine", engine.path(), "-o",
                                  Out(),      "-f",          input.string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::filesystem::remove(Out());
    const ToolRun run = Say(args);
    const auto name = testing::PrintToString(c.bytes);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << name << run.err;
    if (c.units.empty()) {
      EXPECT_EQ(run.exitCode, 1) << name;
      EXPECT_FALSE(std::filesystem::exists(Out())) << name;
      continue;
    }
    ASSERT_EQ(run.exitCode, 0) << name << run.err;
    int rate = 0;
    EXPECT_EQ(ReadWav(Out(), rate), Expected(c.units)) << name;
  }
  // Bytes given as arguments are read the same way.
  const ToolRun argument = Say({"--engine", engine.path(), "-o", Out(),
                                "a\xA1\xA3"
                                "c"});
  ASSERT_EQ(argument.exitCode, 0) << argument.err;
  int rate = 0;
  EXPECT_EQ(ReadWav(Out(), rate), Expected({kA, kPause, kC}));
}

// ---- Output --------------------------------------------------------------

TEST_F(VeskSayTool, WritesEachFormatByItsExtension) {
  engine.AddVoice("marker", 16000, 1600);
  struct Case {
    std::string name;
    int major;
    bool exact;
  };
  // A .wav small enough for a WAV header comes out of the RF64 writer as an
  // extensible WAV.
  for (const Case& c : std::vector<Case>{{"out.wav", SF_FORMAT_WAVEX, true},
                                         {"OUT.FLAC", SF_FORMAT_FLAC, true},
                                         {"out.ogg", SF_FORMAT_OGG, false},
                                         {"out.opus", SF_FORMAT_OGG, false},
                                         {"out.mp3", SF_FORMAT_MPEG, false}}) {
    std::string error;
    if (say::SoundFormatForPath(c.name, 16000, error) == 0) {
      ADD_FAILURE() << c.name << ": " << error;
      continue;
    }
    const ToolRun run =
        Say({"--engine", engine.path(), "-o", Out(c.name), "abc"});
    ASSERT_EQ(run.exitCode, 0) << c.name << run.err;
    SF_INFO info{};
    SNDFILE* file = sf_open(Out(c.name).c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << c.name << ": " << sf_strerror(nullptr);
    std::vector<int16_t> samples(std::size_t(info.frames) + 1);
    samples.resize(
        std::size_t(sf_readf_short(file, samples.data(), info.frames)));
    sf_close(file);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, c.major) << c.name;
    EXPECT_EQ(info.samplerate, 16000) << c.name;
    if (c.exact) {
      EXPECT_EQ(samples, Expected({kA, kB, kC}, 1600)) << c.name;
    } else {
      // Lossy coders keep the length to within their frame padding.
      EXPECT_NEAR(double(samples.size()), 4800.0, 1200.0) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(Out(c.name) + ".part"));
  }
  std::string error;
  EXPECT_EQ(say::SoundFormatForPath("x.opus", 22050, error), 0);
  EXPECT_NE(error.find("22050"), std::string::npos);
  EXPECT_EQ(say::SoundFormatForPath("x.txt", 16000, error), 0);
  EXPECT_NE(error.find("--raw"), std::string::npos);
  const ToolRun unknown =
      Say({"--engine", engine.path(), "-o", Out("out.xyz"), "abc"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(Out("out.xyz")));
}

// A .wav is begun as RF64 and comes out as a plain WAV while it is small:
// the switch that keeps a book past 4 GiB readable.
TEST_F(VeskSayTool, WavOutputStartsAsRf64AndEndsAsWavWhenItFits) {
  std::string error;
  EXPECT_EQ(say::SoundFormatForPath("book.wav", 16000, error),
            SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
  auto out = say::OpenFileOut(Out(), 16000, {}, error);
  ASSERT_NE(out, nullptr) << error;
  const auto samples = Expected({kA, kB});
  ASSERT_TRUE(out->Write(samples.data(), samples.size()));
  ASSERT_TRUE(out->Finish());
  const std::string bytes = ReadText(Out());
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 4), "WAVE");
  int rate = 0;
  EXPECT_EQ(ReadWav(Out(), rate), samples);
  // Without the switch the same writer leaves an RF64 file, which only
  // RF64 readers take.
  SF_INFO info{};
  info.samplerate = 16000;
  info.channels = 1;
  info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
  SNDFILE* rf64 = sf_open(Out("rf64.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(rf64, nullptr);
  sf_write_short(rf64, samples.data(), sf_count_t(samples.size()));
  sf_close(rf64);
  EXPECT_EQ(ReadText(Out("rf64.wav")).substr(0, 4), "RF64");
}

TEST_F(VeskSayTool, WritesAWavStreamOrRawPcmToStandardOutputAndRawFiles) {
  engine.AddVoice("marker", 16000);
  // Through a pipe: a stream header, then the samples.
  const std::string piped = Out("piped.wav");
  const ToolRun pipe = RunTool(
      "/bin/sh",
      {"-c", std::string("'") + VESK_SAY_TOOL + "' --engine '" + engine.path() +
                 "' --spell-english -o - abc | cat > '" + piped + "'"},
      scratch.path());
  ASSERT_EQ(pipe.exitCode, 0) << pipe.err;
  const std::string stream = ReadText(piped);
  EXPECT_EQ(stream.substr(0, 44), say::WavStreamHeader(16000));
  int rate = 0;
  EXPECT_EQ(ReadWav(piped, rate), Expected({kA, kB, kC}));
  // Into a file given as standard output: a complete WAV.
  const ToolRun file = Say({"--engine", engine.path(), "-o", "-", "abc"});
  ASSERT_EQ(file.exitCode, 0) << file.err;
  const auto asFile = scratch.Write("stdout.wav", file.out);
  EXPECT_EQ(file.out.substr(0, 4), "RIFF");
  EXPECT_EQ(ReadWav(asFile, rate), Expected({kA, kB, kC}));
  // Raw PCM in a file.
  const ToolRun raw =
      Say({"--engine", engine.path(), "--raw", "-o", Out("a.pcm"), "ba"});
  ASSERT_EQ(raw.exitCode, 0) << raw.err;
  const auto expected = Expected({kB, kA});
  EXPECT_EQ(ReadText(Out("a.pcm")),
            std::string(reinterpret_cast<const char*>(expected.data()),
                        expected.size() * 2));
}

TEST_F(VeskSayTool, SplitsABookIntoNumberedParts) {
  // Units of 0.1 s; parts of 0.06 s each: every line its own part.
  engine.AddVoice("marker", 16000, 1600);
  const std::string padding(250, ' ');
  const auto input = scratch.Write(
      "book.txt", "a" + padding + "\nb" + padding + "\nc" + padding + "\n");
  const ToolRun run =
      Say({"--engine", engine.path(), "-o", Out("book.flac"), "--split",
           "0.001", "--raw-text", "-f", input.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("3 parts"), std::string::npos) << run.err;
  int rate = 0;
  EXPECT_EQ(ReadWav(Out("book-001.flac"), rate), Expected({kA}, 1600));
  EXPECT_EQ(ReadWav(Out("book-002.flac"), rate), Expected({kB}, 1600));
  EXPECT_EQ(ReadWav(Out("book-003.flac"), rate), Expected({kC}, 1600));
  EXPECT_FALSE(std::filesystem::exists(Out("book-004.flac")));
  EXPECT_FALSE(std::filesystem::exists(Out("book.flac")));
}

TEST_F(VeskSayTool, LeavesNoFileBehindWhenItFails) {
  engine.AddVoice("marker", 16000);
  // A write that fails (a full device) is reported and ends the run.
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const ToolRun full =
      Say({"--engine", engine.path(), "--raw", "-o", "/dev/full", "abc"});
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("cannot write"), std::string::npos) << full.err;
  // Input that cannot be read: no output begun.
  const ToolRun missing = Say({"--engine", engine.path(), "-o", Out(), "-f",
                               (scratch.path() / "none").string()});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(Out()));
  EXPECT_FALSE(std::filesystem::exists(Out() + ".part"));
}

// ---- Playing -------------------------------------------------------------

// Environment for one test: ALSA configured from a file of the test's own,
// no sound server.
class SoundEnvironment {
 public:
  explicit SoundEnvironment(const std::string& alsaConfig) {
    ::setenv("ALSA_CONFIG_PATH", alsaConfig.c_str(), 1);
    ::setenv("PULSE_SERVER", "unix:/nonexistent/vesk-test", 1);
  }
  ~SoundEnvironment() {
    ::unsetenv("ALSA_CONFIG_PATH");
    ::unsetenv("PULSE_SERVER");
  }
};

TEST_F(VeskSayTool, PlaysOnTheSoundDeviceAsTheEngineDelivers) {
  engine.AddVoice("marker", 16000);
  // ALSA's file plugin: what is played lands in a file, as on a card.
  const std::string captured = Out("played.raw");
  const auto config =
      scratch.Write("asound.conf",
                    "pcm.vesktest {\n type file\n slave.pcm { type null }\n"
                    " file \"" +
                        captured + "\"\n format \"raw\"\n}\n");
  SoundEnvironment environment(config.string());
  const ToolRun run =
      Say({"--engine", engine.path(), "--device", "vesktest", "ab.c"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto expected = Expected({kA, kB, kPause, kC});
  EXPECT_EQ(ReadText(captured),
            std::string(reinterpret_cast<const char*>(expected.data()),
                        expected.size() * 2));
}

TEST_F(VeskSayTool, WithoutASoundDeviceSuggestsAFileInOneLine) {
  engine.AddVoice("marker", 16000);
  const auto config = scratch.Write("asound.conf", "");
  SoundEnvironment environment(config.string());
  const ToolRun run = Say({"--engine", engine.path(), "-q", "abc"});
  EXPECT_EQ(run.exitCode, 1);
  const auto last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
  EXPECT_EQ(last.find("vesk-say: no sound device"), 0u) << run.err;
  EXPECT_NE(last.find("-o FILE"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("ALSA"), std::string::npos) << run.err;
}

// ---- Installed -----------------------------------------------------------

bool FileContains(const std::filesystem::path& path, const std::string& text) {
  return ReadText(path).find(text) != std::string::npos;
}

// The installed tree, moved away from where it was installed: every tool
// runs from it and finds the engine beside it, and no file in it names the
// build tree.
TEST(VeskInstallation, InstalledToolsRunFromAMovedTreeWithoutTheBuild) {
  TempDir staging;
  TempDir moved;
  const ToolRun install =
      RunTool("/usr/bin/env",
              {"DESTDIR=" + staging.path().string(), VESK_CMAKE_COMMAND,
               "--install", VESK_BUILD_DIR, "--strip"},
              staging.path());
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  const auto installed =
      staging.path() /
      std::filesystem::path(VESK_INSTALL_PREFIX).relative_path();
  const auto root = moved.path() / "opt-vesk";
  std::filesystem::copy(installed, root,
                        std::filesystem::copy_options::recursive);
  std::filesystem::remove_all(staging.path() / "usr");

  const auto bin = root / VESK_INSTALL_BINDIR;
  const auto engineDir = root / VESK_INSTALL_ENGINE_DIR;
  ASSERT_TRUE(std::filesystem::exists(engineDir / host::kEngineFileName));
  EXPECT_TRUE(std::filesystem::exists(root / "share/doc/vesk/LICENSE"));
  EXPECT_TRUE(
      FileContains(root / "share/doc/vesk/DATA-NOTICE.txt", "CC BY-SA 4.0"));
  EXPECT_TRUE(FileContains(root / VESK_INSTALL_MANDIR / "man1/vesk-say.1",
                           "\\-\\-encoding"));
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_FALSE(FileContains(entry.path(), VESK_BUILD_DIR))
        << entry.path() << " names the build tree";
  }

  // A voice and a dictionary of the test's own, so the run does not depend
  // on whether the real data has been generated.
  std::filesystem::remove(engineDir / "pinyin.txt");
  std::filesystem::remove(engineDir / "phrases.txt");
  for (const auto& entry : std::filesystem::directory_iterator(engineDir)) {
    if (entry.path().extension() == ".vl") std::filesystem::remove(entry);
  }
  TempDir scratch;
  const auto voice = scratch.Write(
      "marker.vl", BuildMarkerVoice(16000, {kA, kB, kC, kPause}, kUnitSamples));
  std::filesystem::copy_file(voice, engineDir / "marker.vl");
  const auto wav = scratch.path() / "out.wav";
  const ToolRun say =
      RunTool((bin / "vesk-say").string(),
              {"--spell-english", "-o", wav.string(), "abc"}, scratch.path());
  ASSERT_EQ(say.exitCode, 0) << say.err;
  int rate = 0;
  EXPECT_EQ(ReadWav(wav, rate), Expected({kA, kB, kC}));
  const ToolRun info =
      RunTool((bin / "vesk-say").string(), {"--info"}, scratch.path());
  EXPECT_NE(info.out.find(engineDir.string()), std::string::npos) << info.out;

  const auto text = scratch.Write("in.txt", "中\n");
  const ToolRun noDictionary =
      RunTool((bin / "vesk-pinyin").string(), {}, scratch.path(), text);
  EXPECT_EQ(noDictionary.exitCode, 1);
  EXPECT_NE(noDictionary.err.find(engineDir.string()), std::string::npos)
      << noDictionary.err;
  scratch.Write("pinyin.txt", "U+4E2D: zhōng\n");
  std::filesystem::copy_file(scratch.path() / "pinyin.txt",
                             engineDir / "pinyin.txt");
  const ToolRun pinyin =
      RunTool((bin / "vesk-pinyin").string(), {}, scratch.path(), text);
  EXPECT_EQ(pinyin.exitCode, 0) << pinyin.err;
  EXPECT_EQ(pinyin.out, "zhong1\n");
  const ToolRun voiceTool =
      RunTool((bin / "vesk-voice").string(),
              {"info", (engineDir / "marker.vl").string()}, scratch.path());
  EXPECT_EQ(voiceTool.exitCode, 0) << voiceTool.err;
}

}  // namespace
}  // namespace vesk::test
