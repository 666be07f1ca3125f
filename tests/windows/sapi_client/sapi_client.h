// The client half of SAPI 5 as a screen reader's SAPI reaches a voice:
// voice tokens through SAPI's own token enumeration, the engine created
// through COM from its token, and ISpVoice tried first. Where this Wine's
// SAPI leaves a method unimplemented the client falls back to what that
// method does and says which path ran.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tts_engine.h"

namespace vesk::test {

using Microsoft::WRL::ComPtr;

// "0x80004001 (E_NOTIMPL)" and the like, for messages.
std::string HresultText(HRESULT hr);
std::string Narrow(std::wstring_view text);

// A voice token and what the client read of it.
struct VoiceToken {
  ComPtr<ISpObjectToken> token;
  std::wstring id;
  std::wstring language;  // Attributes\Language
  std::wstring vendor;    // Attributes\Vendor
  std::wstring name;      // Attributes\Name
  std::wstring clsid;     // the token's CLSID value
  std::wstring voice;     // the token's VeskVoice value (a .vl stem)
};

struct VoiceEnumeration {
  HRESULT result = S_OK;  // of the first step that failed
  std::string failedStep;
  std::vector<VoiceToken> tokens;  // every voice token SAPI listed
  // How the token's own values were read: ISpObjectToken::GetStringValue,
  // or the data key of the token's own registry key (OpenKey with an
  // empty name) where the former is not implemented.
  std::string valueAccess;
};

// SPCAT_VOICES through ISpObjectTokenCategory::EnumTokens, asking for
// Language=804, each token's attributes read through its data keys.
VoiceEnumeration EnumerateVoices();

// Whether a token is one of Vesk's: language 804 among its languages and
// vendor Vesk (the enumeration's attribute filter is not relied upon).
bool IsVeskVoice(const VoiceToken& token);

// The token's own string value, the way that works here; empty when absent.
std::wstring TokenValue(ISpObjectToken* token, const wchar_t* name,
                        std::string* how = nullptr);

struct CreatedEngine {
  ComPtr<ISpTTSEngine> engine;
  std::string how;      // which path made it
  std::string failure;  // empty when every step succeeded
};

// ISpObjectToken::CreateInstance where this SAPI implements it; otherwise
// CoCreateInstance of the token's CLSID and SetObjectToken, as
// CreateInstance does. When only SetObjectToken fails, the object is kept
// (it speaks with a voice of its own choice) and the failure is reported.
CreatedEngine CreateEngineFromToken(ISpObjectToken* token);

// What ISpVoice did when asked to speak with the token's voice into a
// memory stream.
struct SpVoiceAttempt {
  HRESULT create = E_FAIL;  // CoCreateInstance(CLSID_SpVoice)
  HRESULT stream = E_FAIL;  // ISpStream::SetBaseStream
  HRESULT output = E_FAIL;  // ISpVoice::SetOutput
  HRESULT voice = E_FAIL;   // ISpVoice::SetVoice
  HRESULT speak = E_FAIL;   // ISpVoice::Speak into the stream
  // ISpVoice::Speak(NULL, SPF_PURGEBEFORESPEAK): speaks nothing anywhere,
  // so it tells a stub from a working Speak even without a stream.
  HRESULT purge = E_FAIL;
  std::vector<uint8_t> audio;  // what reached the stream
  std::string Describe() const;
};

SpVoiceAttempt SpeakThroughSpVoice(ISpObjectToken* token,
                                   const std::wstring& text,
                                   const WAVEFORMATEX& format);

// The directory VeskSapi.dll is registered from (the CLSID's
// InprocServer32), empty when it is not registered.
std::wstring RegisteredServerPath();

}  // namespace vesk::test
