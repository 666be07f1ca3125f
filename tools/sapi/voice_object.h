// Vesk's SAPI voice: the object SAPI creates from a voice token and asks to
// speak. It keeps the token and the engine voice the token names; speaking
// is a SpeakCall (speak_call.h) on the one engine of the process.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "tts_engine.h"

namespace vesk::sapi {

class VoiceObject final : public ISpTTSEngine, public ISpObjectWithToken {
 public:
  VoiceObject();
  ~VoiceObject();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ISpObjectWithToken
  HRESULT STDMETHODCALLTYPE SetObjectToken(ISpObjectToken* token) override;
  HRESULT STDMETHODCALLTYPE GetObjectToken(ISpObjectToken** token) override;

  // ISpTTSEngine
  HRESULT STDMETHODCALLTYPE Speak(DWORD flags, REFGUID formatId,
                                  const WAVEFORMATEX* format,
                                  const SPVTEXTFRAG* fragments,
                                  ISpTTSEngineSite* site) override;
  HRESULT STDMETHODCALLTYPE
  GetOutputFormat(const GUID* targetFormatId, const WAVEFORMATEX* targetFormat,
                  GUID* outputFormatId, WAVEFORMATEX** outputFormat) override;

 private:
  // The engine voice this object speaks with; the engine's first voice
  // until a token names another.
  std::u16string Voice();

  std::atomic<ULONG> references_{1};
  std::mutex mutex_;
  ISpObjectToken* token_ = nullptr;
  std::u16string voice_;
};

}  // namespace vesk::sapi
