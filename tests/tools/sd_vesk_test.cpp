// sd_vesk as speech-dispatcher drives it: commands piped into the module,
// replies, events and audio read back and checked exactly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <regex>
#include <sstream>

#include "engine_library.h"
#include "english_words.h"
#include "host_text.h"
#include "module_text.h"
#include "prepared_stream.h"
#include "support/test_files.h"
#include "text_prep.h"
#include "tools/marker_engine.h"
#include "tools/tool_runner.h"

namespace vesk::test {
namespace {

namespace host = vesk::host;
namespace sd = vesk::sd;

// ---- Pure parts ----------------------------------------------------------

struct SsmlCase {
  const char* ssml;
  std::vector<sd::SpeechPiece> pieces;
};

TEST(SdVeskText, SplitsSsmlAtMarksAndReadsWhatIsNotWellFormedAsText) {
  const std::vector<SsmlCase> cases = {
      {"plain", {{"plain", {}}}},
      {"<speak>a<mark name=\"one\"/>b<mark name='two'/>c</speak>",
       {{" a", {"one"}}, {"b", {"two"}}, {"c ", {}}}},
      // Marks in a row all belong to the text before them.
      {"<mark name=\"x\"/><mark name=\"y\"/>z", {{"", {"x", "y"}}, {"z", {}}}},
      {"a<mark name=\"end\"/>", {{"a", {"end"}}}},
      {"x &lt;&gt;&amp;&quot;&apos; &#20013;&#x6587;",
       {{"x <>&\"' \xE4\xB8\xAD\xE6\x96\x87", {}}}},
      {"<mark name=\"a&amp;b\"/>", {{"", {"a&b"}}}},
      // Not well formed: read as plainly as possible.
      {"a < b", {{"a < b", {}}}},
      {"a<b", {{"a<b", {}}}},
      {"<<>>a", {{"< >a", {}}}},
      {"&bogus; &#xZZ; &#0; &#xD800; &",
       {{"&bogus; &#xZZ; &#0; &#xD800; &", {}}}},
      {"a<mark name=\"open/>b", {{"a b", {}}}},
      {"a<mark/>b", {{"a b", {}}}},
      {"<!-- <mark name=\"hidden\"/> -->a", {{"a", {}}}},
      {"<!-- unterminated a", {{"<!-- unterminated a", {}}}},
      {"", {{"", {}}}},
  };
  for (const auto& c : cases) {
    const auto pieces = sd::SplitSsml(c.ssml);
    ASSERT_EQ(pieces.size(), c.pieces.size()) << c.ssml;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(pieces[i].text, c.pieces[i].text) << c.ssml << " piece " << i;
      EXPECT_EQ(pieces[i].marks, c.pieces[i].marks) << c.ssml << " piece " << i;
    }
  }
}

TEST(SdVeskText, MapsTheServerSettingsOntoTheEngine) {
  EXPECT_EQ(sd::EngineRate(-100), 0);
  EXPECT_EQ(sd::EngineRate(0), 50);
  EXPECT_EQ(sd::EngineRate(100), 100);
  EXPECT_EQ(sd::EngineRate(40), 70);
  EXPECT_EQ(sd::EnginePitch(-20), 40);
  EXPECT_EQ(sd::EngineVolume(-100), 0);
  EXPECT_EQ(sd::EngineVolume(0), 25);
  EXPECT_EQ(sd::EngineVolume(100), 50);
  sd::VoiceSettings settings;
  EXPECT_TRUE(sd::ApplySetting("rate=250", settings));
  EXPECT_EQ(settings.rate, 100);
  EXPECT_FALSE(sd::ApplySetting("pitch=high", settings));
  EXPECT_EQ(settings.pitch, 0);
  EXPECT_TRUE(sd::ApplySetting("synthesis_voice=beta", settings));
  EXPECT_EQ(settings.synthesisVoice, "beta");
  EXPECT_TRUE(sd::ApplySetting("synthesis_voice=NULL", settings));
  EXPECT_EQ(settings.synthesisVoice, "");
  EXPECT_TRUE(sd::ApplySetting("punctuation_mode=all", settings));

  const auto config = sd::ParseConfig(
      "# comment\nVeskEngine \"/opt/v k/libvesksynth.so\"\nDebug 1 # on\n");
  EXPECT_EQ(config.engine, "/opt/v k/libvesksynth.so");
  EXPECT_TRUE(config.debug);
  EXPECT_FALSE(sd::ParseConfig("Debug 0\nOther x\n").debug);
  EXPECT_EQ(sd::ParseConfig("DebugFile \"/tmp/v.log\"\n").debugFile,
            "/tmp/v.log");
  EXPECT_EQ(sd::LoggedText("a\nb\r\n"), "|a\\nb\\n|");
  EXPECT_EQ(sd::LoggedText(std::string(sd::kLoggedTextLimit, 'x')),
            "|" + std::string(sd::kLoggedTextLimit, 'x') + "|");
  EXPECT_EQ(sd::LoggedText(std::string(sd::kLoggedTextLimit + 1, 'x')),
            "(" + std::to_string(sd::kLoggedTextLimit + 1) + " bytes)");
  EXPECT_EQ(sd::KeyText("a"), "a");
  EXPECT_EQ(sd::KeyText("\xE4\xB8\xAD"), "\xE4\xB8\xAD");
  EXPECT_EQ(sd::KeyText("shift_a"), "shift a");
}

TEST(SdVeskText, PutsBackTheNumbersTheServersSymbolPassTookApart) {
  // What speech-dispatcher 0.11 sent for the client's text on the left,
  // as its module log showed, and what the module makes of it.
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"25 .5", "25.5"},
      {"3 .14元", "3.14元"},
      {" 负 3 度 C", " -3℃"},
      {" minus 3 degrees C", " -3℃"},
      {" 负 0 .5", " -0.5"},
      {"温度 减 3 度 C", "温度-3℃"},
      {"50 百分号 ", "50%"},
      {"1 .5 百分号 。", "1.5%。"},
      {"湿度50 percent ", "湿度50%"},
      {"10 冒号 30", "10:30"},
      {"12 colon 30 colon 45", "12:30:45"},
      {"2024 减 05 减 01", "2024-05-01"},
      {"2024 dash 05 dash 01", "2024-05-01"},
      {"2024 斜杠 05 斜杠 01", "2024/05/01"},
      {"2024 05 01", "2024-05-01"},
      {" 加 5", "+5"},
      {"1 逗号,000", "1,000"},
      {"价格 元 25 .5", "价格¥25.5"},
      {"<speak>a<mark name=\"__spd_0\"/> 10 冒号 30</speak>",
       "<speak>a<mark name=\"__spd_0\"/> 10:30</speak>"},
      // What is not the server's shape of a number stays as it is.
      {"负数", "负数"},
      {"加 油", "加 油"},
      {"第 3 度", "第 3 度"},
      {"2024 13 01", "2024 13 01"},
      {"版本 2 .x", "版本 2 .x"},
      {"百分号", "百分号"},
  };
  for (const auto& [server, restored] : cases) {
    EXPECT_EQ(sd::RestoreServerNumbers(server), restored) << server;
  }
}

