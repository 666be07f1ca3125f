#include "pinyin_tool.h"

#include "frontend/text_runs.h"
#include "lexicon/dictionary_file.h"
#include "worker/text_walk.h"

namespace vesk::tool {

namespace {

// The Han runs of text, in order, as the engine divides text into runs.
std::vector<std::u16string_view> HanRuns(std::u16string_view text) {
  std::vector<std::u16string_view> runs;
  for (std::size_t pos = 0, end = 0; pos < text.size(); pos = end) {
    end = RunEnd(text, pos);
    if (IsHan(text[pos])) runs.push_back(text.substr(pos, end - pos));
  }
  return runs;
}

// A syllable the engine can speak in its own tone.
bool Speakable(const Syllable& s) {
  return !s.pinyin.empty() && s.tone >= 0 && s.tone <= 4 &&
         SyllableUnitIndex(s.pinyin, s.tone) >= 0;
}

}  // namespace

std::string FormatSyllable(const Syllable& syllable) {
  if (syllable.pinyin.empty()) return "-";
  return syllable.pinyin + std::to_string(syllable.tone);
}

std::string FormatSyllables(const std::vector<Syllable>& syllables) {
  std::string out;
  for (const Syllable& s : syllables) {
    if (!out.empty()) out += ' ';
    out += FormatSyllable(s);
  }
  return out;
}

std::optional<Syllable> ParseToneDigitSyllable(std::string_view piece) {
  if (piece == "-") return Syllable{};
  if (piece.size() < 2) return std::nullopt;
  const char digit = piece.back();
  if (digit < '0' || digit > '5') return std::nullopt;
  Syllable s;
  s.pinyin = std::string(piece.substr(0, piece.size() - 1));
  s.tone = digit == '5' ? 0 : digit - '0';
  return s;
}

std::vector<Syllable> ReadLine(const PinyinLexicon& lexicon,
                               std::u16string_view line) {
  std::vector<Syllable> out;
  for (SpokenItem& item : WalkText(line, lexicon)) {
    if (item.kind == SpokenItem::Kind::kCharacterSyllable) {
      out.push_back(std::move(item.syllable));
    }
  }
  return out;
}

std::string SpokenLine(const PinyinLexicon& lexicon, std::u16string_view line) {
  std::string out;
  for (const SpokenItem& item : WalkText(line, lexicon)) {
    if (!out.empty()) out += ' ';
    switch (item.kind) {
      case SpokenItem::Kind::kCharacterSyllable:
      case SpokenItem::Kind::kNumberSyllable:
        out += FormatSyllable(item.syllable);
        break;
      case SpokenItem::Kind::kLetter:
        out += char(item.letter - 'a' + 'A');
        break;
      case SpokenItem::Kind::kPause:
        out += ',';
        break;
    }
  }
  return out;
}

std::optional<std::vector<Syllable>> SandhiForText(
    std::u16string_view text, const std::vector<std::string_view>& pieces) {
  std::vector<Syllable> syllables;
  for (std::string_view piece : pieces) {
    auto s = ParseToneDigitSyllable(piece);
    if (!s) return std::nullopt;
    syllables.push_back(std::move(*s));
  }
  std::vector<Syllable> out;
  std::size_t next = 0;
  for (std::u16string_view run : HanRuns(text)) {
    if (syllables.size() - next < run.size()) return std::nullopt;
    std::vector<Syllable> part(syllables.begin() + next,
                               syllables.begin() + next + run.size());
    next += run.size();
    PinyinLexicon::applyToneSandhi(run, part);
    out.insert(out.end(), part.begin(), part.end());
  }
  if (next != syllables.size()) return std::nullopt;
  return out;
}

DictionaryCheck CheckDictionaryFile(const std::u16string& path,
                                    bool phraseFile) {
  DictionaryCheck check;
  const std::optional<std::string> content = readDictionaryFile(path);
  if (!content) return check;
  check.opened = true;
  std::string_view rest(*content);
  std::size_t lineNumber = 0;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = trimBlanks(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view readings = line.substr(colon + 1);
    const bool codePoint = !phraseFile && line.size() >= 2 &&
                           (line[0] == 'U' || line[0] == 'u') && line[1] == '+';
    if (codePoint) readings = readings.substr(0, readings.find('#'));
    bool stored = false;
    for (std::string_view piece :
         splitReadings(trimBlanks(readings), phraseFile ? ' ' : ',')) {
      if (piece.empty()) continue;
      const Syllable s = parseReading(piece);
      ++check.readings;
      if (!s.pinyin.empty()) stored = true;
      if (!Speakable(s)) {
        check.problems.push_back({lineNumber, std::string(piece)});
      }
    }
    if (stored) ++check.entries;
  }
  return check;
}

}  // namespace vesk::tool
