// What a SAPI Speak call asks for, as plain records: the fragments SAPI
// parsed out of the caller's text and XML, turned into the steps the voice
// plays one after another. Knows nothing of COM, so it is the same on every
// system and tested on Linux with the rest of the host code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::sapi {

// SAPI's fragment actions (SPVACTIONS), in its order.
enum class FragmentAction {
  kSpeak,
  kSilence,
  kPronounce,
  kBookmark,
  kSpellOut,
  kSection,
  kParseUnknownTag,
};

// One fragment with the part of its voice state the engine can honour.
struct Fragment {
  FragmentAction action = FragmentAction::kSpeak;
  std::u16string_view text;   // the words, or a bookmark's name
  uint32_t sourceOffset = 0;  // of text in the caller's string
  int32_t rateAdjust = 0;     // -10..10 on top of the voice's rate
  uint32_t volume = 100;      // 0..100, scales the voice's volume
  int32_t pitchAdjust = 0;    // -10..10
  uint32_t silenceMs = 0;     // for kSilence
};

enum class StepKind { kSentence, kBookmark, kSilence };

// A sentence is spoken with one engine utterance; a bookmark is an event at
// the audio offset where it falls; a silence is written as zero samples.
struct Step {
  StepKind kind = StepKind::kSentence;
  std::size_t fragment = 0;  // index into the fragment list
  std::u16string_view text;  // a sentence's words or a bookmark's name
  uint32_t sourceOffset = 0;
  bool spellOut = false;
};

// Sentences are cut after 。！？；!? and line breaks, after '.' followed by
// white space, and at most this many code units apart (at a place where
// the engine's reading does not change, where there is one).
inline constexpr std::size_t kSentenceLimit = 1000;

// Length of the first sentence of text, closing quotes and brackets and
// the white space after its mark included.
std::size_t SentenceLength(std::u16string_view text);

// The steps of a fragment list, in order. Fragments with nothing to say
// (empty or blank text, sections, unknown tags) give no step.
std::vector<Step> PlanSteps(const std::vector<Fragment>& fragments);

// Text for the engine that reads each character on its own: digits one by
// one, Chinese characters each in its own tone, letters spelled.
std::u16string SpelledOut(std::u16string_view text);

// The engine's 0..100 settings for a sentence: SAPI's rate -10..10 (the
// voice's plus the fragment's) from half to double speed, its pitch
// adjustment the same way, and its volume 0..100 (the voice's times the
// fragment's) up to the engine's normal level, 50.
struct EngineSettings {
  int32_t rate = 50;
  int32_t pitch = 50;
  int32_t volume = 50;
};
EngineSettings MapSettings(long voiceRate, unsigned voiceVolume,
                           const Fragment& fragment);

// Where a skip of count sentences from the sentence at step current lands:
// the step to go on from and how many sentences were actually skipped (as
// many as there are, in either direction; 0 goes back to the start of the
// current one).
struct SkipResult {
  std::size_t step = 0;
  long skipped = 0;
};
SkipResult Skip(const std::vector<Step>& steps, std::size_t current,
                long count);

}  // namespace vesk::sapi
