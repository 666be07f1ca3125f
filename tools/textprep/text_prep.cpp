#include "text_prep.h"

namespace vesk::textprep {

std::u16string PrepareText(std::u16string_view text, const PrepOptions&) {
  return std::u16string(text);
}

}  // namespace vesk::textprep
