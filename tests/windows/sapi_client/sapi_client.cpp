// clang-format off
// SAPI's class ids are defined in this file, from sapi.h with initguid.h
// before it: mingw-w64 ships no sapi.lib.
#include <windows.h>
#include <initguid.h>
#include <sapi.h>
// clang-format on

#include "sapi_client/sapi_client.h"

#include <objbase.h>

#include <cstdio>

namespace vesk::test {

namespace {

// A string SAPI allocated with CoTaskMemAlloc, freed.
std::wstring Taken(WCHAR* text) {
  std::wstring value = text != nullptr ? text : L"";
  CoTaskMemFree(text);
  return value;
}

std::wstring KeyValue(ISpDataKey* key, const wchar_t* name) {
  WCHAR* text = nullptr;
  if (key == nullptr || FAILED(key->GetStringValue(name, &text))) return {};
  return Taken(text);
}

std::wstring SubkeyValue(ISpObjectToken* token, const wchar_t* subkey,
                         const wchar_t* name) {
  ComPtr<ISpDataKey> key;
  if (FAILED(token->OpenKey(subkey, &key))) return {};
  return KeyValue(key.Get(), name);
}

}  // namespace

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  std::string out = text;
  if (hr == E_NOTIMPL) out += " (E_NOTIMPL)";
  if (hr == S_OK) out += " (S_OK)";
  return out;
}

std::string Narrow(std::wstring_view text) {
  const int size = WideCharToMultiByte(
      CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(),
                        size, nullptr, nullptr);
  }
  return out;
}

std::wstring TokenValue(ISpObjectToken* token, const wchar_t* name,
                        std::string* how) {
  WCHAR* text = nullptr;
  const HRESULT hr = token->GetStringValue(name, &text);
  if (SUCCEEDED(hr)) {
    if (how != nullptr) *how = "ISpObjectToken::GetStringValue";
    return Taken(text);
  }
  if (hr != E_NOTIMPL) return {};
  // Wine 8.0 implements GetStringValue on the data keys OpenKey returns but
  // not on the token itself; the token's own key opened by an empty name
  // reads the same values.
  if (how != nullptr) {
    *how =
        "ISpObjectToken::OpenKey(\"\") then ISpDataKey::GetStringValue "
        "(the token's GetStringValue: " +
        HresultText(hr) + ")";
  }
  return SubkeyValue(token, L"", name);
}

VoiceEnumeration EnumerateVoices() {
  VoiceEnumeration out;
  ComPtr<ISpObjectTokenCategory> category;
  out.result = CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr,
                                CLSCTX_ALL, IID_PPV_ARGS(&category));
  if (FAILED(out.result)) {
    out.failedStep = "CoCreateInstance(CLSID_SpObjectTokenCategory)";
    return out;
  }
  out.result = category->SetId(SPCAT_VOICES, FALSE);
  if (FAILED(out.result)) {
    out.failedStep = "ISpObjectTokenCategory::SetId(SPCAT_VOICES)";
    return out;
  }
  ComPtr<IEnumSpObjectTokens> tokens;
  // Wine 8.0 returns every token whatever is required; IsVeskVoice looks at
  // the attributes itself.
  out.result = category->EnumTokens(L"Language=804", nullptr, &tokens);
  if (FAILED(out.result)) {
    out.failedStep = "ISpObjectTokenCategory::EnumTokens";
    return out;
  }
  for (;;) {
    VoiceToken entry;
    ULONG fetched = 0;
    if (tokens->Next(1, &entry.token, &fetched) != S_OK || fetched != 1) break;
    WCHAR* id = nullptr;
    if (SUCCEEDED(entry.token->GetId(&id))) entry.id = Taken(id);
    ISpObjectToken* token = entry.token.Get();
    entry.language = SubkeyValue(token, L"Attributes", L"Language");
    entry.vendor = SubkeyValue(token, L"Attributes", L"Vendor");
    entry.name = SubkeyValue(token, L"Attributes", L"Name");
    std::string how;
    entry.clsid = TokenValue(token, L"CLSID", &how);
    entry.voice = TokenValue(token, L"VeskVoice");
    if (!how.empty()) out.valueAccess = how;
    out.tokens.push_back(std::move(entry));
  }
  return out;
}

bool IsVeskVoice(const VoiceToken& token) {
  if (token.vendor != L"Vesk") return false;
  // Language holds hexadecimal language ids separated by semicolons.
  std::wstring item;
  for (std::size_t i = 0; i <= token.language.size(); ++i) {
    if (i == token.language.size() || token.language[i] == L';') {
      if (wcstoul(item.c_str(), nullptr, 16) == 0x804 && !item.empty()) {
        return true;
      }
      item.clear();
    } else {
      item += token.language[i];
    }
  }
  return false;
}