TEST(SdVeskText, EscapesAudioSoThatNoLineBreakRemains) {
  const std::vector<int16_t> samples = {0x0A7D, 0x2A0A, -1, 0x7D7D};
  const std::string block =
      sd::AudioBlock(samples.data(), samples.size(), 22050);
  const std::string head =
      "705-bits=16\n705-num_channels=1\n705-sample_rate=22050\n"
      "705-num_samples=4\n705-big_endian=0\n705-AUDIO";
  ASSERT_EQ(block.substr(0, head.size()), head);
  ASSERT_EQ(block[head.size()], '\0');
  const std::string tail = "\n705 AUDIO\n";
  ASSERT_EQ(block.substr(block.size() - tail.size()), tail);
  const std::string data = block.substr(
      head.size() + 1, block.size() - head.size() - 1 - tail.size());
  EXPECT_EQ(data.find('\n'), std::string::npos);
  const std::string raw = sd::UnescapeAudio(data);
  ASSERT_EQ(raw.size(), 8u);
  EXPECT_EQ(raw, std::string("\x7D\x0A\x0A\x2A\xFF\xFF\x7D\x7D", 8));
}

// ---- The module on its pipes ---------------------------------------------

// What the module said after a command: its lines, with each audio block
// as one "705" line and its samples collected.
struct Said {
  std::vector<std::string> lines;
  std::vector<int16_t> samples;
  std::vector<int32_t> sampleRates;
  std::size_t blocks = 0;
};

