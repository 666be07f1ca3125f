// The fourteen host functions: argument checks, then one call into the
// engine. Nothing thrown inside ever crosses into the host.
#include "api/engine_api.h"
#include "vesksynth.h"

namespace {

template <typename Body>
VeskBool Guarded(Body body) {
  try {
    return body() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace

extern "C" {

VESK_API VeskBool VESK_CALL VeskSynthInitialize(LogCallback logCallback) {
  return Guarded([&] { return vesk::Initialize(vesk::Engine(), logCallback); });
}

VESK_API VeskBool VESK_CALL VeskSynthUninitialize(void) {
  Guarded([] { return vesk::Uninitialize(vesk::Engine()); });
  return 1;
}

VESK_API VeskBool VESK_CALL VeskSynthGetInfo(EngineInfo* info) {
  if (info == nullptr) return 0;
  return Guarded([&] { return vesk::GetInfo(info); });
}

VESK_API VeskBool VESK_CALL VeskSynthGetVoiceList(char16_t** names,
                                                  uint32_t* count) {
  if (count == nullptr) return 0;
  return Guarded(
      [&] { return vesk::GetVoiceList(vesk::Engine(), names, count); });
}

VESK_API VeskBool VESK_CALL VeskSynthPrepareVoice(const char16_t* name) {
  if (name == nullptr) return 0;
  return Guarded([&] { return vesk::PrepareVoice(vesk::Engine(), name); });
}

VESK_API VeskBool VESK_CALL VeskSynthGetAudioFormat(AudioFormat* format) {
  if (format == nullptr) return 0;
  return Guarded([&] { return vesk::GetAudioFormat(vesk::Engine(), format); });
}

VESK_API VeskBool VESK_CALL VeskSynthSetRate(intptr_t, int32_t value) {
  return Guarded([&] { return vesk::SetRate(vesk::Engine(), value); });
}

VESK_API VeskBool VESK_CALL VeskSynthSetPitch(intptr_t, int32_t value) {
  return Guarded([&] { return vesk::SetPitch(vesk::Engine(), value); });
}

VESK_API VeskBool VESK_CALL VeskSynthSetVolume(intptr_t, int32_t value) {
  return Guarded([&] { return vesk::SetVolume(vesk::Engine(), value); });
}

VESK_API PlayCallback VESK_CALL
VeskSynthSetPlayCallback(PlayCallback callback) {
  try {
    return vesk::SetPlayCallback(vesk::Engine(), callback);
  } catch (...) {
    return nullptr;
  }
}

VESK_API VeskBool VESK_CALL VeskSynthSpeak(const char16_t* voiceName,
                                           const char16_t* text,
                                           int32_t userValue) {
  if (text == nullptr || text[0] == u'\0') return 0;
  return Guarded(
      [&] { return vesk::Speak(vesk::Engine(), voiceName, text, userValue); });
}

VESK_API VeskBool VESK_CALL VeskSynthStop(void) {
  Guarded([] { return vesk::Stop(vesk::Engine()); });
  return 1;
}

VESK_API VeskBool VESK_CALL VeskSynthPause(void) {
  return Guarded([] { return vesk::Pause(vesk::Engine()); });
}

VESK_API VeskBool VESK_CALL VeskSynthResume(void) {
  return Guarded([] { return vesk::Resume(vesk::Engine()); });
}

}  // extern "C"
