#include "module.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>

#include "engine_library.h"
#include "english_words.h"
#include "host_text.h"
#include "module_text.h"
#include "prepared_stream.h"

namespace vesk::sd {

namespace {

namespace host = vesk::host;

// Where the module's messages go: standard error, which the server sends to
// its log directory, or the configuration's DebugFile. Never standard
// output, which is the protocol's.
std::FILE* logFile = stderr;
bool debugging = false;

void Log(const std::string& text) {
  std::fprintf(logFile, "sd_vesk: %s\n", text.c_str());
  std::fflush(logFile);
}

// With Debug on: what the module received, prepared and sent, each line
// timed to the millisecond.
void Debug(const std::string& text) {
  if (!debugging) return;
  std::fprintf(logFile, "sd_vesk %s: %s\n", LogTimestamp().c_str(),
               text.c_str());
  std::fflush(logFile);
}

// The engine's start-up messages go to the server's log; the errors among
// them also explain a refused INIT.
std::vector<std::string> engineErrors;

void OnEngineLog(int32_t level, const char16_t* text) {
  const std::string line = text != nullptr ? host::ToUtf8(text) : "";
  Log(std::string("engine ") + host::LogLevelName(level) + ": " + line);
  if (level >= host::kLogError) engineErrors.push_back(line);
}

// Replies and events share one stream; whole writes never interleave.
class Output {
 public:
  explicit Output(int fd) : fd_(fd) {}
  bool Write(std::string_view text) {
    std::lock_guard lock(mutex_);
    while (!text.empty()) {
      const ssize_t wrote = ::write(fd_, text.data(), text.size());
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return false;
      text.remove_prefix(std::size_t(wrote));
    }
    return true;
  }

 private:
  std::mutex mutex_;
  int fd_;
};

// Chunks from the play callback, waiting for the module's thread to send
// them. The callback only queues; it waits while the queue is full so that
// a long text does not pile up in memory, and never once the utterance is
// being stopped.
class AudioQueue {
 public:
  enum class Next { kChunk, kEnd, kInterrupted };

  void Reset() {
    std::lock_guard lock(mutex_);
    chunks_.clear();
    queuedBytes_ = 0;
    cancelled_ = false;
  }

  void Push(const int16_t* samples, int32_t byteCount) {
    std::unique_lock lock(mutex_);
    if (samples == nullptr || byteCount <= 0) {
      chunks_.push_back({{}, true});
    } else {
      changed_.wait(lock,
                    [&] { return cancelled_ || queuedBytes_ < kLimitBytes; });
      if (cancelled_) return;
      chunks_.push_back({{samples, samples + byteCount / 2}, false});
      queuedBytes_ += std::size_t(byteCount);
    }
    changed_.notify_all();
  }

  // Releases a callback waiting for room; nothing is queued any more.
  void Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }

  // Wakes Pop so that it looks at interrupted again.
  void Wake() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }

  Next Pop(std::vector<int16_t>& samples,
           const std::atomic<bool>& interrupted) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return interrupted || !chunks_.empty(); });
    if (interrupted) return Next::kInterrupted;
    Chunk chunk = std::move(chunks_.front());
    chunks_.pop_front();
    queuedBytes_ -= chunk.samples.size() * 2;
    changed_.notify_all();
    if (chunk.end) return Next::kEnd;
    samples = std::move(chunk.samples);
    return Next::kChunk;
  }

 private:
  struct Chunk {
    std::vector<int16_t> samples;
    bool end = false;
  };
  static constexpr std::size_t kLimitBytes = 256 * 1024;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> chunks_;
  std::size_t queuedBytes_ = 0;
  bool cancelled_ = false;
};

// The play callback is a plain function; it reaches the one queue of the
// process through this pointer, set before the callback is installed.
AudioQueue* playQueue = nullptr;

int32_t OnPlay(const char16_t*, const int16_t* samples, int32_t byteCount,
               int32_t) {
  if (playQueue != nullptr) playQueue->Push(samples, byteCount);
  return 0;
}

