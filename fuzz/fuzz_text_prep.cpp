// The hosts' text preparation: any UTF-8 in (as the hosts convert it), or
// any UTF-16 at all, gives valid UTF-16 out, within the stated bound on its
// length, under both symbol settings.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/platform.h"
#include "text_prep.h"

namespace {

using vesk::fuzz::Require;

bool ValidUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void Check(const std::u16string& text) {
  for (bool readSymbols : {true, false}) {
    vesk::textprep::PrepOptions options;
    options.readSymbols = readSymbols;
    const std::u16string out = vesk::textprep::PrepareText(text, options);
    Require(ValidUtf16(out), "valid UTF-16 out");
    Require(out.size() <= 20 * text.size() + 16, "bounded growth");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    Check(vesk::fuzz::BytesToUtf16(data + 1, size - 1));
  } else {
    Check(vesk::platform::Utf8ToUtf16(
        std::string_view(reinterpret_cast<const char*>(data + 1), size - 1)));
  }
  return 0;
}
