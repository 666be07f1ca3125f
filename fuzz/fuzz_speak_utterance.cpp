// Whole utterances: arbitrary UTF-16 text, rate, pitch and volume through the
// speech worker with a marker voice and a small dictionary, checking every
// play-callback call.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "api/engine_state.h"
#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "fuzz_support.h"
#include "lexicon/dictionary_file.h"
#include "lexicon/pinyin_lexicon.h"
#include "support/test_files.h"
#include "voice/voice_file.h"
#include "worker/speech_worker.h"

namespace {

using namespace std::literals;
using vesk::fuzz::Require;

constexpr std::u16string_view kAlphabet =
    u"中国人我们你好很是的了天气说话语音不一二三十百千万亿两水果老虎绿女嗯呣"
    u"丁龥abcXYZ0123456789 \n!,.?。！，？；\xD800\xDC00\uFFFD\0"sv;

struct Calls {
  std::u16string expectedVoice;
  int32_t chunkBytes = 0;
  bool checkMarkers = false;
  int32_t userValue = 0;
  int samples = 0;
  int completions = 0;
};
Calls calls;

int32_t Play(const char16_t* voiceName, const int16_t* samples,
             int32_t byteCount, int32_t userValue) {
  Require(calls.completions == 0, "nothing after the completion call");
  Require(voiceName != nullptr && voiceName == calls.expectedVoice,
          "the resolved voice's name");
  Require(userValue == calls.userValue, "userValue passed back");
  if (samples == nullptr) {
    Require(byteCount == 0, "completion call has no bytes");
    ++calls.completions;
    return 0;
  }
  Require(byteCount >= 2 && byteCount % 2 == 0 && byteCount <= calls.chunkBytes,
          "chunk size even and at most one second");
  if (calls.checkMarkers) {
    // Direct path: a chunk is a piece of one unit, and every marker unit
    // holds one value throughout (scaled alike by the gain).
    for (int32_t k = 1; k < byteCount / 2; ++k) {
      Require(samples[k] == samples[0], "chunk lies inside one unit");
    }
  }
  ++calls.samples;
  return 0;
}

std::vector<int32_t> UnitsToRecord(const vesk::PinyinLexicon& lexicon) {
  std::set<int32_t> units{vesk::kPunctuationUnit};
  for (char16_t c : kAlphabet) {
    if (const auto* readings = lexicon.findCharReadings(c)) {
      for (const vesk::Syllable& s : *readings) {
        // The own tone only for some, so tone fallback is exercised too.
        const int32_t index = vesk::SyllableUnitIndex(s.pinyin, s.tone);
        if (index >= 0 && index % 3 != 0) units.insert(index);
        const int32_t other =
            vesk::SyllableUnitIndex(s.pinyin, 1 + (s.tone + 1) % 4);
        if (other >= 0) units.insert(other);
      }
    }
  }
  for (char16_t d = u'0'; d <= u'9'; ++d) {
    if (const int32_t unit = vesk::DigitUnit(d); unit >= 0) units.insert(unit);
  }
  for (char l = 'a'; l <= 'z'; l += 2) {
    if (const int32_t unit = vesk::LetterUnit(l); unit >= 0) units.insert(unit);
  }
  return {units.begin(), units.end()};
}

vesk::Voice MakeVoice(const std::u16string& name, int32_t sampleRate,
                      const std::vector<int32_t>& units,
                      std::size_t samplesPerUnit) {
  vesk::Voice voice;
  voice.name = name;
  voice.sampleRate = sampleRate;
  const std::vector<uint8_t> bytes =
      vesk::test::BuildMarkerVoice(sampleRate, units, samplesPerUnit);
  voice.data.assign(bytes.begin(), bytes.end());
  // The table as the loader reads it.
  for (int32_t index : units) {
    const uint8_t* entry =
        voice.data.data() + vesk::voicefile::EntryPosition(index);
    voice.units[index] = {
        vesk::voicefile::ReadU32(entry),
        vesk::voicefile::ReadU32(entry + vesk::voicefile::kEntryLengthOffset)};
  }
  return voice;
}

struct World {
  vesk::PinyinLexicon lexicon;
  vesk::EngineState engine;
  World() {
    vesk::fuzz::MemoryFile chars, phrases;
    chars.Write(vesk::fuzz::SmallCharDictionary());
    phrases.Write(vesk::fuzz::SmallPhraseDictionary());
    Require(lexicon.loadCharDictionary(chars.path()), "chars");
    Require(lexicon.loadPhraseDictionary(phrases.path()), "phrases");
    const auto units = UnitsToRecord(lexicon);
    // A unit of 20000 samples is longer than one second at 16 kHz.
    engine.workerContext.voices.Add(MakeVoice(u"a16k", 16000, units, 200));
    engine.workerContext.voices.Add(
        MakeVoice(u"b8k-long", 8000, {24, 4992, 10113}, 20000));
    engine.workerContext.voices.Add(MakeVoice(u"c-rate0", 0, units, 37));
    engine.workerContext.voices.Add(MakeVoice(u"d-rate1", 1, {24, 10113}, 3));
    engine.playCallback.store(&Play);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static World* world = new World;  // outlives every run
  if (size < 4) return 0;
  vesk::EngineState& engine = world->engine;
  engine.workerContext.rate.store(data[0] % 101);
  engine.workerContext.pitch.store(data[1] % 101);
  engine.workerContext.volume.store(data[2] % 101);
  static const std::u16string names[] = {u"a16k",    u"b8k-long", u"c-rate0",
                                         u"d-rate1", u"",         u"missing"};
  vesk::UtteranceRequest request;
  request.voiceName = names[(data[3] >> 1) % 6];
  request.userValue = int32_t(size);
  if (data[3] & 1) {
    for (std::size_t i = 4; i < size; ++i)
      request.text += kAlphabet[data[i] % kAlphabet.size()];
  } else {
    request.text = vesk::fuzz::BytesToUtf16(data + 4, size - 4);
  }
  if (request.text.empty()) return 0;

  const auto voice = engine.workerContext.voices.Resolve(request.voiceName);
  const auto settings = vesk::ComputeUtteranceSettings(
      engine.workerContext.rate.load(), engine.workerContext.pitch.load(),
      engine.workerContext.volume.load());
  calls = Calls{};
  calls.expectedVoice = voice->name;
  calls.chunkBytes = 2 * vesk::ChunkSamplesFor(voice->sampleRate);
  calls.checkMarkers = !settings.streamWanted ||
                       !vesk::SonicAcceptsSampleRate(voice->sampleRate);
  calls.userValue = request.userValue;

  engine.workerContext.running.store(true);
  engine.workerContext.paused.store(false);
  vesk::SpeakUtterance(engine.workerContext, request, world->lexicon);
  Require(calls.completions == 1, "one completion call at the natural end");
  Require(!engine.workerContext.running.load(), "running cleared at the end");
  return 0;
}