struct Message {
  std::vector<SpeechPiece> pieces;
  VoiceSettings settings;
  // English words to the English voice; off for spelling, CHAR and KEY.
  bool english = false;
};

// Speaks one message at a time on its own thread: sends the audio, the
// index marks and the events, and honours STOP and PAUSE between chunks.
class Speaker {
 public:
  Speaker(const host::EngineApi& api, Output& out) : api_(api), out_(out) {
    playQueue = &queue_;
    api_.SetPlayCallback(OnPlay);
    thread_ = std::thread([this] { Run(); });
  }

  ~Speaker() {
    {
      std::lock_guard lock(mutex_);
      quitting_ = true;
      stop_ = true;
    }
    changed_.notify_all();
    queue_.Wake();
    thread_.join();
    api_.SetPlayCallback(nullptr);
    playQueue = nullptr;
  }

  // Ends the message in progress, if any, and returns once its last event
  // has been sent.
  void Interrupt() {
    std::unique_lock lock(mutex_);
    if (!busy_ && !pending_) return;
    stop_ = true;
    queue_.Wake();
    changed_.wait(lock, [&] { return !busy_ && !pending_; });
  }

  // Hands over a message; its events follow the caller's 200 OK SPEAKING.
  void Start(Message message) {
    Interrupt();
    {
      std::lock_guard lock(mutex_);
      stop_ = false;
      pause_ = false;
      pending_ = std::move(message);
    }
    changed_.notify_all();
  }

  void Stop() {
    stop_ = true;
    queue_.Wake();
  }
  void Pause() { pause_ = true; }

