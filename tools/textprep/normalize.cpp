#include "normalize.h"

#include <unicode/unorm2.h>

#include "vocabulary.h"

namespace vesk::textprep {

using std::u16string;

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

u16string Normalize(u16string_view text) {
  u16string nfkc;
  nfkc.reserve(text.size() + 8);
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (u16string_view(u"²³，！？").find(text[i]) != u16string_view::npos ||
        IsVulgarFraction(text[i])) {
      AppendNfkc(text.substr(from, i - from), nfkc);
      nfkc += text[i];
      from = i + 1;
    }
  }
  AppendNfkc(text.substr(from), nfkc);
  u16string out;
  out.reserve(nfkc.size());
  for (std::size_t i = 0; i < nfkc.size(); ++i) {
    const char16_t c = nfkc[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < nfkc.size() &&
        nfkc[i + 1] >= 0xDC00 && nfkc[i + 1] <= 0xDFFF) {
      out += c;
      out += nfkc[++i];
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      continue;
    } else {
      out += c == u'〇' ? u'零' : c;
    }
  }
  return out;
}

}  // namespace vesk::textprep