// One running sd_vesk with its standard input and output on pipes.
class ModuleProcess {
 public:
  explicit ModuleProcess(const std::filesystem::path& config,
                         const std::filesystem::path& errors) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const int err =
          ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err, 2);
      ::close(in[1]);
      ::close(out[0]);
      ::execl(SD_VESK_TOOL, SD_VESK_TOOL, config.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~ModuleProcess() {
    if (to_ >= 0) ::close(to_);
    if (from_ >= 0) ::close(from_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  void Send(std::string_view text) {
    while (!text.empty()) {
      const ssize_t wrote = ::write(to_, text.data(), text.size());
      ASSERT_GT(wrote, 0);
      text.remove_prefix(std::size_t(wrote));
    }
  }

  // Reads lines until one equals last (included); fails on end of output.
  // The poll limit only turns a hang into a failure.
  Said Until(const std::string& last) {
    Said said;
    for (;;) {
      auto line = NextLine();
      if (!line) {
        ADD_FAILURE() << "output ended before \"" << last << "\"";
        return said;
      }
      if (line->starts_with("705-AUDIO")) {
        const std::string raw =
            sd::UnescapeAudio(std::string_view(*line).substr(10));
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
          said.samples.push_back(
              int16_t(uint8_t(raw[i]) | (uint8_t(raw[i + 1]) << 8)));
        }
        continue;
      }
      if (line->starts_with("705-sample_rate=")) {
        said.sampleRates.push_back(std::stoi(line->substr(16)));
      }
      if (line->starts_with("705-")) continue;
      if (*line == "705 AUDIO") {
        ++said.blocks;
        said.lines.push_back("705");
      } else {
        said.lines.push_back(*line);
      }
      if (said.lines.back() == last) return said;
    }
  }

  // Everything until the module ends its output.
  std::string Rest() {
    std::string out = buffer_;
    buffer_.clear();
    char block[65536];
    while (Readable()) {
      const ssize_t got = ::read(from_, block, sizeof block);
      if (got <= 0) break;
      out.append(block, std::size_t(got));
    }
    return out;
  }

  int Wait() {
    int status = 0;
    ::close(to_);
    to_ = -1;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  bool Readable() {
    pollfd poll{from_, POLLIN, 0};
    return ::poll(&poll, 1, 30000) > 0;
  }
  std::optional<std::string> NextLine() {
    for (;;) {
      const auto end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      char block[65536];
      if (!Readable()) return std::nullopt;
      const ssize_t got = ::read(from_, block, sizeof block);
      if (got <= 0) return std::nullopt;
      buffer_.append(block, std::size_t(got));
    }
  }

  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::string buffer_;
};

using Lines = std::vector<std::string>;

class SdVeskModule : public ::testing::Test {
 protected:
  // Starts the module and brings it to where the server would: INIT and
  // server audio.
  std::unique_ptr<ModuleProcess> Start(const std::string& engine) {
    const auto config = scratch.Write(
        "vesk.conf", "VeskEngine \"" + engine + "\"\n" + extraConfig);
    auto module = std::make_unique<ModuleProcess>(config, Errors());
    module->Send("INIT\n");
    initLines = module->Until(initLast).lines;
    return module;
  }
  std::unique_ptr<ModuleProcess> StartReady() {
    auto module = Start(engine.dir.path().string());
    EXPECT_EQ(initLines.back(), "299 OK LOADED SUCCESSFULLY");
    module->Send("AUDIO\naudio_output_method=server\n.\n");
    EXPECT_EQ(
        module->Until("203 OK AUDIO INITIALIZED").lines,
        Lines({"207 OK RECEIVING AUDIO SETTINGS", "203 OK AUDIO INITIALIZED"}));
    return module;
  }
  void Set(ModuleProcess& module, const std::string& lines) {
    module.Send("SET\n" + lines + ".\n");
    EXPECT_EQ(module.Until("203 OK SETTINGS RECEIVED").lines,
              Lines({"203 OK RECEIVING SETTINGS", "203 OK SETTINGS RECEIVED"}));
  }
  // Sends a message and reads its replies up to 200 OK SPEAKING.
  void Message(ModuleProcess& module, const std::string& kind,
               const std::string& text) {
    module.Send(kind + "\n");
    EXPECT_EQ(module.Until("202 OK RECEIVING MESSAGE").lines,
              Lines({"202 OK RECEIVING MESSAGE"}));
    module.Send(text + "\n.\n");
    EXPECT_EQ(module.Until("200 OK SPEAKING").lines,
              Lines({"200 OK SPEAKING"}));
  }
  Said Speak(ModuleProcess& module, const std::string& ssml,
             const std::string& kind = "SPEAK") {
    Message(module, kind, ssml);
    return module.Until("702 END");
  }
  std::filesystem::path Errors() const { return scratch.path() / "module.err"; }
  std::string ErrorText() const { return ReadText(Errors()); }

  TempDir scratch;
  EngineDir engine;
  Lines initLines;
  // The engine spells the marker voice's letters: English words are the
  // subject of their own test.
  std::string extraConfig = "VeskEnglishWords 0\n";
  std::string initLast = "299 OK LOADED SUCCESSFULLY";
};

TEST_F(SdVeskModule, AnswersTheServersHandshakeAndListsItsVoices) {
  engine.AddVoice("alpha", 16000);
  engine.AddVoice("beta", 22050);
  auto module = StartReady();
  ASSERT_EQ(initLines.size(), 2u);
  EXPECT_TRUE(initLines[0].starts_with("299-")) << initLines[0];
  module->Send("LOGLEVEL\nlog_level=5\n.\n");
  EXPECT_EQ(
      module->Until("203 OK LOGLEVEL SET").lines,
      Lines({"207 OK RECEIVING LOGLEVEL SETTINGS", "203 OK LOGLEVEL SET"}));
  module->Send("LIST VOICES\n");
  EXPECT_EQ(module->Until("200 OK VOICE LIST SENT").lines,
            Lines({"200-alpha\tzh-CN\tnone", "200-beta\tzh-CN\tnone",
                   "200 OK VOICE LIST SENT"}));
  Set(*module,
      "pitch=0\npitch_range=0\nrate=0\nvolume=100\npunctuation_mode=some\n"
      "spelling_mode=off\ncap_let_recogn=none\nvoice=MALE1\nlanguage=zh\n"
      "synthesis_voice=NULL\n");
  module->Send("NONSENSE\nQUIT\n");
  EXPECT_EQ(module->Rest(), "300 ERR UNKNOWN COMMAND\n210 OK QUIT\n");
  EXPECT_EQ(module->Wait(), 0);
}

TEST_F(SdVeskModule, SpeaksSsmlPieceByPieceWithEachMarkAfterItsPiece) {
  engine.AddVoice("alpha", 16000);
  auto module = StartReady();
  Set(*module, "rate=0\npitch=0\nvolume=100\n");
  const Said said = Speak(*module,
                          "<speak>ab<mark name=\"one\"/>&#x63; &amp;<mark "
                          "name=\"two\"/>b.a</speak>");
  EXPECT_EQ(
      said.lines,
      Lines({"701 BEGIN", "705", "705", "700-one", "700 INDEX MARK", "705",
             "700-two", "700 INDEX MARK", "705", "705", "705", "702 END"}));
  EXPECT_EQ(said.samples, Expected({kA, kB, kC, kB, kPause, kA}));
  EXPECT_EQ(said.sampleRates, std::vector<int32_t>(6, 16000));

  // Characters and keys: said as the character, names spelled.
  EXPECT_EQ(Speak(*module, "c", "CHAR").samples, Expected({kC}));
  EXPECT_EQ(Speak(*module, "shift_b", "KEY").samples, Expected({kB}));
  const Said icon = Speak(*module, "message-new", "SOUND_ICON");
  EXPECT_EQ(icon.lines, Lines({"701 BEGIN", "702 END"}));
}

// The PCM the engine itself delivers for text and settings, from a private
// copy of the library driven through its exports.
std::mutex directMutex;
std::condition_variable directDone;
std::vector<int16_t> directSamples;
bool directComplete = false;

int32_t CollectDirect(const char16_t*, const int16_t* samples,
                      int32_t byteCount, int32_t) {
  std::lock_guard lock(directMutex);
  if (samples == nullptr) {
    directComplete = true;
    directDone.notify_all();
  } else {
    directSamples.insert(directSamples.end(), samples, samples + byteCount / 2);
  }
  return 0;
}

std::vector<int16_t> EngineSpeaks(const std::filesystem::path& voice,
                                  const std::u16string& text, int32_t rate,
                                  int32_t pitch, int32_t volume) {
  TempDir dir;
  std::filesystem::copy_file(VESK_ENGINE_LIBRARY,
                             dir.path() / host::kEngineFileName);
  std::filesystem::copy_file(voice, dir.path() / voice.filename());
  host::EngineLibrary library(dir.path() / host::kEngineFileName);
  EXPECT_TRUE(library.ok()) << library.error();
  if (!library.ok()) return {};
  const auto& api = library.api();
  EXPECT_TRUE(api.Initialize(nullptr));
  api.SetPlayCallback(CollectDirect);
  api.SetRate(0, rate);
  api.SetPitch(0, pitch);
  api.SetVolume(0, volume);
  directSamples.clear();
  directComplete = false;
  EXPECT_TRUE(api.Speak(nullptr, text.c_str(), 0));
  std::unique_lock lock(directMutex);
  EXPECT_TRUE(directDone.wait_for(lock, std::chrono::seconds(30),
                                  [] { return directComplete; }));
  lock.unlock();
  api.Uninitialize();
  return directSamples;
}

TEST_F(SdVeskModule, SendsExactlyThePcmTheEngineMakesForTheSameSettings) {
  // Long enough units for the speed and pitch changer to have work.
  engine.AddVoice("alpha", 16000, 3000);
  auto module = StartReady();
  Set(*module, "rate=40\npitch=-20\nvolume=60\n");
  const Said said = Speak(*module, "<speak>abc, cab.</speak>");
  // The module prepares text as every host does before the engine sees it.
  const auto prepared = textprep::PrepareText(
      u" abc, cab. ", textprep::PrepOptions{.readSymbols = false});
  const auto expected =
      EngineSpeaks(engine.dir.path() / "alpha.vl", prepared, 70, 40, 40);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(said.samples, expected);
  EXPECT_EQ(said.lines.front(), "701 BEGIN");
  EXPECT_EQ(said.lines.back(), "702 END");
}

TEST_F(SdVeskModule, StopsBetweenChunksAndSaysNothingAfterStop) {
  // Far more audio than a pipe holds: the module cannot reach the end of
  // the message before the STOP is read.
  engine.AddVoice("alpha", 16000, 16000);
  auto module = StartReady();
  Message(*module, "SPEAK", std::string(200, 'a'));
  EXPECT_EQ(module->Until("705").lines, Lines({"701 BEGIN", "705"}));
  module->Send("STOP\n");
  const Said stopped = module->Until("703 STOP");
  for (const auto& line : stopped.lines) {
    EXPECT_TRUE(line == "705" || line == "703 STOP") << line;
  }
  // Stopped for good: the next message is spoken whole.
  const Said next = Speak(*module, "b");
  EXPECT_EQ(next.lines, Lines({"701 BEGIN", "705", "702 END"}));
  EXPECT_EQ(next.samples, Expected({kB}, 16000));
  module->Send("STOP\nQUIT\n");
  EXPECT_EQ(module->Rest(), "210 OK QUIT\n");
}

TEST_F(SdVeskModule, PausesAtTheNextMarkAfterFinishingThePiece) {
  engine.AddVoice("alpha", 16000, 16000);
  auto module = StartReady();
  Message(*module, "SPEAK",
          "<speak>" + std::string(20, 'a') +
              "<mark name=\"here\"/>bbb<mark name=\"later\"/>c</speak>");
  EXPECT_EQ(module->Until("705").lines, Lines({"701 BEGIN", "705"}));
  module->Send("PAUSE\n");
  const Said paused = module->Until("704 PAUSE");
  ASSERT_GE(paused.lines.size(), 3u);
  EXPECT_EQ(Lines(paused.lines.end() - 3, paused.lines.end()),
            Lines({"700-here", "700 INDEX MARK", "704 PAUSE"}));
  // The whole first piece and nothing of the second.
  EXPECT_EQ(paused.blocks, 19u);
  EXPECT_EQ(paused.samples, Expected(std::vector<int32_t>(19, kA), 16000));
  // At the last mark, with only blanks after it, the message just ends.
  Message(*module, "SPEAK",
          "<speak>" + std::string(20, 'a') + "<mark name=\"last\"/> </speak>");
  EXPECT_EQ(module->Until("705").lines, Lines({"701 BEGIN", "705"}));
  module->Send("PAUSE\n");
  const Said ended = module->Until("702 END");
  EXPECT_EQ(Lines(ended.lines.end() - 3, ended.lines.end()),
            Lines({"700-last", "700 INDEX MARK", "702 END"}));
  module->Send("QUIT\n");
  EXPECT_EQ(module->Rest(), "210 OK QUIT\n");
}

TEST_F(SdVeskModule, KeepsTheVoiceWhenAskedForOneThatDoesNotExist) {
  engine.AddVoice("alpha", 16000);
  engine.AddVoice("beta", 22050, 7);
  auto module = StartReady();
  Set(*module, "synthesis_voice=beta\n");
  EXPECT_EQ(Speak(*module, "a").sampleRates, std::vector<int32_t>{22050});
  Set(*module, "synthesis_voice=no such voice\n");
  const Said said = Speak(*module, "a");
  EXPECT_EQ(said.samples, Expected({kA}, 7));
  EXPECT_EQ(said.sampleRates, std::vector<int32_t>{22050});
  EXPECT_NE(ErrorText().find("no voice named \"no such voice\""),
            std::string::npos)
      << ErrorText();
}

TEST_F(SdVeskModule, RefusesInitWhenTheEngineDoesNotLoad) {
  const auto notALibrary = scratch.Write("libvesksynth.so", "not a library");
  TempDir noVoice;
  std::filesystem::copy_file(VESK_ENGINE_LIBRARY,
                             noVoice.path() / host::kEngineFileName);
  for (const std::string& path :
       {std::string("/nonexistent/libvesksynth.so"), notALibrary.string(),
        noVoice.path().string()}) {
    initLast = "399 ERR CANT INIT MODULE";
    auto module = Start(path);
    ASSERT_EQ(initLines.size(), 2u) << path;
    EXPECT_TRUE(initLines[0].starts_with("399-sd_vesk: ")) << initLines[0];
    EXPECT_NE(ErrorText().find("sd_vesk: cannot start: "), std::string::npos)
        << ErrorText();
    EXPECT_NE(initLines[0].find(path), std::string::npos) << initLines[0];
    module->Send("SPEAK\nQUIT\n");
    EXPECT_EQ(module->Rest(), "301 ERROR CANT SPEAK\n210 OK QUIT\n");
  }
}

TEST_F(SdVeskModule, ReadsMalformedSsmlAndAMegabyteOfText) {
  engine.AddVoice("alpha", 16000, 2);
  auto module = StartReady();
  const Said malformed =
      Speak(*module, "<speak>a < b &bogus <mark name=\"x/>c<<>></");
  EXPECT_EQ(malformed.samples, Expected({kA, kB, kB, kC}, 2));
  // Mostly characters this voice has no unit for, so that the test reads
  // a megabyte of text, not hours of audio.
  // One line: the hosts' text preparation reads a line break as a pause.
  const std::string line = "ab \u4E2D\u6587\u6CA1\u6709\u58F0\u97F3 xyz ";
  std::string text;
  while (text.size() < (1u << 20)) text += line;
  const Said large = Speak(*module, "<speak>" + text + "</speak>");
  EXPECT_EQ(large.samples.size(), text.size() / line.size() * 2 * 2);
  EXPECT_EQ(large.lines.back(), "702 END");
  module->Send("QUIT\n");
  EXPECT_EQ(module->Rest(), "210 OK QUIT\n");
}

// The debug lines of a log ("sd_vesk HH:MM:SS.mmm: what"), without their
// prefix; fails on a debug line whose time is not in that form.
Lines DebugLines(const std::string& log) {
  static const std::regex kLine(
      R"(sd_vesk [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3}: (.*))");
  Lines lines;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.starts_with("sd_vesk ") || line.starts_with("sd_vesk: ")) {
      continue;
    }
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, kLine)) << line;
    if (!match.empty()) lines.push_back(match[1]);
  }
  return lines;
}

