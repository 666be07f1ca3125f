// Built-in common words whose second syllable is in the neutral tone.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "frontend/syllable.h"

namespace vesk {

using NeutralToneMap = std::map<std::u16string, std::vector<Syllable>>;

// The 104 built-in words, built once.
const NeutralToneMap& NeutralToneLexicon();

}  // namespace vesk
