// Text preparation for the hosts we ship (vesk-say, sd_vesk, vesk-pinyin):
// turns real text (full-width forms, numbers with signs and decimal points,
// dates, times, units, symbols) into text that the engine reads the way a
// Chinese listener expects. The engine itself never rewrites text; a screen
// reader that loads it does its own preparation.
#pragma once

#include <string>
#include <string_view>

namespace vesk::textprep {

struct PrepOptions {
  // Read symbols and punctuation names (¥, %, +, ×, …) in Chinese. Off in
  // the speech-dispatcher module, whose server runs its own symbol pass.
  bool readSymbols = true;
};

// Returns the prepared text. Never fails: text it does not understand is
// handed on as it is.
std::u16string PrepareText(std::u16string_view text, const PrepOptions& options = {});

}  // namespace vesk::textprep
