// The two host callbacks: how pointers are interpreted and how they are
// called. Faults inside the host's code never reach the engine.
#pragma once

#include <cstdint>
#include <string_view>

#include "api/engine_state.h"

namespace vesk {

// The function a host meant: the pointer itself, or the function stored in
// the variable it points to (see callbacks.cpp for the rule).
void* ResolveCallbackPointer(void* pointer);

// Sends a message to the log callback, if any, at a LogLevel.
void LogMessage(EngineState& engine, int32_t level, std::u16string_view text);

// Sends one chunk to the play callback, if any; yields its result or 0.
int32_t InvokePlayCallback(EngineState& engine, const char16_t* voiceName,
                           const int16_t* samples, int32_t byteCount,
                           int32_t userValue);

}  // namespace vesk
