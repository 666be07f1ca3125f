// What DllRegisterServer and DllUnregisterServer write and remove, in the
// registry view of this DLL's own bitness: the COM class, and one SAPI voice
// token per voice of the engine beside the DLL.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace vesk::sapi {

// The token of a voice: its key below the voice tokens and what SAPI
// programs show and select by.
struct VoiceToken {
  std::wstring key;          // "Vesk-<voice>"
  std::wstring displayName;  // "Vesk <voice>"
  std::wstring voice;        // the engine's voice name
  std::wstring gender;       // "Female", "Male" or empty
};

VoiceToken TokenFor(const std::u16string& voice);

// The engine's voice named by a token: its VeskVoice value.
inline constexpr wchar_t kVoiceValue[] = L"VeskVoice";

// Registers the class served by dll and the tokens of the engine's voices,
// replacing every token registered before (a voice may have gone).
HRESULT RegisterServer(const std::filesystem::path& dll);

// Removes the class and every token that names it.
HRESULT UnregisterServer();

// The VeskVoice value of the token whose id (a full registry path, as
// SAPI gives it, or a key below the voice tokens) is tokenId, read straight
// from the registry.
std::wstring VoiceOfTokenId(const std::wstring& tokenId);

}  // namespace vesk::sapi
