#include "shared_engine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace vesk::sapi {

namespace {

using namespace std::chrono_literals;

// How often a waiting turn asks SAPI whether to go on.
constexpr auto kPollInterval = 20ms;
// Audio the engine may run ahead of SAPI by; the worker waits beyond it.
constexpr std::size_t kQueueLimitSamples = 10 * 48000;

struct Chunk {
  std::vector<int16_t> samples;
  bool last = false;
};

// Chunks of the utterance in turn, from the engine's worker thread to the
// thread that owns the turn.
class AudioQueue {
 public:
  void Begin(int32_t id) {
    std::lock_guard lock(mutex_);
    id_ = id;
    chunks_.clear();
    queued_ = 0;
    closed_ = false;
  }

  // Drops what is queued and releases a worker waiting for room, so that
  // the engine can be stopped.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    chunks_.clear();
    queued_ = 0;
    room_.notify_all();
  }

  void Push(int32_t id, const int16_t* samples, std::size_t count) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] {
      return closed_ || id != id_ || queued_ < kQueueLimitSamples;
    });
    if (closed_ || id != id_) return;
    Chunk chunk;
    if (samples == nullptr) {
      chunk.last = true;
    } else {
      chunk.samples.assign(samples, samples + count);
      queued_ += count;
    }
    chunks_.push_back(std::move(chunk));
    ready_.notify_all();
  }

  std::optional<Chunk> Pop() {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, kPollInterval, [&] { return !chunks_.empty(); }))
      return std::nullopt;
    Chunk chunk = std::move(chunks_.front());
    chunks_.pop_front();
    queued_ -= chunk.samples.size();
    room_.notify_all();
    return chunk;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<Chunk> chunks_;
  std::size_t queued_ = 0;
  int32_t id_ = 0;
  bool closed_ = true;
};

AudioQueue& Queue() {
  static AudioQueue queue;
  return queue;
}

std::timed_mutex& TurnMutex() {
  static std::timed_mutex turn;
  return turn;
}

std::atomic<bool> loaded{false};

int32_t VESK_CALL OnAudio(const char16_t*, const int16_t* samples,
                          int32_t byteCount, int32_t userValue) {
  if (samples != nullptr && byteCount <= 0) return 0;
  Queue().Push(userValue, samples,
               samples == nullptr ? 0 : std::size_t(byteCount) / 2);
  return 0;
}

std::vector<VoiceInfo> ReadVoices(const host::EngineApi& api) {
  std::vector<VoiceInfo> voices;
  for (const auto& name : host::VoiceNames(api)) {
    AudioFormat format{};
    if (api.PrepareVoice(name.c_str()) && api.GetAudioFormat(&format))
      voices.push_back({name, format.sampleRate});
  }
  if (!voices.empty()) api.PrepareVoice(voices.front().name.c_str());
  return voices;
}

StartedEngine Start() {
  StartedEngine started;
  // Never unloaded: the engine's threads and this DLL's callback live as
  // long as the process.
  const auto path = host::FindEngine(
      "", host::EngineDirectories(host::HostPlace::kBesideModule),
      started.error);
  if (!path) return started;
  auto* library = new host::EngineLibrary(*path);
  if (!library->ok()) {
    started.error = library->error();
    return started;
  }
  loaded = true;
  const host::EngineApi& api = library->api();
  if (!api.Initialize(nullptr)) {
    started.error = "the engine found no voice beside " + path->string();
    return started;
  }
  api.SetPlayCallback(&OnAudio);
  started.voices = ReadVoices(api);
  started.api = &api;
  return started;
}

// Stops the engine's utterance: the queue first, so that a worker waiting
// inside the play callback for room returns and Stop can finish.
void Halt(const host::EngineApi& api) {
  Queue().Close();
  api.Stop();
}

}  // namespace

const StartedEngine& SharedEngine() {
  static const StartedEngine engine = Start();
  return engine;
}

bool EngineLoaded() { return loaded; }

EngineTurn::EngineTurn(const std::function<bool()>& abandon) {
  while (!TurnMutex().try_lock_for(kPollInterval)) {
    if (abandon()) return;
  }
  held_ = true;
}

EngineTurn::~EngineTurn() {
  if (held_) TurnMutex().unlock();
}

UtteranceEnd EngineTurn::Speak(const std::u16string& voice,
                               const std::u16string& text,
                               const EngineSettings& settings,
                               const TurnCallbacks& callbacks) {
  static std::atomic<int32_t> lastId{0};
  const StartedEngine& engine = SharedEngine();
  if (!held_ || engine.api == nullptr) return UtteranceEnd::kFailed;
  const host::EngineApi& api = *engine.api;
  const int32_t id = ++lastId;
  Queue().Begin(id);
  api.SetRate(0, settings.rate);
  api.SetPitch(0, settings.pitch);
  api.SetVolume(0, settings.volume);
  if (!api.Speak(voice.c_str(), text.c_str(), id)) {
    Queue().Close();
    return UtteranceEnd::kFailed;
  }
  for (;;) {
    if (callbacks.abandon()) break;
    std::optional<Chunk> chunk = Queue().Pop();
    if (!chunk) continue;
    if (chunk->last) return UtteranceEnd::kFinished;
    if (!callbacks.write(chunk->samples.data(), chunk->samples.size())) break;
  }
  Halt(api);
  return UtteranceEnd::kAbandoned;
}

}  // namespace vesk::sapi
