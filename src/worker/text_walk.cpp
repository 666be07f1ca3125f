#include "worker/text_walk.h"

#include <string>

#include "frontend/number_reading.h"
#include "frontend/phonetic_tables.h"
#include "frontend/text_runs.h"

namespace vesk {

namespace {

void AddSyllables(std::vector<Syllable> syllables, SpokenItem::Kind kind,
                  std::vector<SpokenItem>& out) {
  for (Syllable& syllable : syllables) {
    out.push_back({kind, std::move(syllable), 0});
  }
}

void AddNumber(std::u16string_view digits, const PinyinLexicon& lexicon,
               std::vector<SpokenItem>& out) {
  const std::u16string reading = ReadNumber(digits);
  if (!reading.empty()) {
    AddSyllables(lexicon.convert(reading), SpokenItem::Kind::kNumberSyllable,
                 out);
    return;
  }
  for (char16_t digit : digits) {
    out.push_back({SpokenItem::Kind::kNumberSyllable, DigitSyllable(digit), 0});
  }
}

}  // namespace

std::size_t WalkRun(std::u16string_view text, std::size_t start,
                    const PinyinLexicon& lexicon,
                    std::vector<SpokenItem>& out) {
  const std::size_t end = RunEnd(text, start);
  const std::u16string_view run = text.substr(start, end - start);
  switch (ClassifyCharacter(text[start])) {
    case TextRun::Han:
      AddSyllables(lexicon.convert(run), SpokenItem::Kind::kCharacterSyllable,
                   out);
      break;
    case TextRun::Digits:
      AddNumber(run, lexicon, out);
      break;
    case TextRun::Letters:
      for (char16_t c : run) {
        const char letter = char(c >= u'a' ? c : c - u'A' + u'a');
        out.push_back({SpokenItem::Kind::kLetter, {}, letter});
      }
      break;
    case TextRun::SentenceMark:
      out.push_back({SpokenItem::Kind::kPause, {}, 0});
      break;
    case TextRun::Other:
      break;
  }
  return end;
}

std::vector<SpokenItem> WalkText(std::u16string_view text,
                                 const PinyinLexicon& lexicon) {
  std::vector<SpokenItem> out;
  for (std::size_t i = 0; i < text.size();) i = WalkRun(text, i, lexicon, out);
  return out;
}

}  // namespace vesk
