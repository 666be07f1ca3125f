#include "worker/speech_worker.h"

#include <sonic.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "frontend/phonetic_tables.h"
#include "worker/text_walk.h"

namespace vesk {

namespace {

constexpr int32_t kDefaultChunkSamples = 8000;
// Sonic's period search needs at least one sample per period of its lowest
// pitch; real voices lie far inside this range.
constexpr int32_t kMinSonicSampleRate = 1000;
constexpr int32_t kMaxSonicSampleRate = 768000;
constexpr int32_t kFallbackTones[] = {1, 2, 3, 4, 0};

// The units found for the syllables of one utterance. Text repeats its
// syllables, and each search costs several table lookups; the voice is fixed
// for the utterance, so an answer once found stays right.
class SyllableUnitCache {
 public:
  int32_t Find(const Voice& voice, const Syllable& syllable,
               bool toneFallback) {
    const std::string& pinyin = syllable.pinyin;
    if (pinyin.empty() || pinyin.size() > kMaxKeyLetters ||
        uint32_t(syllable.tone) > kMaxKeyTone) {
      return FindSyllableUnit(voice, syllable, toneFallback);
    }
    // Letters in the low seven bytes; count, tone and fallback on top, so
    // that no key is 0 and every key names one search.
    uint64_t key = uint64_t(pinyin.size()) << 61 |
                   uint64_t(syllable.tone) << 57 | uint64_t(toneFallback) << 56;
    for (std::size_t i = 0; i < pinyin.size(); ++i) {
      key |= uint64_t(static_cast<unsigned char>(pinyin[i])) << (8 * i);
    }
    if (entries_.empty()) entries_.resize(std::size_t(1) << kIndexBits);
    Entry& entry = entries_[(key * 0x9E3779B97F4A7C15ull) >> (64 - kIndexBits)];
    if (entry.key != key) {
      entry = {key, FindSyllableUnit(voice, syllable, toneFallback)};
    }
    return entry.unit;
  }

 private:
  static constexpr std::size_t kMaxKeyLetters = 7;
  static constexpr uint32_t kMaxKeyTone = 7;
  static constexpr int kIndexBits = 10;
  struct Entry {
    uint64_t key = 0;  // 0: empty
    int32_t unit = -1;
  };
  // On the heap, made at the first syllable: a worker's stack pages are
  // handed back when its thread ends and would fault in again next time.
  std::vector<Entry> entries_;
};

// Everything one utterance needs while it is spoken; lives on the worker's
// stack.
class Utterance {
 public:
  Utterance(WorkerContext& context, const UtteranceControl& control,
            const Voice& voice, int32_t userValue,
            const UtteranceSettings& settings)
      : context_(context),
        control_(control),
        voice_(voice),
        userValue_(userValue),
        settings_(settings),
        chunkSamples_(ChunkSamplesFor(voice.sampleRate)),
        // Even and within the int32 byte count of the callback.
        chunkBytes_(std::min<std::size_t>(std::size_t(chunkSamples_) * 2,
                                          std::size_t(INT32_MAX) - 1)) {}

  ~Utterance() { CloseStream(); }

  Utterance(const Utterance&) = delete;
  Utterance& operator=(const Utterance&) = delete;

  void OpenStream() {
    if (!settings_.streamWanted || !SonicAcceptsSampleRate(voice_.sampleRate))
      return;
    stream_ = sonicCreateStream(voice_.sampleRate, 1);
    if (stream_ == nullptr) return;
    if (settings_.speedChange) sonicSetSpeed(stream_, settings_.speedFactor);
    if (settings_.pitchChange) sonicSetPitch(stream_, settings_.pitchFactor);
  }

  // Flushes what Sonic still holds to the host (unless stopped) and closes.
  void FinishStream() {
    if (stream_ == nullptr) return;
    sonicFlushStream(stream_);
    DrainSonicOutput();
    CloseStream();
  }

  bool Running() const { return StillRunning(context_, control_); }

  void Walk(std::u16string_view text, const PinyinLexicon& lexicon);

  void Complete() {
    context_.sink(voice_.name.c_str(), nullptr, 0, userValue_);
  }

