// The preparation's walk over one normalised text: where it is, what it has
// written, and the readers of its pieces.
#pragma once

#include <cstddef>
#include <string_view>

#include "text_prep.h"
#include "vocabulary.h"
#include "writer.h"

namespace vesk::textprep {

struct Scan {
  Scan(u16string_view text, const PrepOptions& prepOptions)
      : s(text), options(prepOptions), w(text.size() + text.size() / 2 + 8) {}

  char16_t At(std::size_t k) const { return k < s.size() ? s[k] : 0; }
  // The closest character before k that is not a blank (0 at the start).
  char16_t HeardBefore(std::size_t k) const {
    while (k > 0 && IsSpace(s[k - 1])) --k;
    return k > 0 ? s[k - 1] : 0;
  }
  std::size_t SkipBlanks(std::size_t k) const {
    while (k < s.size() && IsSpace(s[k])) ++k;
    return k;
  }

  u16string_view s;
  const PrepOptions& options;
  Writer w;
  std::size_t i = 0;  // the next character to read
};

// A number whose digits start at, after a sign or a currency (both may be
// absent); scan.i is where its text begins. Reads it by its shape, or
// leaves it to the engine.
void PrepareNumber(Scan& scan, std::size_t at, char16_t sign,
                   const Currency* currency);

}  // namespace vesk::textprep
