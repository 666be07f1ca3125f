// vesk-say: speaks text aloud, or into a sound file, through the engine
// library, loaded by path exactly as a screen reader loads it.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "audio_out.h"
#include "engine_library.h"
#include "english_words.h"
#include "host_text.h"
#include "prepared_stream.h"
#include "say_tool.h"
#include "tool_cli.h"

namespace host = vesk::host;
namespace say = vesk::say;
namespace tool = vesk::tool;

namespace {

// Text is spoken in pieces of at most this many code units, so memory stays
// bounded whatever the length of the input; smaller ones when the output is
// split, so that a part ends soon after its length is reached.
constexpr std::size_t kPieceLimit = 4096;
constexpr std::size_t kSplitPieceLimit = 256;
constexpr std::size_t kReadBlock = 64 * 1024;
// An utterance that delivers nothing for this long has hung.
constexpr auto kSilenceLimit = std::chrono::seconds(60);

bool quiet = false;

// Everything the play callback and the signal thread touch. The callback
// runs on the engine's worker thread; the main thread waits for the
// completion call or a stop.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  int32_t pieceId = 0;
  bool pieceDone = false;
  uint64_t calls = 0;
  uint64_t samples = 0;
  bool writeFailed = false;
  int stopSignal = 0;  // the signal that stopped the run, 0 while running
  say::AudioOut* out = nullptr;
  int wakeFd[2] = {-1, -1};  // written when a signal arrives
  // The running level of the engine's voiced audio, which English words are
  // brought to; 0 before any.
  double loudness = 0;
};

Shared shared;

int32_t OnPlay(const char16_t*, const int16_t* samples, int32_t byteCount,
               int32_t userValue) {
  if (samples != nullptr && byteCount >= 2) {
    const std::size_t count = std::size_t(byteCount) / 2;
    const bool written = shared.out->Write(samples, count);
    const double level = host::VoicedLoudness(samples, count);
    std::lock_guard lock(shared.mutex);
    if (level > 0) {
      shared.loudness =
          shared.loudness > 0 ? 0.9 * shared.loudness + 0.1 * level : level;
    }
    ++shared.calls;
    shared.samples += count;
    if (!written) shared.writeFailed = true;
  } else {
    std::lock_guard lock(shared.mutex);
    ++shared.calls;
    if (userValue == shared.pieceId) shared.pieceDone = true;
  }
  shared.changed.notify_all();
  return 0;
}

void OnLog(int32_t level, const char16_t* text) {
  if (level <= host::kLogInfo && quiet) return;
  std::fprintf(stderr, "vesk-say: engine %s: %s\n", host::LogLevelName(level),
               text != nullptr ? host::ToUtf8(text).c_str() : "");
}

int StopSignal() {
  std::lock_guard lock(shared.mutex);
  return shared.stopSignal;
}

// SIGINT and SIGTERM are taken by one thread that waits for them (blocked
// everywhere else, the engine's workers included), so a stop wakes the main
// thread wherever it waits.
void StartSignalThread() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  if (::pipe2(shared.wakeFd, O_CLOEXEC) != 0) shared.wakeFd[0] = -1;
  std::thread([stops] {
    int signal = 0;
    while (sigwait(&stops, &signal) == 0) {
      {
        std::lock_guard lock(shared.mutex);
        if (shared.stopSignal == 0) shared.stopSignal = signal;
      }
      shared.changed.notify_all();
      if (shared.wakeFd[1] >= 0) {
        [[maybe_unused]] const auto ignored = ::write(shared.wakeFd[1], "", 1);
      }
    }
  }).detach();
}

