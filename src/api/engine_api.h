// What each export does, reachable from unit tests without loading the
// library. Every function takes the engine it acts on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "api/engine_state.h"
#include "vesk_version.h"
#include "vesksynth.h"

namespace vesk {

inline constexpr char16_t kEngineName[] = u"Halden语音";
inline constexpr char16_t kEngineVersion[] = u"" VESK_VERSION;
inline constexpr int32_t kDefaultSampleRate = 16000;

// Copies at most capacity - 1 units of text into buffer and terminates it.
void CopyTruncated(char16_t* buffer, std::size_t capacity,
                   std::u16string_view text);

bool Initialize(EngineState& engine, LogCallback logCallback);
bool Uninitialize(EngineState& engine);
bool GetInfo(EngineInfo* info);
bool GetVoiceList(EngineState& engine, char16_t** names, uint32_t* count);
bool PrepareVoice(EngineState& engine, const char16_t* name);
bool GetAudioFormat(EngineState& engine, AudioFormat* format);
bool SetRate(EngineState& engine, int32_t value);
bool SetPitch(EngineState& engine, int32_t value);
bool SetVolume(EngineState& engine, int32_t value);
PlayCallback SetPlayCallback(EngineState& engine, PlayCallback callback);
bool Speak(EngineState& engine, const char16_t* voiceName, const char16_t* text,
           int32_t userValue);
bool Stop(EngineState& engine);
bool Pause(EngineState& engine);
bool Resume(EngineState& engine);

}  // namespace vesk