 private:
  enum class Outcome { kSpoken, kStopped };

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quitting_ || pending_.has_value(); });
      if (quitting_) return;
      Message message = std::move(*pending_);
      pending_.reset();
      busy_ = true;
      lock.unlock();
      Play(message);
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }

  void Apply(const VoiceSettings& settings) {
    api_.SetRate(0, EngineRate(settings.rate));
    api_.SetPitch(0, EnginePitch(settings.pitch));
    api_.SetVolume(0, EngineVolume(settings.volume));
    const std::string& wanted = settings.synthesisVoice;
    if (!wanted.empty() && wanted != requestedVoice_) {
      requestedVoice_ = wanted;
      if (!api_.PrepareVoice(host::ToUtf16(wanted).c_str())) {
        Log("no voice named \"" + wanted + "\"; the current voice speaks");
      }
    }
    AudioFormat format{};
    api_.GetAudioFormat(&format);
    sampleRate_ = format.sampleRate;
  }

  void Play(const Message& message) {
    Apply(message.settings);
    // The pieces between marks are one text: a pause owed at a line break
    // before a mark is said at the start of the next piece.
    host::PreparedStream text(true,
                              textprep::PrepOptions{.readSymbols = false});
    Debug("701 BEGIN");
    out_.Write("701 BEGIN\n");
    firstBlock_ = true;
    for (std::size_t i = 0; i < message.pieces.size(); ++i) {
      const SpeechPiece& piece = message.pieces[i];
      if (stop_ || SpeakPiece(text, piece.text, message) == Outcome::kStopped) {
        Debug("703 STOP");
        out_.Write("703 STOP\n");
        return;
      }
      for (const std::string& mark : piece.marks) {
        std::string name = mark;
        for (char& c : name) {
          if (c == '\n' || c == '\r') c = ' ';
        }
        Debug("700 INDEX MARK " + name);
        out_.Write("700-" + name + "\n700 INDEX MARK\n");
      }
      // A pause stops at a mark, unless only blanks follow it: then the
      // message has simply been spoken.
      const bool more = std::any_of(
          message.pieces.begin() + std::ptrdiff_t(i) + 1, message.pieces.end(),
          [](const SpeechPiece& next) {
            return !next.marks.empty() ||
                   next.text.find_first_not_of(" \t\r\n") != std::string::npos;
          });
      if (pause_ && more && !piece.marks.empty()) {
        Debug("704 PAUSE");
        out_.Write("704 PAUSE\n");
        return;
      }
    }
    Debug("702 END");
    out_.Write("702 END\n");
  }

  Outcome SpeakPiece(host::PreparedStream& stream, const std::string& text,
                     const Message& message) {
    stream.Append(host::ToUtf16(text));
    const std::u16string prepared = stream.Take(true);
    Debug("prepared " + LoggedText(host::ToUtf8(prepared)));
    if (!message.english || !english_.ok()) return SpeakEngine(prepared);
    for (const auto& span : host::SplitEnglishWords(prepared)) {
      const Outcome outcome = span.english
                                  ? SpeakEnglish(span.text, message.settings)
                                  : SpeakEngine(span.text);
      if (outcome == Outcome::kStopped) return outcome;
    }
    return Outcome::kSpoken;
  }

  // A word in espeak-ng's English voice, at the engine voice's rate, speed,
  // pitch and loudness, sent in blocks with a look at STOP before each.
  Outcome SpeakEnglish(const std::u16string& word,
                       const VoiceSettings& settings) {
    Debug("English word " + LoggedText(host::ToUtf8(word)));
    const auto samples = english_.Speak(
        word,
        host::EnglishStyle{.sampleRate = sampleRate_,
                           .rate = EngineRate(settings.rate),
                           .pitch = EnginePitch(settings.pitch),
                           .loudness = loudness_,
                           .volumeGain = EngineVolume(settings.volume) / 50.0});
    constexpr std::size_t kBlock = 4096;
    for (std::size_t at = 0; at < samples.size(); at += kBlock) {
      if (stop_) return Outcome::kStopped;
      SendBlock(samples.data() + at, std::min(kBlock, samples.size() - at));
    }
    return stop_ ? Outcome::kStopped : Outcome::kSpoken;
  }

  void SendBlock(const int16_t* samples, std::size_t count) {
    if (firstBlock_) {
      firstBlock_ = false;
      Debug("first audio block, " + std::to_string(count) + " samples at " +
            std::to_string(sampleRate_) + " Hz");
    }
    if (!out_.Write(AudioBlock(samples, count, sampleRate_))) {
      // The server has gone; nobody listens any more.
      stop_ = true;
    }
  }

  Outcome SpeakEngine(const std::u16string& prepared) {
    if (!host::HasContent(prepared)) return Outcome::kSpoken;
    queue_.Reset();
    if (!api_.Speak(nullptr, prepared.c_str(), 0)) return Outcome::kSpoken;
    std::vector<int16_t> samples;
    for (;;) {
      switch (queue_.Pop(samples, stop_)) {
        case AudioQueue::Next::kEnd:
          return Outcome::kSpoken;
        case AudioQueue::Next::kInterrupted:
          queue_.Cancel();
          api_.Stop();
          return Outcome::kStopped;
        case AudioQueue::Next::kChunk: {
          // English words are brought to the level the voice speaks at.
          const double level =
              host::VoicedLoudness(samples.data(), samples.size());
          if (level > 0) {
            loudness_ = loudness_ > 0 ? 0.9 * loudness_ + 0.1 * level : level;
          }
          SendBlock(samples.data(), samples.size());
          break;
        }
      }
    }
  }

  const host::EngineApi& api_;
  Output& out_;
  AudioQueue queue_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Message> pending_;
  bool busy_ = false;
  bool quitting_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> pause_{false};
  std::string requestedVoice_;
  int32_t sampleRate_ = 16000;
  bool firstBlock_ = false;
  host::EnglishVoice english_;
  // The running level of the engine's voiced audio; 0 before any.
  double loudness_ = 0;
  std::thread thread_;
};