class ProgressBar {
 public:
  ProgressBar(bool enabled, uint64_t total)
      : enabled_(enabled && total > 0), total_(total) {}
  void Show(uint64_t done, double seconds) {
    if (!enabled_) return;
    constexpr int kWidth = 30;
    const uint64_t clamped = std::min(done, total_);
    const int filled = int(clamped * kWidth / total_);
    std::fprintf(stderr, "\r[%-*s] %3d%%  %.1f s of audio", kWidth,
                 std::string(std::size_t(filled), '#').c_str(),
                 int(clamped * 100 / total_), seconds);
    std::fflush(stderr);
    shown_ = true;
  }
  void End() {
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  uint64_t total_;
  bool shown_ = false;
};

enum class Spoken { kDone, kInterrupted, kFailed };

// Speaks one piece and waits for its completion call.
Spoken SpeakPiece(const host::EngineApi& api, const std::u16string& piece) {
  int32_t id;
  {
    std::lock_guard lock(shared.mutex);
    id = ++shared.pieceId;
    shared.pieceDone = false;
  }
  if (!api.Speak(nullptr, piece.c_str(), id)) {
    std::cerr << "vesk-say: the engine refused to speak\n";
    return Spoken::kFailed;
  }
  std::unique_lock lock(shared.mutex);
  uint64_t seenCalls = shared.calls;
  auto lastChange = std::chrono::steady_clock::now();
  while (!shared.pieceDone) {
    if (shared.stopSignal != 0) return Spoken::kInterrupted;
    if (shared.writeFailed) return Spoken::kFailed;
    shared.changed.wait_for(lock, std::chrono::seconds(1));
    const auto now = std::chrono::steady_clock::now();
    if (shared.calls != seenCalls) {
      seenCalls = shared.calls;
      lastChange = now;
    } else if (now - lastChange > kSilenceLimit) {
      std::cerr << "vesk-say: the engine stopped delivering audio\n";
      return Spoken::kFailed;
    }
  }
  return shared.writeFailed ? Spoken::kFailed : Spoken::kDone;
}

// Reads what is there on fd, waking early for a stop. 0 at the end, -1 on
// an error (errno) or a stop.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  while (true) {
    pollfd waits[2] = {{fd, POLLIN, 0}, {shared.wakeFd[0], POLLIN, 0}};
    const int ready = ::poll(waits, shared.wakeFd[0] >= 0 ? 2 : 1, -1);
    if (StopSignal() != 0) return -1;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    const ssize_t got = ::read(fd, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

// The first bytes of the input, from which its encoding is told: one read
// (a pipe delivers what its writer has written), or the first block of a
// file.
bool ReadHead(int fd, bool regularFile, std::string& head) {
  std::vector<char> block(kReadBlock);
  while (head.size() < kReadBlock) {
    const ssize_t got = ReadSome(fd, block.data(), kReadBlock - head.size());
    if (got < 0) return false;
    head.append(block.data(), std::size_t(got));
    if (got == 0 || !regularFile) break;
  }
  return true;
}

// English words: spoken by espeak-ng's English voice unless spelled.
struct English {
  bool spell = false;
  int32_t rate = 50;
  int32_t pitch = 50;
  int32_t volume = 50;
  int32_t sampleRate = 16000;
};

// Writes one English word's audio, in blocks with a look at a stop between.
Spoken SpeakEnglish(const std::u16string& word, const English& english) {
  static const host::EnglishVoice voice;
  double loudness;
  {
    std::lock_guard lock(shared.mutex);
    loudness = shared.loudness;
  }
  const auto samples = voice.Speak(word, {.sampleRate = english.sampleRate,
                                          .rate = english.rate,
                                          .pitch = english.pitch,
                                          .loudness = loudness,
                                          .volumeGain = english.volume / 50.0});
  constexpr std::size_t kBlock = 4096;
  for (std::size_t at = 0; at < samples.size(); at += kBlock) {
    if (StopSignal() != 0) return Spoken::kInterrupted;
    const std::size_t count = std::min(kBlock, samples.size() - at);
    if (!shared.out->Write(samples.data() + at, count)) return Spoken::kFailed;
    std::lock_guard lock(shared.mutex);
    shared.samples += count;
  }
  return Spoken::kDone;
}

// Speaks one prepared piece: the engine's stretches with the engine, English
// words with the English voice.
Spoken SpeakText(const host::EngineApi& api, const std::u16string& piece,
                 const English& english) {
  if (english.spell) return SpeakPiece(api, piece);
  for (const auto& span : host::SplitEnglishWords(piece)) {
    const Spoken result = span.english ? SpeakEnglish(span.text, english)
                          : host::HasContent(span.text)
                              ? SpeakPiece(api, span.text)
                              : Spoken::kDone;
    if (result != Spoken::kDone) return result;
  }
  return Spoken::kDone;
}

struct Input {
  int fd = -1;  // -1: the text is all in head
  std::string head;
  uint64_t size = 0;  // 0 when unknown
  say::InputDecoder decoder;
  host::PreparedStream text;
};

// Decodes, prepares and speaks the input piece by piece.
Spoken SpeakAll(const host::EngineApi& api, Input& input, say::AudioOut& out,
                std::size_t pieceLimit, ProgressBar& progress, int sampleRate,
                const English& english) {
  std::u16string decoded;
  std::u16string prepared;
  bool finished = input.fd < 0;
  bool warned = false;
  uint64_t consumed = input.head.size();
  input.decoder.Feed(input.head, decoded);
  if (finished) input.decoder.Finish(decoded);
  std::vector<char> block(kReadBlock);
  while (true) {
    if (!warned && input.decoder.firstBadByte()) {
      warned = true;
      std::cerr << "vesk-say: warning: bytes that are not text at byte "
                << *input.decoder.firstBadByte() << " (and maybe after) "
                << "are skipped\n";
    }
    // Prepared before it is cut, so that preparation sees whole lines.
    input.text.Append(decoded);
    decoded.clear();
    prepared += input.text.Take(finished);
    const bool allPrepared = finished;
    while (const std::size_t length =
               host::NextPieceLength(prepared, pieceLimit, allPrepared)) {
      const std::u16string piece = prepared.substr(0, length);
      prepared.erase(0, length);
      if (host::HasContent(piece)) {
        const Spoken result = SpeakText(api, piece, english);
        if (result != Spoken::kDone) return result;
        if (!out.AtBreak()) return Spoken::kFailed;
      }
      uint64_t samples;
      {
        std::lock_guard lock(shared.mutex);
        samples = shared.samples;
      }
      progress.Show(consumed, double(samples) / sampleRate);
      if (StopSignal() != 0) return Spoken::kInterrupted;
    }
    if (allPrepared) return Spoken::kDone;
    const ssize_t got = ReadSome(input.fd, block.data(), block.size());
    if (got < 0) {
      if (StopSignal() != 0) return Spoken::kInterrupted;
      std::cerr << "vesk-say: read error: " << std::strerror(errno) << "\n";
      return Spoken::kFailed;
    }
    consumed += uint64_t(got);
    if (got == 0) {
      input.decoder.Finish(decoded);
      finished = true;
    } else {
      input.decoder.Feed(std::string_view(block.data(), std::size_t(got)),
                         decoded);
    }
  }
}

int Usage(const std::string& message) {
  std::cerr << "vesk-say: " << message << " (see --help)\n";
  return tool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "vesk-say: speaks Chinese text aloud, or into a sound file, with the "
      "Vesk engine"};
  app.footer(
      "The speech is 16-bit mono PCM at the voice's own sample rate: 24000 Hz "
      "for the human voice, 16000 Hz for the espeak-ng voice (--list-voices "
      "shows each voice's). Without -o "
      "it is played on the sound device. A .wav longer than 4 GiB is written "
      "as RF64.\n\nExit status: 0 done, 1 failed, 2 wrong command line, 128+N "
      "stopped by signal N (130 for Ctrl-C).");
  tool::AddVersionFlag(app, "vesk-say");
  std::vector<std::string> words;
  std::string file;
  std::string outputPath;
  std::string device;
  std::string encoding;
  std::string enginePath;
  std::string voice;
  double splitMinutes = 0;
  bool raw = false;
  bool rawText = false;
  bool spellEnglish = false;
  int rate = 50;
  int pitch = 50;
  int volume = 50;
  bool listVoices = false;
  bool info = false;
  app.add_option("text", words,
                 "Text to speak (else -f FILE or standard input)");
  auto* fileOption =
      app.add_option("-f,--file", file,
                     "Read the text from FILE (- for standard input)")
          ->type_name("FILE");
  app.add_option("-o,--output", outputPath,
                 "Write the speech to FILE instead of playing it; the format "
                 "follows the name (.wav, .flac, .ogg, .opus, .mp3); - writes "
                 "a WAV stream to standard output")
      ->type_name("FILE");
  app.add_flag("--raw", raw,
               "Write raw 16-bit little-endian PCM (with -o FILE or -o -)");
  app.add_option("--split", splitMinutes,
                 "Write parts of about MINUTES each: book.opus becomes "
                 "book-001.opus, book-002.opus, ...")
      ->type_name("MINUTES")
      ->check(CLI::PositiveNumber);
  app.add_option("--device", device,
                 "Sound device to play on (default: the system's)")
      ->type_name("NAME");
  app.add_option("--encoding", encoding,
                 "Encoding of the input (an iconv name such as GB18030 or "
                 "BIG5); by default UTF-8, UTF-16 with a byte-order mark, or "
                 "detected")
      ->type_name("NAME");
  app.add_flag("--raw-text", rawText,
               "Hand the text to the engine as it is, without preparing "
               "numbers, dates, units and symbols for reading");
  app.add_flag("--spell-english", spellEnglish,
               "Spell English words letter by letter with the engine instead "
               "of speaking them with espeak-ng's English voice (acronyms "
               "such as USB are always spelled)");
  app.add_option("--engine", enginePath,
                 "Engine library, or the directory holding it")
      ->type_name("PATH");
  app.add_option("--voice", voice, "Voice to speak with (see --list-voices)")
      ->type_name("NAME");
  app.add_option("--rate", rate,
                 "Speed 0..100: 0 half, 50 normal (default), 100 double")
      ->check(CLI::Range(0, 100));
  app.add_option("--pitch", pitch,
                 "Pitch 0..100: 0 half, 50 normal (default), 100 double")
      ->check(CLI::Range(0, 100));
  app.add_option("--volume", volume, "Volume 0..100 (default 50)")
      ->check(CLI::Range(0, 100));
  app.add_flag("--list-voices", listVoices,
               "List the engine's voices and their sample rates");
  app.add_flag("--info", info, "Show the engine's name, version and format");
  app.add_flag("-q,--quiet", quiet,
               "Hide the engine's information messages and the progress");
  if (const auto exit = tool::ParseCommandLine(app, argc, argv)) return *exit;

  const bool speaking = !listVoices && !info;
  const bool toStdout = outputPath == "-";
  if (speaking && !words.empty() && fileOption->count() > 0) {
    return Usage("give the text either as arguments or with -f, not both");
  }
  if (raw && outputPath.empty()) return Usage("--raw needs -o FILE or -o -");
  if (splitMinutes > 0 && (outputPath.empty() || toStdout)) {
    return Usage("--split needs -o FILE");
  }
  if (std::string error;
      !encoding.empty() && !say::InputDecoder().Open(encoding, error)) {
    return Usage(error);
  }

  // Stops are taken from here on: the engine's threads inherit the mask.
  StartSignalThread();

  Input input;
  input.text = host::PreparedStream(!rawText);
  if (speaking) {
    bool regularFile = false;
    if (!words.empty()) {
      for (const auto& word : words) {
        input.head += (input.head.empty() ? "" : " ") + word;
      }
    } else {
      input.fd = STDIN_FILENO;
      if (!file.empty() && file != "-") {
        input.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status {};
        if (input.fd < 0 || ::fstat(input.fd, &status) != 0 ||
            S_ISDIR(status.st_mode)) {
          std::cerr << "vesk-say: cannot read " << file << ": "
                    << (input.fd < 0 ? std::strerror(errno)
                                     : "it is a directory")
                    << "\n";
          return tool::kExitFailure;
        }
      }
      struct stat status {};
      if (::fstat(input.fd, &status) == 0 && S_ISREG(status.st_mode)) {
        regularFile = true;
        input.size = uint64_t(status.st_size);
      }
      if (!ReadHead(input.fd, regularFile, input.head)) {
        if (const int signal = StopSignal()) {
          return tool::kExitSignalBase + signal;
        }
        std::cerr << "vesk-say: read error: " << std::strerror(errno) << "\n";
        return tool::kExitFailure;
      }
    }
    const say::InputEncoding chosen = say::ChooseEncoding(input.head, encoding);
    if (!chosen.ok) {
      std::cerr << "vesk-say: " << chosen.error << "\n";
      return tool::kExitFailure;
    }
    std::string error;
    if (!input.decoder.Open(chosen.name, error)) {
      std::cerr << "vesk-say: " << error << "\n";
      return tool::kExitFailure;
    }
    if (!chosen.note.empty()) std::cerr << "vesk-say: " << chosen.note << "\n";
  }

  std::string error;
  const auto libraryPath = host::FindEngine(
      enginePath, host::EngineDirectories(host::HostPlace::kProgram), error);
  if (!libraryPath) {
    std::cerr << "vesk-say: " << error << "\n";
    return tool::kExitFailure;
  }
  host::EngineLibrary library(*libraryPath);
  if (!library.ok()) {
    std::cerr << "vesk-say: " << library.error() << "\n";
    return tool::kExitFailure;
  }
  const host::EngineApi& api = library.api();

  if (!api.Initialize(OnLog)) {
    std::cerr << "vesk-say: the engine did not start (no voice in "
              << libraryPath->parent_path().string() << "?)\n";
    return tool::kExitFailure;
  }
  const auto finish = [&](int code) {
    api.Uninitialize();
    return code;
  };

  const auto names = host::VoiceNames(api);
  if (info) {
    EngineInfo engineInfo{};
    AudioFormat format{};
    api.GetInfo(&engineInfo);
    api.GetAudioFormat(&format);
    std::cout << "engine:  " << host::ToUtf8(engineInfo.name) << " "
              << host::ToUtf8(engineInfo.version) << "\n"
              << "library: " << libraryPath->string() << "\n"
              << "voices:  " << names.size() << "\n"
              << "format:  " << format.sampleRate << " Hz, "
              << format.bitsPerSample << "-bit mono PCM (tag "
              << format.formatTag << ")\n";
  }
  if (listVoices) {
    for (const auto& name : names) {
      AudioFormat format{};
      api.PrepareVoice(name.c_str());
      api.GetAudioFormat(&format);
      std::cout << host::ToUtf8(name) << "\t" << format.sampleRate << " Hz\n";
    }
  }
  if (!speaking) return finish(tool::kExitOk);

  if (!voice.empty() && !api.PrepareVoice(host::ToUtf16(voice).c_str())) {
    std::cerr << "vesk-say: no voice named " << voice << "; the voices are:";
    for (const auto& name : names) std::cerr << " " << host::ToUtf8(name);
    std::cerr << "\n";
    return finish(tool::kExitFailure);
  }
  api.SetRate(0, rate);
  api.SetPitch(0, pitch);
  api.SetVolume(0, volume);
  AudioFormat format{};
  api.GetAudioFormat(&format);
  const int sampleRate = format.sampleRate > 0 ? format.sampleRate : 16000;

  std::unique_ptr<say::AudioOut> out;
  if (outputPath.empty()) {
    out = say::OpenDeviceOut(device, sampleRate, error);
  } else if (toStdout) {
    out = say::OpenStdoutOut(sampleRate, raw, error);
  } else {
    out = say::OpenFileOut(outputPath, sampleRate, {raw, splitMinutes * 60.0},
                           error);
  }
  if (out == nullptr) {
    std::cerr << "vesk-say: " << error << "\n";
    return finish(tool::kExitFailure);
  }
  shared.out = out.get();

  api.SetPlayCallback(OnPlay);
  ProgressBar progress(::isatty(STDERR_FILENO) != 0 && !quiet, input.size);
  const Spoken result = SpeakAll(
      api, input, *out, splitMinutes > 0 ? kSplitPieceLimit : kPieceLimit,
      progress, sampleRate,
      English{.spell = spellEnglish,
              .rate = rate,
              .pitch = pitch,
              .volume = volume,
              .sampleRate = sampleRate});
  progress.End();
  // What is still queued for the device is dropped on a stop; Stop returns
  // once no further callback can come.
  if (result != Spoken::kDone) out->Cancel();
  api.Stop();
  api.SetPlayCallback(nullptr);
  if (input.fd > STDIN_FILENO) ::close(input.fd);

  const double seconds = double(shared.samples) / sampleRate;
  if (result == Spoken::kFailed) {
    if (!out->error().empty())
      std::cerr << "vesk-say: " << out->error() << "\n";
    out->Discard();
    return finish(tool::kExitFailure);
  }
  // Stopped by a signal: what was spoken is kept, complete and readable.
  if (!out->Finish()) {
    std::cerr << "vesk-say: " << out->error() << "\n";
    out->Discard();
    return finish(tool::kExitFailure);
  }
  const auto written = out->Written();
  if (result == Spoken::kInterrupted) {
    std::cerr << "vesk-say: stopped; " << seconds << " s of audio";
    if (!written.empty()) std::cerr << " written";
    std::cerr << "\n";
    return finish(tool::kExitSignalBase + StopSignal());
  }
  if (!written.empty()) {
    std::cerr << "vesk-say: wrote " << written.front().string();
    if (written.size() > 1) {
      std::cerr << " .. " << written.back().filename().string() << " ("
                << written.size() << " parts, ";
    } else {
      std::cerr << " (";
    }
    std::cerr << seconds << " s at " << sampleRate << " Hz)\n";
  }
  return finish(tool::kExitOk);
}