 private:
  void Play(const SpokenItem& item);
  void PlayUnit(int32_t unit);
  void PlayDirect(const uint8_t* bytes, std::size_t even);
  void PlayThroughStream(const uint8_t* bytes, std::size_t even);
  void DrainSonicOutput();

  void Deliver(const int16_t* samples, std::size_t bytes) {
    context_.sink(voice_.name.c_str(), samples, static_cast<int32_t>(bytes),
                  userValue_);
  }

  int16_t* Scratch(std::size_t samples) {
    if (scratch_.size() < samples) scratch_.resize(samples);
    return scratch_.data();
  }

  void CloseStream() {
    if (stream_ != nullptr) sonicDestroyStream(stream_);
    stream_ = nullptr;
  }

  WorkerContext& context_;
  const UtteranceControl& control_;
  const Voice& voice_;
  const int32_t userValue_;
  const UtteranceSettings settings_;
  const int32_t chunkSamples_;
  const std::size_t chunkBytes_;
  sonicStream stream_ = nullptr;
  std::vector<int16_t> scratch_;
  SyllableUnitCache unitCache_;
};

void Utterance::Walk(std::u16string_view text, const PinyinLexicon& lexicon) {
  // A run at a time, so that a stop never waits for the rest of the text to
  // be read.
  std::vector<SpokenItem> items;
  std::size_t i = 0;
  while (i < text.size() && Running()) {
    items.clear();
    i = WalkRun(text, i, lexicon, items);
    for (const SpokenItem& item : items) {
      if (!Running()) return;
      Play(item);
    }
  }
}

void Utterance::Play(const SpokenItem& item) {
  if (item.kind == SpokenItem::Kind::kLetter ||
      item.kind == SpokenItem::Kind::kPause) {
    const int32_t unit = item.kind == SpokenItem::Kind::kLetter
                             ? LetterUnit(item.letter)
                             : kPunctuationUnit;
    if (unit >= 0 && voice_.HasUnit(unit)) PlayUnit(unit);
    return;
  }
  // The cache answers only with units the voice has.
  const int32_t unit = unitCache_.Find(
      voice_, item.syllable, item.kind == SpokenItem::Kind::kCharacterSyllable);
  if (unit >= 0) PlayUnit(unit);
}

void Utterance::PlayUnit(int32_t unit) {
  uint32_t byteLength = 0;
  const uint8_t* bytes = voice_.GetUnit(unit, byteLength);
  if (bytes == nullptr || byteLength == 0 || !Running()) return;
  const std::size_t even = byteLength & ~uint32_t{1};
  if (even == 0) return;
  if (stream_ != nullptr) {
    PlayThroughStream(bytes, even);
  } else {
    PlayDirect(bytes, even);
  }
}

void Utterance::PlayDirect(const uint8_t* bytes, std::size_t even) {
  for (std::size_t offset = 0; offset < even;) {
    if (!Running()) return;
    const std::size_t n =
        std::min(even - offset, chunkBytes_) & ~std::size_t{1};
    if (n == 0) return;
    if (!WaitWhilePaused(context_, control_)) return;
    if (settings_.gain != 1.0f) {
      int16_t* samples = Scratch(n / 2);
      std::memcpy(samples, bytes + offset, n);
      ApplyGain(samples, n / 2, settings_.gain);
      Deliver(samples, n);
    } else {
      // Zero copy: the host reads the voice's own bytes.
      Deliver(reinterpret_cast<const int16_t*>(bytes + offset), n);
    }
    offset += n;
  }
}

void Utterance::PlayThroughStream(const uint8_t* bytes, std::size_t even) {
  if (!WaitWhilePaused(context_, control_)) return;
  const std::size_t count = even / 2;
  // Sonic reads shorts; units at odd offsets are realigned first. It never
  // writes through the pointer.
  short* samples = reinterpret_cast<short*>(const_cast<uint8_t*>(bytes));
  if (reinterpret_cast<uintptr_t>(bytes) % alignof(short) != 0) {
    samples = Scratch(count);
    std::memcpy(samples, bytes, even);
  }
  sonicWriteShortToStream(stream_, samples, static_cast<int>(count));
  DrainSonicOutput();
}

void Utterance::DrainSonicOutput() {
  if (stream_ == nullptr) return;
  while (Running()) {
    const int available = sonicSamplesAvailable(stream_);
    if (available <= 0) return;
    const int m = std::min(available, chunkSamples_);
    int16_t* samples = Scratch(std::size_t(m));
    const int got = sonicReadShortFromStream(stream_, samples, m);
    if (got <= 0) return;
    if (!WaitWhilePaused(context_, control_)) return;
    ApplyGain(samples, std::size_t(got), settings_.gain);
    Deliver(samples, std::size_t(got) * 2);
  }
}

}  // namespace

UtteranceSettings ComputeUtteranceSettings(int32_t rate, int32_t pitch,
                                           int32_t volume) {
  const int32_t r = ClampSetting(rate);
  const int32_t p = ClampSetting(pitch);
  const int32_t v = ClampSetting(volume);
  UtteranceSettings settings;
  // The same shape as the pitch: half speed at 0, normal at 50, double at
  // 100, so turning the rate down never makes speech faster.
  settings.speedFactor =
      r <= 50 ? 0.5f + float(r) / 100.0f : 1.0f + float(r - 50) / 50.0f;
  settings.speedChange = r < 48 || r > 52;
  settings.pitchFactor =
      p <= 50 ? float(p) / 50.0f * 0.5f + 0.5f : float(p - 50) / 50.0f + 1.0f;
  settings.pitchChange = p != 50;
  settings.streamWanted = settings.speedChange || settings.pitchChange;
  settings.gain = v == 0 ? 0.0f : std::min(2.0f, float(v) / 50.0f);
  return settings;
}

int32_t ChunkSamplesFor(int32_t sampleRate) {
  return sampleRate > 0 ? sampleRate : kDefaultChunkSamples;
}

bool SonicAcceptsSampleRate(int32_t sampleRate) {
  return sampleRate >= kMinSonicSampleRate && sampleRate <= kMaxSonicSampleRate;
}

int32_t FindSyllableUnit(const Voice& voice, const Syllable& syllable,
                         bool toneFallback) {
  int32_t unit = SyllableUnitIndex(syllable.pinyin, syllable.tone);
  if (unit >= 0 && voice.HasUnit(unit)) return unit;
  if (!toneFallback) return -1;
  for (int32_t tone : kFallbackTones) {
    if (tone == syllable.tone) continue;
    unit = SyllableUnitIndex(syllable.pinyin, tone);
    if (unit >= 0 && voice.HasUnit(unit)) return unit;
  }
  return -1;
}

void ApplyGain(int16_t* samples, std::size_t count, float gain) {
  if (gain == 1.0f) return;
  for (std::size_t k = 0; k < count; ++k) {
    // Clamping before the truncation gives the same result as after it and
    // keeps the conversion defined.
    const float scaled =
        std::clamp(float(samples[k]) * gain, -32768.0f, 32767.0f);
    samples[k] = static_cast<int16_t>(static_cast<int32_t>(scaled));
  }
}

void SpeakUtterance(WorkerContext& context, const UtteranceRequest& request,
                    const PinyinLexicon& lexicon) {
  // A request without control still gets a stop flag of its own.
  const UtteranceControl unshared;
  const UtteranceControl& control =
      request.control ? *request.control : unshared;
  if (!StillRunning(context, control)) return;

  // Held for the whole utterance: the voice outlives a registry cleared
  // meanwhile from inside the play callback.
  const std::shared_ptr<const Voice> voice =
      context.voices.Resolve(request.voiceName);
  if (voice == nullptr) {
    EndUtterance(context, control);
    return;
  }

  const UtteranceSettings settings = ComputeUtteranceSettings(
      context.rate.load(), context.pitch.load(), context.volume.load());
  {
    Utterance utterance(context, control, *voice, request.userValue, settings);
    utterance.OpenStream();
    utterance.Walk(request.text, lexicon);
    utterance.FinishStream();
    if (utterance.Running()) utterance.Complete();
  }
  EndUtterance(context, control);
}

void SpeechWorker(WorkerContext& context, UtteranceRequest request) {
  SpeakUtterance(context, request, PinyinLexicon::instance());
}

}  // namespace vesk
