#include "registration.h"

#include <olectl.h>

#include <optional>
#include <vector>

#include "shared_engine.h"
#include "tts_engine.h"

namespace vesk::sapi {

namespace {

// A 32-bit DLL registers itself in the 32-bit view, a 64-bit one in the
// 64-bit view: SAPI programs of each bitness see their own engine.
constexpr REGSAM kView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr wchar_t kTokensKey[] = L"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens";
constexpr wchar_t kClassesKey[] = L"SOFTWARE\\Classes\\CLSID";

class Key {
 public:
  Key() = default;
  explicit Key(HKEY key) : key_(key) {}
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(Key&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

Key Create(HKEY parent, const std::wstring& path, LONG& status) {
  HKEY key = nullptr;
  status = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0,
                           KEY_WRITE | kView, nullptr, &key, nullptr);
  return Key(status == ERROR_SUCCESS ? key : nullptr);
}

Key Open(HKEY parent, const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, access | kView, &key) !=
      ERROR_SUCCESS)
    return Key();
  return Key(key);
}

LONG SetString(const Key& key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key.get(), name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
}

std::optional<std::wstring> GetString(const Key& key, const wchar_t* name) {
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return std::nullopt;
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = DWORD(value.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key.get(), name, nullptr, &type,
                       reinterpret_cast<BYTE*>(value.data()),
                       &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  value.resize(value.find(L'\0'));
  return value;
}

std::wstring ClassIdText() {
  wchar_t text[40] = {};
  StringFromGUID2(kEngineClassId, text, 40);
  return text;
}

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

// Writes name = value pairs into a new key; the first failure wins.
LONG WriteKey(
    HKEY parent, const std::wstring& path,
    const std::vector<std::pair<const wchar_t*, std::wstring>>& values) {
  LONG status = ERROR_SUCCESS;
  const Key key = Create(parent, path, status);
  for (const auto& [name, value] : values) {
    if (status == ERROR_SUCCESS) status = SetString(key, name, value);
  }
  return status;
}

LONG RegisterClass(const std::filesystem::path& dll) {
  const std::wstring key = std::wstring(kClassesKey) + L"\\" + ClassIdText();
  LONG status = WriteKey(HKEY_LOCAL_MACHINE, key, {{nullptr, L"Vesk"}});
  if (status != ERROR_SUCCESS) return status;
  return WriteKey(HKEY_LOCAL_MACHINE, key + L"\\InprocServer32",
                  {{nullptr, dll.wstring()}, {L"ThreadingModel", L"Both"}});
}

LONG RegisterToken(const VoiceToken& token) {
  const std::wstring key = std::wstring(kTokensKey) + L"\\" + token.key;
  LONG status = WriteKey(HKEY_LOCAL_MACHINE, key,
                         {{nullptr, token.displayName},
                          {L"804", token.displayName},
                          {L"CLSID", ClassIdText()},
                          {kVoiceValue, token.voice}});
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::pair<const wchar_t*, std::wstring>> attributes = {
      {L"Language", L"804"},
      {L"Age", L"Adult"},
      {L"Name", token.displayName},
      {L"Vendor", L"Vesk"}};
  if (!token.gender.empty()) attributes.push_back({L"Gender", token.gender});
  return WriteKey(HKEY_LOCAL_MACHINE, key + L"\\Attributes", attributes);
}

// The token keys that name Vesk's class.
std::vector<std::wstring> VeskTokens(const Key& tokens) {
  std::vector<std::wstring> names;
  const std::wstring classId = ClassIdText();
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(tokens.get(), i, name, &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      break;
    const Key token = Open(tokens.get(), name, KEY_READ);
    const auto value = token ? GetString(token, L"CLSID") : std::nullopt;
    if (value && CompareStringOrdinal(value->c_str(), -1, classId.c_str(), -1,
                                      TRUE) == CSTR_EQUAL)
      names.push_back(name);
  }
  return names;
}

LONG DeleteTree(const Key& parent, const std::wstring& name) {
  const LONG status = RegDeleteTreeW(parent.get(), name.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
  const LONG removed = RegDeleteKeyExW(parent.get(), name.c_str(), kView, 0);
  return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
}

LONG RemoveTokens() {
  const Key tokens =
      Open(HKEY_LOCAL_MACHINE, kTokensKey, KEY_READ | KEY_WRITE | DELETE);
  if (!tokens) return ERROR_SUCCESS;
  LONG status = ERROR_SUCCESS;
  for (const auto& name : VeskTokens(tokens)) {
    const LONG removed = DeleteTree(tokens, name);
    if (status == ERROR_SUCCESS) status = removed;
  }
  return status;
}

LONG RemoveClass() {
  const Key classes =
      Open(HKEY_LOCAL_MACHINE, kClassesKey, KEY_READ | KEY_WRITE | DELETE);
  return classes ? DeleteTree(classes, ClassIdText()) : ERROR_SUCCESS;
}

}  // namespace

VoiceToken TokenFor(const std::u16string& voice) {
  VoiceToken token;
  token.voice = Wide(voice);
  token.key = L"Vesk-" + token.voice;
  token.displayName = L"Vesk " + token.voice;
  // Voices are named for their speaker: 女声 a woman's voice, 男声 a man's.
  if (voice.find(u'女') != std::u16string::npos)
    token.gender = L"Female";
  else if (voice.find(u'男') != std::u16string::npos)
    token.gender = L"Male";
  return token;
}

HRESULT RegisterServer(const std::filesystem::path& dll) {
  const StartedEngine& engine = SharedEngine();
  if (engine.api == nullptr || engine.voices.empty()) return SELFREG_E_CLASS;
  LONG status = RemoveTokens();
  if (status == ERROR_SUCCESS) status = RegisterClass(dll);
  for (const auto& voice : engine.voices) {
    if (status == ERROR_SUCCESS) status = RegisterToken(TokenFor(voice.name));
  }
  if (status == ERROR_SUCCESS) return S_OK;
  UnregisterServer();
  return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterServer() {
  const LONG tokens = RemoveTokens();
  const LONG classKey = RemoveClass();
  const LONG status = tokens != ERROR_SUCCESS ? tokens : classKey;
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

std::wstring VoiceOfTokenId(const std::wstring& tokenId) {
  constexpr std::wstring_view kMachine = L"HKEY_LOCAL_MACHINE\\";
  constexpr std::wstring_view kUser = L"HKEY_CURRENT_USER\\";
  HKEY root = nullptr;
  std::wstring path;
  if (tokenId.starts_with(kMachine)) {
    root = HKEY_LOCAL_MACHINE;
    path = tokenId.substr(kMachine.size());
  } else if (tokenId.starts_with(kUser)) {
    root = HKEY_CURRENT_USER;
    path = tokenId.substr(kUser.size());
  } else {
    // Wine's tokens are named by their key below the voice tokens alone.
    root = HKEY_LOCAL_MACHINE;
    path = std::wstring(kTokensKey) + L"\\" + tokenId;
  }
  const Key key = Open(root, path, KEY_READ);
  return key ? GetString(key, kVoiceValue).value_or(L"") : L"";
}

}  // namespace vesk::sapi
