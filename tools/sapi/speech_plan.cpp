#include "speech_plan.h"

#include <algorithm>
#include <cmath>

#include "host_text.h"

namespace vesk::sapi {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000';
}

bool EndsSentence(std::u16string_view text, std::size_t at) {
  switch (text[at]) {
    case u'。':
    case u'！':
    case u'？':
    case u'；':
    case u'!':
    case u'?':
    case u'\n':
      return true;
    case u'.':
      return at + 1 < text.size() && IsBlank(text[at + 1]);
    default:
      return false;
  }
}

// Marks that still belong to the sentence before them.
bool Closes(char16_t c) {
  return std::u16string_view(u"”’」』）)]】》\"'").find(c) !=
         std::u16string_view::npos;
}

void AddSentences(const Fragment& fragment, std::size_t index, bool spellOut,
                  std::vector<Step>& steps) {
  std::u16string_view rest = fragment.text;
  uint32_t offset = fragment.sourceOffset;
  while (!rest.empty()) {
    const std::size_t length = SentenceLength(rest);
    const std::u16string_view sentence = rest.substr(0, length);
    if (host::HasContent(sentence)) {
      steps.push_back({StepKind::kSentence, index, sentence, offset, spellOut});
    }
    rest.remove_prefix(length);
    offset += uint32_t(length);
  }
}

int32_t Clamp100(double value) {
  return int32_t(std::clamp(std::lround(value), 0L, 100L));
}

}  // namespace

std::size_t SentenceLength(std::u16string_view text) {
  const std::size_t window = std::min(text.size(), kSentenceLimit);
  for (std::size_t at = 0; at < window; ++at) {
    if (!EndsSentence(text, at)) continue;
    std::size_t end = at + 1;
    while (end < text.size() &&
           (Closes(text[end]) || IsBlank(text[end]) ||
            (text[end] != u'.' && EndsSentence(text, end))))
      ++end;
    return end;
  }
  return host::NextPieceLength(text, kSentenceLimit, true);
}

std::vector<Step> PlanSteps(const std::vector<Fragment>& fragments) {
  std::vector<Step> steps;
  for (std::size_t i = 0; i < fragments.size(); ++i) {
    const Fragment& f = fragments[i];
    switch (f.action) {
      case FragmentAction::kSpeak:
      case FragmentAction::kPronounce:
        AddSentences(f, i, false, steps);
        break;
      case FragmentAction::kSpellOut:
        AddSentences(f, i, true, steps);
        break;
      case FragmentAction::kBookmark:
        steps.push_back({StepKind::kBookmark, i, f.text, f.sourceOffset});
        break;
      case FragmentAction::kSilence:
        if (f.silenceMs > 0)
          steps.push_back({StepKind::kSilence, i, {}, f.sourceOffset});
        break;
      case FragmentAction::kSection:
      case FragmentAction::kParseUnknownTag:
        break;
    }
  }
  return steps;
}

std::u16string SpelledOut(std::u16string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsBlank(text[i])) continue;
    if (!out.empty()) out += u' ';
    out += text[i];
    // A character outside the BMP stays whole.
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size())
      out += text[++i];
  }
  return out;
}

EngineSettings MapSettings(long voiceRate, unsigned voiceVolume,
                           const Fragment& fragment) {
  EngineSettings s;
  const double rate =
      std::clamp(double(voiceRate) + fragment.rateAdjust, -10.0, 10.0);
  s.rate = Clamp100(50 + 5 * rate);
  s.pitch = Clamp100(50 + 5 * std::clamp(fragment.pitchAdjust, -10, 10));
  const double volume = std::min(voiceVolume, 100u) / 100.0 *
                        std::min(fragment.volume, 100u) / 100.0;
  s.volume = Clamp100(50 * volume);
  return s;
}

SkipResult Skip(const std::vector<Step>& steps, std::size_t current,
                long count) {
  std::vector<std::size_t> sentences;
  std::size_t here = 0;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].kind != StepKind::kSentence) continue;
    if (i <= current) here = sentences.size();
    sentences.push_back(i);
  }
  if (sentences.empty()) return {current, 0};
  const long last = long(sentences.size()) - 1;
  const long target = long(here) + count;
  if (target > last) return {steps.size(), last - long(here) + 1};
  const long landed = std::max(target, 0L);
  return {sentences[std::size_t(landed)], landed - long(here)};
}

}  // namespace vesk::sapi