// Lines from the server, without their line ends.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  std::optional<std::string> Next() {
    for (;;) {
      const auto end = buffer_.find('\n', scanned_);
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        scanned_ = 0;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      scanned_ = buffer_.size();
      char block[65536];
      const ssize_t got = ::read(fd_, block, sizeof block);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        if (buffer_.empty()) return std::nullopt;
        std::string line = std::move(buffer_);
        buffer_.clear();
        scanned_ = 0;
        return line;
      }
      buffer_.append(block, std::size_t(got));
    }
  }

  // The lines of a block up to the one holding only '.', with the server's
  // dot escaping undone; nullopt when the input ends first.
  std::optional<std::vector<std::string>> Block() {
    std::vector<std::string> lines;
    while (auto line = Next()) {
      if (*line == ".") return lines;
      if (line->starts_with("..")) line->erase(0, 1);
      lines.push_back(std::move(*line));
    }
    return std::nullopt;
  }

 private:
  int fd_;
  std::string buffer_;
  std::size_t scanned_ = 0;
};

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) {
    if (!out.empty()) out.push_back('\n');
    out += line;
  }
  return out;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Module {
 public:
  Module(const std::filesystem::path& configFile, int in, int out)
      : in_(in), out_(out) {
    std::error_code missing;
    if (!configFile.empty() &&
        std::filesystem::is_regular_file(configFile, missing)) {
      config_ = ParseConfig(ReadFile(configFile));
    }
    debugging = config_.debug;
    if (!config_.debugFile.empty()) {
      if (std::FILE* file = std::fopen(config_.debugFile.c_str(), "a")) {
        logFile = file;
      } else {
        Log("cannot open the DebugFile " + config_.debugFile +
            "; logging to the server's log");
      }
    }
  }

  ~Module() {
    speaker_.reset();
    if (engine_ != nullptr && engine_->ok()) engine_->api().Uninitialize();
    if (logFile != stderr) std::fclose(std::exchange(logFile, stderr));
  }

  int Run() {
    while (auto line = in_.Next()) {
      const std::string& command = *line;
      if (config_.debug) Debug("command " + command);
      if (command == "INIT") {
        Init();
      } else if (command == "AUDIO") {
        Audio();
      } else if (command == "LOGLEVEL") {
        Reply("207 OK RECEIVING LOGLEVEL SETTINGS\n");
        if (!in_.Block()) break;
        Reply("203 OK LOGLEVEL SET\n");
      } else if (command.starts_with("DEBUG")) {
        Reply(command.find("OFF") != std::string::npos
                  ? "200 OK DEBUGGING OFF\n"
                  : "200 OK DEBUGGING ON\n");
      } else if (command == "LIST VOICES") {
        ListVoices();
      } else if (command == "SET") {
        if (!Set()) break;
      } else if (command == "SPEAK" || command == "CHAR" || command == "KEY" ||
                 command == "SOUND_ICON") {
        if (!Speak(command)) break;
      } else if (command == "STOP") {
        if (speaker_) speaker_->Stop();
      } else if (command == "PAUSE") {
        if (speaker_) speaker_->Pause();
      } else if (command == "QUIT") {
        speaker_.reset();
        Reply("210 OK QUIT\n");
        return 0;
      } else {
        Reply("300 ERR UNKNOWN COMMAND\n");
      }
    }
    return 0;
  }

 private:
  void Reply(std::string_view text) { out_.Write(text); }

  void Init() {
    if (speaker_) {
      Reply("299-Vesk: already initialized\n299 OK LOADED SUCCESSFULLY\n");
      return;
    }
    std::string error;
    const auto path = host::FindEngine(
        config_.engine,
        host::EngineDirectories(host::HostPlace::kSpeechDispatcherModule),
        error);
    if (!path) return Refuse(error);
    engine_ = std::make_unique<host::EngineLibrary>(*path);
    if (!engine_->ok()) return Refuse(engine_->error());
    engineErrors.clear();
    if (!engine_->api().Initialize(OnEngineLog)) {
      std::string reason = "the engine " + path->string() + " loaded no voice";
      for (const auto& line : engineErrors) reason += "; " + line;
      engine_.reset();
      return Refuse(reason);
    }
    EngineInfo info{};
    engine_->api().GetInfo(&info);
    const std::string name =
        host::ToUtf8(info.name) + " " + host::ToUtf8(info.version);
    Log("speaking with " + name + " from " + path->string());
    speaker_ = std::make_unique<Speaker>(engine_->api(), out_);
    Reply("299-Vesk: " + name + " initialized\n299 OK LOADED SUCCESSFULLY\n");
  }

  void Refuse(const std::string& reason) {
    Log("cannot start: " + reason);
    std::string line = reason;
    for (char& c : line) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    Reply("399-sd_vesk: " + line + "\n399 ERR CANT INIT MODULE\n");
  }

  void Audio() {
    Reply("207 OK RECEIVING AUDIO SETTINGS\n");
    const auto lines = in_.Block();
    for (const auto& line : lines.value_or(std::vector<std::string>{})) {
      Debug("AUDIO " + line);
    }
    bool server = false;
    for (const auto& line : lines.value_or(std::vector<std::string>{})) {
      if (line.starts_with("audio_output_method=") &&
          line.find("server") != std::string::npos) {
        server = true;
      }
    }
    if (server) {
      Reply("203 OK AUDIO INITIALIZED\n");
    } else {
      Log("the server offered no server audio; sd_vesk plays through the "
          "server only");
      Reply("300-sd_vesk needs audio_output_method server\n300 MODULE ERROR\n");
    }
  }

  void ListVoices() {
    if (!speaker_) return Reply("304 CANT LIST VOICES\n");
    std::string reply;
    for (const auto& name : host::VoiceNames(engine_->api())) {
      // With zh-CN the server's symbol pass reads Simplified Chinese names.
      reply += "200-" + host::ToUtf8(name) + "\tzh-CN\tnone\n";
    }
    Reply(reply + "200 OK VOICE LIST SENT\n");
  }

  bool Set() {
    Reply("203 OK RECEIVING SETTINGS\n");
    const auto lines = in_.Block();
    if (!lines) return false;
    for (const auto& line : *lines) {
      Debug("SET " + line);
      if (!ApplySetting(line, settings_)) Log("ignored setting " + line);
    }
    Reply("203 OK SETTINGS RECEIVED\n");
    return true;
  }

  bool Speak(const std::string& kind) {
    if (!speaker_) {
      Reply("301 ERROR CANT SPEAK\n");
      return true;
    }
    speaker_->Interrupt();
    Reply("202 OK RECEIVING MESSAGE\n");
    const auto lines = in_.Block();
    if (!lines) return false;
    const std::string data = Join(*lines);
    Debug(kind + " text " + LoggedText(data));
    Message message;
    message.settings = settings_;
    message.english =
        config_.englishWords && !settings_.spelling && kind == "SPEAK";
    if (kind == "SPEAK") {
      // The server's symbol pass has rewritten the numbers; CHAR and KEY
      // are single characters and key names, which it leaves alone.
      message.pieces = SplitSsml(RestoreServerNumbers(data));
    } else if (kind == "SOUND_ICON") {
      message.pieces.push_back({});
    } else {
      message.pieces.push_back({KeyText(data), {}});
    }
    Reply("200 OK SPEAKING\n");
    speaker_->Start(std::move(message));
    return true;
  }

  LineReader in_;
  Output out_;
  ModuleConfig config_;
  VoiceSettings settings_;
  std::unique_ptr<host::EngineLibrary> engine_;
  std::unique_ptr<Speaker> speaker_;
};

}  // namespace

int RunModule(const std::filesystem::path& configFile, int in, int out) {
  // A server that goes away shows as a failed write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  Module module(configFile, in, out);
  return module.Run();
}

}  // namespace vesk::sd
