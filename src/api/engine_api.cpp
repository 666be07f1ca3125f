#include "api/engine_api.h"

#include <algorithm>
#include <mutex>

#include "api/callbacks.h"
#include "api/startup.h"
#include "platform/platform.h"

namespace vesk {

namespace {

constexpr std::size_t kNameField = 128;
constexpr std::size_t kVersionField = 64;
constexpr std::size_t kVoiceNameBuffer = 128;

}  // namespace

void CopyTruncated(char16_t* buffer, std::size_t capacity,
                   std::u16string_view text) {
  if (buffer == nullptr || capacity == 0) return;
  const std::size_t length = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), length, buffer);
  buffer[length] = u'\0';
}

bool Initialize(EngineState& engine, LogCallback logCallback) {
  {
    std::unique_lock lock(engine.controlMutex);
    // Called again from our own log callback while starting up: the start-up
    // under way is not finished, so neither is this one, unless it has just
    // succeeded (the completion message comes after initialized is set).
    if (engine.startupRunning &&
        engine.startupThread == std::this_thread::get_id()) {
      return engine.initialized;
    }
    engine.startupDone.wait(lock, [&] { return !engine.startupRunning; });
    if (engine.initialized) return true;
    engine.startupRunning = true;
    engine.startupThread = std::this_thread::get_id();
  }
  bool loaded = false;
  try {
    engine.logCallback.exchange(reinterpret_cast<LogCallback>(
        ResolveCallbackPointer(reinterpret_cast<void*>(logCallback))));
    const std::optional<std::u16string> library = OwnLibraryPath();
    if (!library) {
      LogMessage(engine, kLogError, u"无法确定插件所在目录");
    } else {
      loaded = RunStartup(engine, platform::ParentDirectory(*library));
    }
  } catch (...) {
    // A start-up that did not finish leaves no voice behind.
    std::lock_guard lock(engine.controlMutex);
    if (!engine.initialized) engine.workerContext.voices.Clear();
    loaded = engine.initialized;
  }
  {
    std::lock_guard lock(engine.controlMutex);
    engine.startupRunning = false;
    engine.startupThread = std::thread::id();
  }
  engine.startupDone.notify_all();
  return loaded;
}

bool GetInfo(EngineInfo* info) {
  if (info == nullptr) return false;
  CopyTruncated(info->name, kNameField, kEngineName);
  CopyTruncated(info->version, kVersionField, kEngineVersion);
  return true;
}

bool GetVoiceList(EngineState& engine, char16_t** names, uint32_t* count) {
  if (count == nullptr) return false;
  std::lock_guard lock(engine.controlMutex);
  if (names == nullptr) {
    *count = uint32_t(engine.workerContext.voices.Count());
    return true;
  }
  const std::vector<std::u16string> voiceNames =
      engine.workerContext.voices.Names();
  for (uint32_t i = 0; i < *count && i < voiceNames.size(); ++i) {
    CopyTruncated(names[i], kVoiceNameBuffer, voiceNames[i]);
  }
  return true;
}

bool PrepareVoice(EngineState& engine, const char16_t* name) {
  if (name == nullptr) return false;
  const std::u16string_view wanted(name);
  std::lock_guard lock(engine.controlMutex);
  if (!engine.workerContext.voices.Find(wanted)) return false;
  engine.currentVoiceName = wanted;
  return true;
}

bool GetAudioFormat(EngineState& engine, AudioFormat* format) {
  if (format == nullptr) return false;
  format->formatTag = 1;
  format->sampleRate = kDefaultSampleRate;
  format->bitsPerSample = 16;
  std::lock_guard lock(engine.controlMutex);
  if (const auto voice =
          engine.workerContext.voices.Resolve(engine.currentVoiceName)) {
    format->sampleRate = voice->sampleRate;
  }
  return true;
}

bool SetRate(EngineState& engine, int32_t value) {
  engine.workerContext.rate.exchange(ClampSetting(value));
  return true;
}

bool SetPitch(EngineState& engine, int32_t value) {
  engine.workerContext.pitch.exchange(ClampSetting(value));
  return true;
}

bool SetVolume(EngineState& engine, int32_t value) {
  engine.workerContext.volume.exchange(ClampSetting(value));
  return true;
}

PlayCallback SetPlayCallback(EngineState& engine, PlayCallback callback) {
  return engine.playCallback.exchange(reinterpret_cast<PlayCallback>(
      ResolveCallbackPointer(reinterpret_cast<void*>(callback))));
}

bool Pause(EngineState& engine) {
  if (!engine.workerContext.running.load()) return false;
  PauseUtterance(engine.workerContext);
  return true;
}

bool Resume(EngineState& engine) {
  if (!engine.workerContext.running.load()) return false;
  WakeFromPause(engine.workerContext);
  return true;
}

}  // namespace vesk
