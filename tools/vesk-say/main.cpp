// vesk-say: speaks text to a WAV file (or raw PCM) through the engine
// library, loaded by path exactly as a screen reader loads it.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

#include "say_tool.h"

namespace say = vesk::say;

namespace {

// Text is spoken in pieces of at most this many code units, so memory stays
// bounded whatever the length of the input.
constexpr std::size_t kPieceLimit = 4096;
constexpr std::size_t kReadBlock = 64 * 1024;
// An utterance that delivers nothing for this long has hung.
constexpr auto kSilenceLimit = std::chrono::seconds(60);

enum ExitCode { kOk = 0, kFailure = 1, kUsage = 2, kInterrupted = 130 };

std::atomic<bool> interrupted{false};
bool quiet = false;

void OnSignal(int) { interrupted.store(true); }

// Everything the play callback touches. It runs on the engine's worker
// thread; the main thread waits for the completion call.
struct Output {
  std::mutex mutex;
  std::condition_variable changed;
  int32_t pieceId = 0;
  bool pieceDone = false;
  uint64_t calls = 0;
  SNDFILE* wav = nullptr;
  bool raw = false;
  uint64_t samples = 0;
  bool writeFailed = false;
};

Output output;

int32_t OnPlay(const char16_t*, const int16_t* samples, int32_t byteCount,
               int32_t userValue) {
  if (samples != nullptr && byteCount >= 2) {
    const std::size_t count = std::size_t(byteCount) / 2;
    bool written = true;
    if (output.wav != nullptr) {
      written = sf_write_short(output.wav, samples, sf_count_t(count)) ==
                sf_count_t(count);
    } else if (output.raw) {
      written = std::fwrite(samples, 2, count, stdout) == count;
    }
    std::lock_guard lock(output.mutex);
    ++output.calls;
    output.samples += count;
    if (!written) output.writeFailed = true;
  } else {
    std::lock_guard lock(output.mutex);
    ++output.calls;
    if (userValue == output.pieceId) output.pieceDone = true;
  }
  output.changed.notify_all();
  return 0;
}

void OnLog(int32_t level, const char16_t* text) {
  if (level <= 1 && quiet) return;
  const char* name = level >= 4 ? "error" : level >= 2 ? "warning" : "info";
  std::fprintf(stderr, "vesk-say: engine %s: %s\n", name,
               text != nullptr ? say::ToUtf8(text).c_str() : "");
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read blocked on standard input returns on Ctrl-C.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
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
Spoken SpeakPiece(const say::EngineApi& api, const std::u16string& piece) {
  int32_t id;
  {
    std::lock_guard lock(output.mutex);
    id = ++output.pieceId;
    output.pieceDone = false;
  }
  if (!api.Speak(nullptr, piece.c_str(), id)) {
    std::cerr << "vesk-say: the engine refused to speak\n";
    return Spoken::kFailed;
  }
  std::unique_lock lock(output.mutex);
  uint64_t seenCalls = output.calls;
  auto lastChange = std::chrono::steady_clock::now();
  while (!output.pieceDone) {
    if (interrupted.load()) return Spoken::kInterrupted;
    if (output.writeFailed) {
      std::cerr << "vesk-say: cannot write the audio\n";
      return Spoken::kFailed;
    }
    output.changed.wait_for(lock, std::chrono::milliseconds(100));
    const auto now = std::chrono::steady_clock::now();
    if (output.calls != seenCalls) {
      seenCalls = output.calls;
      lastChange = now;
    } else if (now - lastChange > kSilenceLimit) {
      std::cerr << "vesk-say: the engine stopped delivering audio\n";
      return Spoken::kFailed;
    }
  }
  return output.writeFailed ? Spoken::kFailed : Spoken::kDone;
}

// Reads text from fd (or takes it whole from text) and speaks it piece by
// piece.
Spoken SpeakAll(const say::EngineApi& api, int fd, const std::string& text,
                ProgressBar& progress, int sampleRate) {
  say::Utf8Decoder decoder;
  std::u16string pending;
  uint64_t consumed = 0;
  bool finished = fd < 0;
  if (fd < 0) {
    decoder.Feed(text, pending);
    decoder.Finish(pending);
  }
  std::vector<char> block(kReadBlock);
  while (true) {
    while (true) {
      const std::size_t length =
          say::NextPieceLength(pending, kPieceLimit, finished);
      if (length == 0) break;
      const std::u16string piece = pending.substr(0, length);
      pending.erase(0, length);
      if (say::HasContent(piece)) {
        const Spoken result = SpeakPiece(api, piece);
        if (result != Spoken::kDone) return result;
      }
      uint64_t samples;
      {
        std::lock_guard lock(output.mutex);
        samples = output.samples;
      }
      progress.Show(consumed, double(samples) / sampleRate);
      if (interrupted.load()) return Spoken::kInterrupted;
    }
    if (finished) return Spoken::kDone;
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0) {
      if (errno == EINTR) {
        if (interrupted.load()) return Spoken::kInterrupted;
        continue;
      }
      std::cerr << "vesk-say: read error: " << std::strerror(errno) << "\n";
      return Spoken::kFailed;
    }
    consumed += uint64_t(got);
    if (got == 0) {
      decoder.Finish(pending);
      finished = true;
    } else {
      decoder.Feed(std::string_view(block.data(), std::size_t(got)), pending);
    }
  }
}

std::vector<std::u16string> VoiceNames(const say::EngineApi& api) {
  uint32_t count = 0;
  if (!api.GetVoiceList(nullptr, &count) || count == 0) return {};
  std::vector<std::u16string> buffers(count, std::u16string(128, u'\0'));
  std::vector<char16_t*> pointers;
  for (auto& buffer : buffers) pointers.push_back(buffer.data());
  if (!api.GetVoiceList(pointers.data(), &count)) return {};
  std::vector<std::u16string> names;
  for (auto& buffer : buffers) names.emplace_back(buffer.c_str());
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vesk-say: speaks Chinese text into a WAV file"};
  std::vector<std::string> words;
  std::string file;
  std::string outputPath;
  std::string enginePath;
  std::string voice;
  int rate = 50;
  int pitch = 50;
  int volume = 50;
  bool listVoices = false;
  bool info = false;
  app.add_option("text", words,
                 "Text to speak (else -f FILE or standard input)");
  auto* fileOption = app.add_option(
      "-f,--file", file, "Read the text from FILE (- for standard input)");
  app.add_option("-o,--output", outputPath,
                 "WAV file to write, or - for raw 16-bit PCM on standard "
                 "output");
  app.add_option("--engine", enginePath,
                 "Engine library, or the directory holding it");
  app.add_option("--voice", voice, "Voice to speak with (see --list-voices)");
  app.add_option("--rate", rate,
                 "Speed 0..100: 0 half, 50 normal (default), 100 double")
      ->check(CLI::Range(0, 100));
  app.add_option("--pitch", pitch,
                 "Pitch 0..100: 0 half, 50 normal (default), 100 double")
      ->check(CLI::Range(0, 100));
  app.add_option("--volume", volume, "Volume 0..100 (default 50)")
      ->check(CLI::Range(0, 100));
  app.add_flag("--list-voices", listVoices, "List the engine's voices");
  app.add_flag("--info", info, "Show the engine's name, version and format");
  app.add_flag("-q,--quiet", quiet, "Hide the engine's information messages");
  CLI11_PARSE(app, argc, argv);

  const bool speaking = !listVoices && !info;
  if (speaking && !words.empty() && fileOption->count() > 0) {
    std::cerr << "vesk-say: give the text either as arguments or with -f, "
                 "not both\n";
    return kUsage;
  }
  if (speaking && outputPath.empty()) {
    std::cerr << "vesk-say: give -o FILE.wav, or -o - for raw PCM on "
                 "standard output\n";
    return kUsage;
  }

  int fd = -1;
  uint64_t inputSize = 0;
  std::string text;
  if (speaking) {
    if (!words.empty()) {
      for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    } else if (!file.empty() && file != "-") {
      fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat status {};
      if (fd < 0 || ::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        std::cerr << "vesk-say: cannot read " << file << "\n";
        if (fd >= 0) ::close(fd);
        return kFailure;
      }
      if (S_ISREG(status.st_mode)) inputSize = uint64_t(status.st_size);
    } else {
      fd = STDIN_FILENO;
      struct stat status {};
      if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        inputSize = uint64_t(status.st_size);
      }
    }
  }

