#include "normalize.h"

#include "unicode_services.h"
#include "vocabulary.h"

namespace vesk::textprep {

using std::u16string;

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
