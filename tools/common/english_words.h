// English words inside Chinese text, spoken by espeak-ng's English voice
// instead of being spelled by the engine: where they are in prepared text,
// and their audio at the engine voice's sample rate, speed, pitch and
// loudness. Every host uses this for the English words of its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::host {

// A stretch of prepared text and who speaks it.
struct TextSpan {
  std::u16string text;
  bool english = false;  // a word for the English voice; else the engine's
};

// Cuts prepared text into the engine's stretches and English words. A word
// is a run of Latin letters, possibly joined by single hyphens or
// apostrophes (e-mail, don't), with at least two letters and a small
// letter: acronyms of capitals (USB, NVDA, ID) and single letters stay with
// the engine, which spells them, as do letters joined to digits (x86_64,
// COVID-19). Concatenating the spans gives the text back.
std::vector<TextSpan> SplitEnglishWords(std::u16string_view text);

// How the English voice should sound to match the engine's voice.
struct EnglishStyle {
  int32_t sampleRate = 16000;  // the engine voice's
  int32_t rate = 50;           // the engine's 0..100, 50 its default
  int32_t pitch = 50;          // the engine's 0..100, 50 its default
  // The root mean square level to bring the word's voiced audio to; 0
  // (nothing heard from the engine yet) scales espeak-ng's own level by
  // volumeGain instead: the engine's volume over its default.
  double loudness = 0;
  double volumeGain = 1;
};

// The root mean square of the voiced samples (within 30 dB of the loudest),
// the level both voices are matched on; 0 when all are silent.
double VoicedLoudness(const int16_t* samples, std::size_t count);

// espeak-ng's English voice, loaded once per process (espeak-ng keeps one
// global state, so only one thread may speak with it at a time).
class EnglishVoice {
 public:
  EnglishVoice();
  EnglishVoice(const EnglishVoice&) = delete;
  EnglishVoice& operator=(const EnglishVoice&) = delete;

  bool ok() const { return sourceRate_ > 0; }

  // The word's audio as the style asks; empty when it could not be made.
  std::vector<int16_t> Speak(std::u16string_view word,
                             const EnglishStyle& style) const;

 private:
  int sourceRate_ = 0;
};

}  // namespace vesk::host
