// The one engine of the process. The engine library keeps one state per
// process, so every SAPI voice object shares this: it loads VeskSynth.dll
// from the directory of this DLL once, starts it, and lets one Speak call at
// a time use it. The engine's play callback only queues audio; the thread
// that owns the turn takes it from the queue and writes it to SAPI.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine_library.h"
#include "speech_plan.h"

namespace vesk::sapi {

// A voice of the engine: its name and sample rate.
struct VoiceInfo {
  std::u16string name;
  int32_t sampleRate = 0;
};

// The engine, started, or why it could not be.
struct StartedEngine {
  const host::EngineApi* api = nullptr;
  std::vector<VoiceInfo> voices;
  std::string error;
};

// Loads and starts the engine on first use; later calls return the same.
const StartedEngine& SharedEngine();

// Whether the engine was ever loaded (then this DLL stays in the process:
// its worker threads and callback must outlive every voice object).
bool EngineLoaded();

// What a turn asks of its caller while it waits for audio.
struct TurnCallbacks {
  // Polled between chunks and while waiting; true ends the utterance.
  std::function<bool()> abandon;
  // Receives each chunk of samples; false ends the utterance.
  std::function<bool(const int16_t* samples, std::size_t count)> write;
};

enum class UtteranceEnd { kFinished, kAbandoned, kFailed };

// Holds the engine for one Speak call: taken in the constructor (waiting,
// while polling abandon, for another call's turn to end), given back in the
// destructor.
class EngineTurn {
 public:
  explicit EngineTurn(const std::function<bool()>& abandon);
  ~EngineTurn();
  EngineTurn(const EngineTurn&) = delete;
  EngineTurn& operator=(const EngineTurn&) = delete;

  // False when abandon answered true before the turn came.
  bool held() const { return held_; }

  // Speaks text with voice at settings and hands every chunk to callbacks,
  // returning when the engine has delivered the last one, or at once when
  // the callbacks end it (the engine is stopped first).
  UtteranceEnd Speak(const std::u16string& voice, const std::u16string& text,
                     const EngineSettings& settings,
                     const TurnCallbacks& callbacks);

 private:
  bool held_ = false;
};

}  // namespace vesk::sapi
