// The thread that speaks one utterance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "frontend/syllable.h"
#include "lexicon/pinyin_lexicon.h"
#include "voice/voice.h"
#include "worker/worker_context.h"

namespace vesk {

struct UtteranceRequest {
  std::u16string voiceName;  // may be empty: the first voice speaks
  std::u16string text;
  int32_t userValue = 0;
  std::shared_ptr<UtteranceControl> control;
};

// Thread body: walks request.text and hands its audio to context.sink,
// honouring pause and stop. Ends with EndUtterance.
void SpeechWorker(WorkerContext& context, UtteranceRequest request);

// SpeechWorker with the lexicon supplied, so tests can bring their own.
// Runs on the calling thread.
void SpeakUtterance(WorkerContext& context, const UtteranceRequest& request,
                    const PinyinLexicon& lexicon);

// How rate, pitch and volume shape one utterance; fixed at its start.
struct UtteranceSettings {
  float speedFactor = 1.0f;
  bool speedChange = false;
  float pitchFactor = 1.0f;
  bool pitchChange = false;
  bool streamWanted = false;
  float gain = 1.0f;
};

// Values outside 0..100 are clamped first.
UtteranceSettings ComputeUtteranceSettings(int32_t rate, int32_t pitch,
                                           int32_t volume);

// One second of samples at sampleRate; 8000 for a rate of 0 or below, which a
// voice file may carry unchecked.
int32_t ChunkSamplesFor(int32_t sampleRate);

// Whether Sonic can run a stream at sampleRate: it divides by zero for rates
// below a few hundred Hz and hangs on absurd ones, and voice files carry
// their rate unchecked.
bool SonicAcceptsSampleRate(int32_t sampleRate);

// The voice's unit for a syllable, or -1. With toneFallback, the other tones
// are tried in the order 1, 2, 3, 4, 0 when the own tone is not recorded.
int32_t FindSyllableUnit(const Voice& voice, const Syllable& syllable,
                         bool toneFallback);

// Scales samples by gain in single precision, truncating toward zero and
// clamping to 16 bits. A gain of exactly 1.0 leaves them untouched.
void ApplyGain(int16_t* samples, std::size_t count, float gain);

}  // namespace vesk