TEST_F(SdVeskModule, LogsCommandsTextsSettingsAndEventsWithDebugOn) {
  engine.AddVoice("alpha", 16000);
  const auto logFile = scratch.path() / "debug" / "vesk-debug.log";
  std::filesystem::create_directories(logFile.parent_path());
  extraConfig += "Debug 1\nDebugFile \"" + logFile.string() + "\"\n";
  auto module = StartReady();
  Set(*module, "rate=0\npunctuation_mode=some\n");
  const Said said =
      Speak(*module, "<speak>ab<mark name=\"one\"/>c\n10%</speak>");
  EXPECT_EQ(said.lines.front(), "701 BEGIN");
  const std::string longText(sd::kLoggedTextLimit + 1, 'b');
  Speak(*module, longText);
  module->Send("QUIT\n");
  EXPECT_EQ(module->Rest(), "210 OK QUIT\n");
  EXPECT_EQ(module->Wait(), 0);

  // The log is where the configuration put it, in the order things
  // happened; standard output held only the protocol (checked above).
  // The pieces between marks, prepared as the module prepares them.
  const std::string ssml = "<speak>ab<mark name=\"one\"/>c\n10%</speak>";
  host::PreparedStream stream(true,
                              textprep::PrepOptions{.readSymbols = false});
  Lines prepared;
  for (const auto& piece : sd::SplitSsml(ssml)) {
    stream.Append(host::ToUtf16(piece.text));
    prepared.push_back("prepared " +
                       sd::LoggedText(host::ToUtf8(stream.Take(true))));
  }
  ASSERT_EQ(prepared.size(), 2u);
  const std::string firstBlock = "first audio block, " +
                                 std::to_string(kUnitSamples) +
                                 " samples at 16000 Hz";
  const Lines expected = {
      "command INIT",
      "command AUDIO",
      "AUDIO audio_output_method=server",
      "command SET",
      "SET rate=0",
      "SET punctuation_mode=some",
      "command SPEAK",
      "SPEAK text |<speak>ab<mark name=\"one\"/>c\\n10%</speak>|",
      "701 BEGIN",
      prepared[0],
      firstBlock,
      "700 INDEX MARK one",
      prepared[1],
      "702 END",
      "command SPEAK",
      "SPEAK text (" + std::to_string(longText.size()) + " bytes)",
      "701 BEGIN",
      "prepared (" + std::to_string(longText.size()) + " bytes)",
      firstBlock,
      "702 END",
      "command QUIT",
  };
  EXPECT_EQ(DebugLines(ReadText(logFile)), expected);
  EXPECT_EQ(DebugLines(ErrorText()), Lines{});
}

