#include "voice_object.h"

#include <sperror.h>

#include <algorithm>
#include <new>

#include "module.h"
#include "registration.h"
#include "shared_engine.h"
#include "speak_call.h"

namespace vesk::sapi {

namespace {

std::u16string FromWide(const wchar_t* text) {
  std::u16string out;
  for (; text != nullptr && *text != L'\0'; ++text) out += char16_t(*text);
  return out;
}

// The token's VeskVoice value, through the token itself, else from the
// registry key its id names.
std::u16string VoiceOfToken(ISpObjectToken* token) {
  wchar_t* value = nullptr;
  if (SUCCEEDED(token->GetStringValue(kVoiceValue, &value)) &&
      value != nullptr) {
    std::u16string voice = FromWide(value);
    CoTaskMemFree(value);
    return voice;
  }
  wchar_t* id = nullptr;
  if (FAILED(token->GetId(&id)) || id == nullptr) return {};
  const std::wstring voice = VoiceOfTokenId(id);
  CoTaskMemFree(id);
  return FromWide(voice.c_str());
}

const VoiceInfo* FindVoice(const StartedEngine& engine,
                           const std::u16string& name) {
  const auto found =
      std::find_if(engine.voices.begin(), engine.voices.end(),
                   [&](const VoiceInfo& v) { return v.name == name; });
  return found == engine.voices.end() ? nullptr : &*found;
}

}  // namespace

VoiceObject::VoiceObject() { ObjectCreated(); }

VoiceObject::~VoiceObject() {
  if (token_ != nullptr) token_->Release();
  ObjectDestroyed();
}

HRESULT VoiceObject::QueryInterface(REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (riid == __uuidof(IUnknown) || riid == __uuidof(ISpTTSEngine)) {
    *out = static_cast<ISpTTSEngine*>(this);
  } else if (riid == __uuidof(ISpObjectWithToken)) {
    *out = static_cast<ISpObjectWithToken*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG VoiceObject::AddRef() { return ++references_; }

ULONG VoiceObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT VoiceObject::SetObjectToken(ISpObjectToken* token) {
  if (token == nullptr) return E_INVALIDARG;
  const StartedEngine& engine = SharedEngine();
  if (engine.api == nullptr) return E_FAIL;
  const std::u16string voice = VoiceOfToken(token);
  if (FindVoice(engine, voice) == nullptr) return SPERR_NOT_FOUND;
  std::lock_guard lock(mutex_);
  token->AddRef();
  if (token_ != nullptr) token_->Release();
  token_ = token;
  voice_ = voice;
  return S_OK;
}

HRESULT VoiceObject::GetObjectToken(ISpObjectToken** token) {
  if (token == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  *token = token_;
  if (token_ != nullptr) token_->AddRef();
  return S_OK;
}

std::u16string VoiceObject::Voice() {
  {
    std::lock_guard lock(mutex_);
    if (!voice_.empty()) return voice_;
  }
  const StartedEngine& engine = SharedEngine();
  return engine.voices.empty() ? std::u16string() : engine.voices[0].name;
}

HRESULT VoiceObject::Speak(DWORD flags, REFGUID, const WAVEFORMATEX*,
                           const SPVTEXTFRAG* fragments,
                           ISpTTSEngineSite* site) {
  if (site == nullptr) return E_INVALIDARG;
  try {
    const StartedEngine& engine = SharedEngine();
    const VoiceInfo* voice = FindVoice(engine, Voice());
    if (voice == nullptr) return E_FAIL;
    SpeakCall call(*site, *voice, flags, fragments);
    return call.Run();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT VoiceObject::GetOutputFormat(const GUID*, const WAVEFORMATEX*,
                                     GUID* outputFormatId,
                                     WAVEFORMATEX** outputFormat) {
  if (outputFormatId == nullptr || outputFormat == nullptr) return E_POINTER;
  *outputFormat = nullptr;
  const VoiceInfo* voice = FindVoice(SharedEngine(), Voice());
  if (voice == nullptr) return E_FAIL;
  auto* format =
      static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
  if (format == nullptr) return E_OUTOFMEMORY;
  format->wFormatTag = WAVE_FORMAT_PCM;
  format->nChannels = 1;
  format->nSamplesPerSec = DWORD(voice->sampleRate);
  format->wBitsPerSample = 16;
  format->nBlockAlign = 2;
  format->nAvgBytesPerSec = format->nSamplesPerSec * 2;
  format->cbSize = 0;
  *outputFormatId = kFormatWaveFormatEx;
  *outputFormat = format;
  return S_OK;
}

}  // namespace vesk::sapi