CreatedEngine CreateEngineFromToken(ISpObjectToken* token) {
  CreatedEngine out;
  HRESULT hr = token->CreateInstance(nullptr, CLSCTX_INPROC_SERVER,
                                     __uuidof(ISpTTSEngine), &out.engine);
  if (SUCCEEDED(hr)) {
    out.how = "ISpObjectToken::CreateInstance";
    return out;
  }
  if (hr != E_NOTIMPL) {
    out.failure = "ISpObjectToken::CreateInstance: " + HresultText(hr);
    return out;
  }
  // What CreateInstance does: the class named by the token's CLSID value,
  // then the token handed to the object.
  out.how =
      "CoCreateInstance of the token's CLSID + "
      "ISpObjectWithToken::SetObjectToken (ISpObjectToken::"
      "CreateInstance: " +
      HresultText(hr) + ")";
  const std::wstring text = TokenValue(token, L"CLSID");
  CLSID clsid{};
  if (FAILED(CLSIDFromString(text.c_str(), &clsid))) {
    out.failure =
        "the token's CLSID value \"" + Narrow(text) + "\" is no class id";
    return out;
  }
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                        __uuidof(ISpTTSEngine), &out.engine);
  if (FAILED(hr)) {
    out.failure = "CoCreateInstance(" + Narrow(text) + "): " + HresultText(hr);
    return out;
  }
  ComPtr<ISpObjectWithToken> withToken;
  hr = out.engine.As(&withToken);
  if (SUCCEEDED(hr)) hr = withToken->SetObjectToken(token);
  if (FAILED(hr)) {
    out.failure = "ISpObjectWithToken::SetObjectToken: " + HresultText(hr);
  }
  return out;
}

std::string SpVoiceAttempt::Describe() const {
  return "CoCreateInstance(CLSID_SpVoice) " + HresultText(create) +
         ", ISpStream::SetBaseStream " + HresultText(stream) +
         ", ISpVoice::SetOutput " + HresultText(output) +
         ", ISpVoice::SetVoice " + HresultText(voice) +
         ", ISpVoice::Speak(NULL, SPF_PURGEBEFORESPEAK) " + HresultText(purge) +
         ", ISpVoice::Speak into the stream " +
         (SUCCEEDED(output) ? HresultText(speak) : "not tried");
}

SpVoiceAttempt SpeakThroughSpVoice(ISpObjectToken* token,
                                   const std::wstring& text,
                                   const WAVEFORMATEX& format) {
  SpVoiceAttempt out;
  ComPtr<ISpVoice> voice;
  out.create = CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL,
                                IID_PPV_ARGS(&voice));
  if (FAILED(out.create)) return out;
  ComPtr<IStream> memory;
  ComPtr<ISpStream> stream;
  if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &memory)) &&
      SUCCEEDED(CoCreateInstance(CLSID_SpStream, nullptr, CLSCTX_ALL,
                                 IID_PPV_ARGS(&stream)))) {
    out.stream = stream->SetBaseStream(
        memory.Get(), vesk::sapi::kFormatWaveFormatEx, &format);
  }
  out.output = voice->SetOutput(stream.Get(), FALSE);
  out.voice = voice->SetVoice(token);
  out.purge = voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
  // Only into the stream: never to the machine's sound device.
  if (FAILED(out.output)) return out;
  out.speak = voice->Speak(text.c_str(), SPF_IS_NOT_XML, nullptr);
  if (SUCCEEDED(out.speak)) {
    HGLOBAL global = nullptr;
    STATSTG stat{};
    if (SUCCEEDED(memory->Stat(&stat, STATFLAG_NONAME)) &&
        SUCCEEDED(GetHGlobalFromStream(memory.Get(), &global))) {
      const auto* bytes = static_cast<const uint8_t*>(GlobalLock(global));
      if (bytes != nullptr) {
        out.audio.assign(bytes, bytes + stat.cbSize.QuadPart);
        GlobalUnlock(global);
      }
    }
  }
  return out;
}

std::wstring RegisteredServerPath() {
  const std::wstring key =
      L"SOFTWARE\\Classes\\CLSID\\{2D2B22F7-0AE3-4520-8AF1-23E0CD082BBD}"
      L"\\InprocServer32";
  wchar_t path[MAX_PATH];
  DWORD size = sizeof path;
  // This program's own registry view: the DLL registers in the view of its
  // bitness, which is this program's.
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ,
                   nullptr, path, &size) != ERROR_SUCCESS) {
    return {};
  }
  return path;
}

}  // namespace vesk::test
