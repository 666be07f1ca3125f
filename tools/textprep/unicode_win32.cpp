// NFKC from Windows' NormalizeString; the Chinese spell-out from the ICU that
// Windows 10 1903 and later ships as icu.dll, loaded when first asked for.
#include <windows.h>

#include <climits>
#include <mutex>

#include "unicode_services.h"

namespace vesk::textprep {

using std::u16string;
using std::u16string_view;

namespace {

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// NormalizeString refuses text with an unpaired surrogate, which ICU passes
// through: the length of the well-formed start of text.
std::size_t WellFormedLength(u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsSurrogate(text[i])) continue;
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() &&
        IsSurrogate(text[i + 1]) && !IsHighSurrogate(text[i + 1])) {
      ++i;
      continue;
    }
    return i;
  }
  return text.size();
}

// Below U+00A0 every character is its own NFKC: most text needs no call.
bool IsPlain(u16string_view text) {
  for (char16_t c : text)
    if (c >= 0xA0) return false;
  return true;
}

// NFKC of well-formed text appended to out; false (out unchanged) when
// Windows cannot normalise it.
bool AppendNormalized(u16string_view text, u16string& out) {
  if (text.size() > std::size_t(INT_MAX)) return false;
  const auto source = reinterpret_cast<LPCWSTR>(text.data());
  const int length = int(text.size());
  // The first call estimates; a short estimate is answered with a better one.
  int capacity = NormalizeString(NormalizationKC, source, length, nullptr, 0);
  const std::size_t at = out.size();
  for (int attempt = 0; attempt < 4 && capacity > 0; ++attempt) {
    out.resize(at + std::size_t(capacity));
    const int written =
        NormalizeString(NormalizationKC, source, length,
                        reinterpret_cast<LPWSTR>(&out[at]), capacity);
    if (written > 0) {
      out.resize(at + std::size_t(written));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    capacity = -written;
  }
  out.resize(at);
  return false;
}

}  // namespace

void AppendNfkc(u16string_view part, u16string& out) {
  while (!part.empty()) {
    const std::size_t good = WellFormedLength(part);
    const u16string_view text = part.substr(0, good);
    if (IsPlain(text) || !AppendNormalized(text, out)) out.append(text);
    if (good == part.size()) return;
    out += part[good];  // the unpaired surrogate, as ICU leaves it
    part.remove_prefix(good + 1);
  }
}

namespace {

// The few declarations of ICU's C API used here, from its published headers
// (unum.h, utypes.h). Windows' icu.dll exports them without version suffix,
// with the C calling convention.
using UErrorCode = int;
constexpr UErrorCode kIcuZeroError = 0;
constexpr UErrorCode kIcuBufferOverflowError = 15;
bool IcuFailed(UErrorCode status) { return status > kIcuZeroError; }
constexpr int kIcuSpellOutStyle = 5;  // UNUM_SPELLOUT in UNumberFormatStyle
struct UNumberFormat;

using UnumOpen = UNumberFormat*(__cdecl*)(int style, const wchar_t* pattern,
                                          int32_t patternLength,
                                          const char* locale, void* parseError,
                                          UErrorCode* status);
using UnumFormatInt64 = int32_t(__cdecl*)(const UNumberFormat* format,
                                          int64_t number, wchar_t* result,
                                          int32_t resultLength, void* position,
                                          UErrorCode* status);

// The Chinese spell-out, opened once per process. It is never closed: the
// process may unload a host DLL under the loader lock, where freeing another
// library must not happen.
struct SpellOut {
  UnumFormatInt64 formatInt64 = nullptr;
  UNumberFormat* format = nullptr;
  std::mutex lock;  // one formatter, used by one thread at a time
};

// An export of icu.dll with its declared type (through void (*)(), the one
// function type any function pointer converts from without complaint).
template <typename Function>
Function IcuFunction(HMODULE icu, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(icu, name)));
}

SpellOut* OpenSpellOut() {
  HMODULE icu =
      LoadLibraryExW(L"icu.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (icu == nullptr) return nullptr;
  const auto open = IcuFunction<UnumOpen>(icu, "unum_open");
  const auto formatInt64 =
      IcuFunction<UnumFormatInt64>(icu, "unum_formatInt64");
  UErrorCode status = kIcuZeroError;
  UNumberFormat* format =
      open != nullptr && formatInt64 != nullptr
          ? open(kIcuSpellOutStyle, nullptr, 0, "zh", nullptr, &status)
          : nullptr;
  if (format == nullptr || IcuFailed(status)) {
    FreeLibrary(icu);
    return nullptr;
  }
  auto* spellOut = new SpellOut;
  spellOut->formatInt64 = formatInt64;
  spellOut->format = format;
  return spellOut;
}

SpellOut* TheSpellOut() {
  static SpellOut* const spellOut = OpenSpellOut();  // once, thread-safe
  return spellOut;
}

}  // namespace

std::optional<u16string> SpellOutChinese(int64_t value) {
  SpellOut* spellOut = TheSpellOut();
  if (spellOut == nullptr || value < 0 || value > kLargestSpelledValue)
    return std::nullopt;
  std::lock_guard<std::mutex> hold(spellOut->lock);
  u16string spelled(64, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = kIcuZeroError;
    const int32_t length = spellOut->formatInt64(
        spellOut->format, value, reinterpret_cast<wchar_t*>(spelled.data()),
        int32_t(spelled.size()), nullptr, &status);
    if (status == kIcuBufferOverflowError && length > 0) {
      spelled.assign(std::size_t(length), u'\0');
      continue;
    }
    if (IcuFailed(status) || length < 0) return std::nullopt;
    spelled.resize(std::size_t(length));
    return spelled;
  }
  return std::nullopt;
}

bool HasChineseSpellOut() { return TheSpellOut() != nullptr; }

}  // namespace vesk::textprep