TEST_F(SdVeskModule, SpeaksEnglishWordsInEnglishAndSpellsAcronyms) {
  engine.AddVoice("alpha", 16000);
  extraConfig = "";
  auto module = StartReady();
  // "b" is spelled by the engine, "Cab" is one English word, "USB" is
  // spelled again (the marker voice has only the unit of its B).
  const Said said = Speak(*module, "<speak>b Cab<mark name=\"m\"/>USB</speak>");
  const auto b = Expected({kB});
  ASSERT_GT(said.samples.size(), 2 * b.size());
  EXPECT_EQ(std::vector<int16_t>(said.samples.begin(),
                                 said.samples.begin() + b.size()),
            b);
  EXPECT_EQ(
      std::vector<int16_t>(said.samples.end() - b.size(), said.samples.end()),
      b);
  // Between them: espeak-ng's word, at the level the voice spoke at.
  const std::vector<int16_t> word(said.samples.begin() + b.size(),
                                  said.samples.end() - b.size());
  EXPECT_GT(word.size(), 1000u);
  EXPECT_NEAR(host::VoicedLoudness(word.data(), word.size()), kB, kB * 0.1);
  EXPECT_NE(word, Expected({kC, kA, kB})) << "spelled, not spoken";
  // The mark comes after the English word and before USB.
  const auto mark = std::find(said.lines.begin(), said.lines.end(), "700-m");
  ASSERT_NE(mark, said.lines.end());
  EXPECT_EQ(Lines(mark, said.lines.end()),
            Lines({"700-m", "700 INDEX MARK", "705", "702 END"}));

  // Spelling mode, and keys: everything spelled by the engine.
  Set(*module, "spelling_mode=on\n");
  EXPECT_EQ(Speak(*module, "<speak>b Cab USB</speak>").samples,
            Expected({kB, kC, kA, kB, kB}));
  Set(*module, "spelling_mode=off\n");
  EXPECT_EQ(Speak(*module, "cab_b", "KEY").samples, Expected({kC, kA, kB, kB}));
  EXPECT_NE(Speak(*module, "Cab").samples, Expected({kC, kA, kB}));
  module->Send("QUIT\n");
  EXPECT_EQ(module->Rest(), "210 OK QUIT\n");
}

TEST_F(SdVeskModule, StopsInsideEnglishWords) {
  engine.AddVoice("alpha", 16000);
  extraConfig = "";
  auto module = StartReady();
  // Far more audio than a pipe holds, all of it English.
  std::string words;
  for (int i = 0; i < 200; ++i) words += "Firefox ";
  Message(*module, "SPEAK", words);
  EXPECT_EQ(module->Until("705").lines, Lines({"701 BEGIN", "705"}));
  module->Send("STOP\n");
  const Said stopped = module->Until("703 STOP");
  for (const auto& line : stopped.lines) {
    EXPECT_TRUE(line == "705" || line == "703 STOP") << line;
  }
  EXPECT_EQ(Speak(*module, "b").samples, Expected({kB}));
  module->Send("QUIT\n");
  EXPECT_EQ(module->Rest(), "210 OK QUIT\n");
}

}  // namespace
}  // namespace vesk::test
