// The first step of the text preparation: one form for every way of writing
// the same character.
#pragma once

#include <string>
#include <string_view>

namespace vesk::textprep {

// NFKC, except for the superscripts ² and ³ (m² must not become m2), the
// vulgar fractions and the full-width sentence marks (the engine pauses on
// them as they are, and "1，2" is a list, not one thousand and two); 〇 as
// 零; unpaired surrogates (silent to the engine, invalid for the hosts)
// dropped.
std::u16string Normalize(std::u16string_view text);

}  // namespace vesk::textprep
