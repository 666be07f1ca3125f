#include "api/callbacks.h"

#include <string>

#include "platform/platform.h"

namespace vesk {

namespace {

bool IsCode(uintptr_t address) {
  const auto region =
      platform::QueryMemory(reinterpret_cast<const void*>(address));
  return region && region->committed && region->executable;
}

struct LogCall {
  LogCallback callback;
  int32_t level;
  const char16_t* text;
};

void CallLog(void* context) {
  const auto* call = static_cast<const LogCall*>(context);
  call->callback(call->level, call->text);
}

struct PlayCall {
  PlayCallback callback;
  const char16_t* voiceName;
  const int16_t* samples;
  int32_t byteCount;
  int32_t userValue;
  int32_t result;
};

void CallPlay(void* context) {
  auto* call = static_cast<PlayCall*>(context);
  call->result = call->callback(call->voiceName, call->samples, call->byteCount,
                                call->userValue);
}

}  // namespace

// A pointer into writable data is the address of a variable holding the
// function. Writable code in private memory is where thunk allocators put the
// code they make at run time (script bindings such as libffi): it is the
// function, whatever its first bytes look like (a 32-bit trampoline starts
// B8 imm32, which read as an address may well land in code). Writable code
// of a loaded image, where a packed host keeps its variables, is only read
// as such a variable when the value found there is itself a code address.
void* ResolveCallbackPointer(void* pointer) {
  if (pointer == nullptr) return nullptr;
  const auto region = platform::QueryMemory(pointer);
  if (!region || !region->committed || !region->writable) return pointer;
  if (region->executable && !region->fileBacked) return pointer;
  const auto value = platform::ReadPointer(pointer);
  if (!value) return nullptr;
  if (!region->executable || IsCode(*value)) {
    return reinterpret_cast<void*>(*value);
  }
  return pointer;
}

void LogMessage(EngineState& engine, int32_t level, std::u16string_view text) {
  const LogCallback callback = engine.logCallback.load();
  if (callback == nullptr) return;
  const std::u16string terminated = platform::HostText(text);
  LogCall call{callback, level, terminated.c_str()};
  platform::CallGuarded(&CallLog, &call);
}

int32_t InvokePlayCallback(EngineState& engine, const char16_t* voiceName,
                           const int16_t* samples, int32_t byteCount,
                           int32_t userValue) {
  const PlayCallback callback = engine.playCallback.load();
  if (callback == nullptr) return 0;
  PlayCall call{callback, voiceName, samples, byteCount, userValue, 0};
  return platform::CallGuarded(&CallPlay, &call) ? call.result : 0;
}

}  // namespace vesk