  std::string error;
  const auto libraryPath =
      say::FindEngine(enginePath, say::DefaultEngineDirectories(), error);
  if (!libraryPath) {
    std::cerr << "vesk-say: " << error << "\n";
    return kFailure;
  }
  say::EngineLibrary library(*libraryPath);
  if (!library.ok()) {
    std::cerr << "vesk-say: " << library.error() << "\n";
    return kFailure;
  }
  const say::EngineApi& api = library.api();
  InstallSignalHandlers();

  if (!api.Initialize(OnLog)) {
    std::cerr << "vesk-say: the engine did not start (no voice in "
              << libraryPath->parent_path().string() << "?)\n";
    return kFailure;
  }
  const auto finish = [&](int code) {
    api.Uninitialize();
    return code;
  };

  const auto names = VoiceNames(api);
  if (info) {
    EngineInfo engineInfo{};
    AudioFormat format{};
    api.GetInfo(&engineInfo);
    api.GetAudioFormat(&format);
    std::cout << "engine:  " << say::ToUtf8(engineInfo.name) << " "
              << say::ToUtf8(engineInfo.version) << "\n"
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
      std::cout << say::ToUtf8(name) << "\t" << format.sampleRate << " Hz\n";
    }
  }
  if (!speaking) return finish(kOk);

  if (!voice.empty() && !api.PrepareVoice(say::ToUtf16(voice).c_str())) {
    std::cerr << "vesk-say: no voice named " << voice << "; the voices are:";
    for (const auto& name : names) std::cerr << " " << say::ToUtf8(name);
    std::cerr << "\n";
    return finish(kFailure);
  }
  api.SetRate(0, rate);
  api.SetPitch(0, pitch);
  api.SetVolume(0, volume);
  AudioFormat format{};
  api.GetAudioFormat(&format);
  const int sampleRate = format.sampleRate > 0 ? format.sampleRate : 16000;

  if (outputPath == "-") {
    output.raw = true;
  } else {
    SF_INFO wavInfo{};
    wavInfo.samplerate = sampleRate;
    wavInfo.channels = 1;
    wavInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    output.wav = sf_open(outputPath.c_str(), SFM_WRITE, &wavInfo);
    if (output.wav == nullptr) {
      std::cerr << "vesk-say: cannot write " << outputPath << ": "
                << sf_strerror(nullptr) << "\n";
      return finish(kFailure);
    }
  }

  api.SetPlayCallback(OnPlay);
  ProgressBar progress(::isatty(STDERR_FILENO) != 0, inputSize);
  const Spoken result = SpeakAll(api, fd, text, progress, sampleRate);
  progress.End();
  // Stop returns once no further callback can come.
  api.Stop();
  api.SetPlayCallback(nullptr);
  if (fd > STDIN_FILENO) ::close(fd);

  bool closed = true;
  if (output.wav != nullptr) closed = sf_close(output.wav) == 0;
  if (output.raw) closed = std::fflush(stdout) == 0;
  output.wav = nullptr;
  const double seconds = double(output.samples) / sampleRate;
  if (!closed) {
    std::cerr << "vesk-say: cannot write " << outputPath << "\n";
    return finish(kFailure);
  }
  if (result == Spoken::kInterrupted) {
    std::cerr << "vesk-say: stopped; " << seconds << " s of audio written\n";
    return finish(kInterrupted);
  }
  if (result == Spoken::kFailed) return finish(kFailure);
  if (!output.raw) {
    std::cerr << "vesk-say: wrote " << outputPath << " (" << seconds << " s at "
              << sampleRate << " Hz)\n";
  }
  return finish(kOk);
}
