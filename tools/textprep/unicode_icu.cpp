// NFKC and the Chinese spell-out from ICU (Linux).
#include <unicode/locid.h>
#include <unicode/rbnf.h>
#include <unicode/unorm2.h>

#include <memory>

#include "unicode_services.h"

namespace vesk::textprep {

using std::u16string;
using std::u16string_view;

void AppendNfkc(u16string_view part, u16string& out) {
  if (part.empty()) return;
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfkc = unorm2_getNFKCInstance(&status);
  if (U_SUCCESS(status)) {
    const int32_t length = int32_t(part.size());
    // Most text is already in NFKC: copy that prefix without a second pass.
    const int32_t done = unorm2_spanQuickCheckYes(
        nfkc, reinterpret_cast<const UChar*>(part.data()), length, &status);
    if (U_SUCCESS(status)) {
      out.append(part.substr(0, std::size_t(done)));
      if (done == length) return;
      const u16string_view rest = part.substr(std::size_t(done));
      const std::size_t at = out.size();
      out.resize(at + rest.size() * 3 + 8);
      int32_t written = unorm2_normalize(
          nfkc, reinterpret_cast<const UChar*>(rest.data()),
          int32_t(rest.size()), reinterpret_cast<UChar*>(out.data() + at),
          int32_t(out.size() - at), &status);
      if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        out.resize(at + std::size_t(written));
        written = unorm2_normalize(
            nfkc, reinterpret_cast<const UChar*>(rest.data()),
            int32_t(rest.size()), reinterpret_cast<UChar*>(out.data() + at),
            written, &status);
      }
      if (U_SUCCESS(status)) {
        out.resize(at + std::size_t(written));
        return;
      }
      out.resize(at);
      out.append(rest);
      return;
    }
  }
  out.append(part);
}

std::optional<u16string> SpellOutChinese(int64_t value) {
  // A formatter is not shared between threads: one per thread.
  thread_local std::unique_ptr<icu::RuleBasedNumberFormat> format = [] {
    UErrorCode status = U_ZERO_ERROR;
    auto f = std::make_unique<icu::RuleBasedNumberFormat>(
        icu::URBNF_SPELLOUT, icu::Locale::getChinese(), status);
    return U_FAILURE(status) ? nullptr : std::move(f);
  }();
  if (!format || value < 0 || value > kLargestSpelledValue) return std::nullopt;
  icu::UnicodeString spelled;
  format->format(value, spelled);
  return u16string(reinterpret_cast<const char16_t*>(spelled.getBuffer()),
                   std::size_t(spelled.length()));
}

bool HasChineseSpellOut() { return SpellOutChinese(0).has_value(); }

}  // namespace vesk::textprep
