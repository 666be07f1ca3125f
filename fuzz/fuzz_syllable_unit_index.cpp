// Syllable splitting and unit indices for arbitrary spellings.
#include <cstdint>
#include <string>
#include <string_view>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "fuzz_support.h"

namespace {

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return out;
}

bool IsInitial(std::string_view initial) {
  if (initial.empty() || initial == "zh" || initial == "ch" || initial == "sh")
    return true;
  return initial.size() == 1 &&
         std::string_view("bpmfdtnlgkhjqxrzcsyw").find(initial[0]) !=
             std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using vesk::fuzz::Require;
  if (size == 0) return 0;
  const int32_t tone = data[0] % 5;
  const std::string_view pinyin(reinterpret_cast<const char*>(data + 1),
                                size - 1);

  const vesk::SyllableParts parts = vesk::SplitSyllable(pinyin);
  Require(parts.initial + parts.final == Lowered(pinyin),
          "initial and final make up the lowered spelling");
  Require(IsInitial(parts.initial), "initial from the fixed set");

  const int32_t index = vesk::SyllableUnitIndex(pinyin, tone);
  const bool nasal = pinyin == "ng" || pinyin == "n" || pinyin == "m";
  const int32_t spokenTone = nasal && tone == 3 ? 4 : tone;
  Require(index == -1 || (index >= 0 && index < 26 * vesk::kLetterBlockSize &&
                          index % vesk::kSlotSize == spokenTone),
          "index is -1 or block + slot + tone");
  const std::string lowered = Lowered(pinyin);
  if (lowered != "ng" && lowered != "n" && lowered != "m") {
    Require(vesk::SyllableUnitIndex(lowered, tone) == index,
            "letter case does not change the index");
  }
  return 0;
}
