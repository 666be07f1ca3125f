#include "english_words.h"

#include <espeak-ng/speak_lib.h>
#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "host_text.h"

namespace vesk::host {

namespace {

bool IsLatinLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool IsSmall(char16_t c) { return c >= u'a' && c <= u'z'; }
bool IsJoiner(char16_t c) { return c == u'-' || c == u'\''; }
bool IsDigitOrUnderscore(char16_t c) {
  return (c >= u'0' && c <= u'9') || c == u'_';
}

// The end of the word that starts at begin: letters, and joiners between
// letters.
std::size_t WordEnd(std::u16string_view text, std::size_t begin) {
  std::size_t end = begin;
  while (end < text.size()) {
    if (IsLatinLetter(text[end])) {
      ++end;
    } else if (IsJoiner(text[end]) && end + 1 < text.size() &&
               IsLatinLetter(text[end + 1])) {
      ++end;
    } else {
      break;
    }
  }
  return end;
}

bool IsEnglishWord(std::u16string_view text, std::size_t begin,
                   std::size_t end) {
  const bool joinedToDigits =
      (begin > 0 &&
       (IsDigitOrUnderscore(text[begin - 1]) || IsJoiner(text[begin - 1]))) ||
      (end < text.size() &&
       (IsDigitOrUnderscore(text[end]) || IsJoiner(text[end])));
  if (joinedToDigits) return false;
  const auto word = text.substr(begin, end - begin);
  const auto letters = std::count_if(word.begin(), word.end(), IsLatinLetter);
  return letters >= 2 && std::any_of(word.begin(), word.end(), IsSmall);
}

int CollectSamples(short* samples, int count, espeak_EVENT* events) {
  if (samples != nullptr && count > 0 && events != nullptr &&
      events->user_data != nullptr) {
    auto* out = static_cast<std::vector<int16_t>*>(events->user_data);
    out->insert(out->end(), samples, samples + count);
  }
  return 0;
}

// espeak-ng is one state per process.
std::mutex espeakMutex;
int espeakRate = 0;

int StartEspeak() {
  std::lock_guard lock(espeakMutex);
  if (espeakRate > 0) return espeakRate;
  const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr,
                                     espeakINITIALIZE_DONT_EXIT);
  if (rate <= 0 || espeak_SetVoiceByName("en") != EE_OK) return 0;
  espeak_SetSynthCallback(CollectSamples);
  espeakRate = rate;
  return rate;
}

// The engine's speed 0..100 (50: its default) as espeak-ng's words per
// minute: each 50 steps halve or double the default 175.
int WordsPerMinute(int32_t rate) {
  const double wpm =
      175.0 * std::pow(2.0, (std::clamp(rate, 0, 100) - 50) / 50.0);
  return std::clamp(int(std::lround(wpm)), int(espeakRATE_MINIMUM),
                    int(espeakRATE_MAXIMUM));
}

std::vector<int16_t> Resample(const std::vector<int16_t>& samples, int from,
                              int to) {
  if (from == to || samples.empty()) return samples;
  std::vector<float> in(samples.size());
  src_short_to_float_array(samples.data(), in.data(), int(samples.size()));
  const double ratio = double(to) / from;
  std::vector<float> out(std::size_t(std::ceil(samples.size() * ratio)) + 16);
  SRC_DATA data{};
  data.data_in = in.data();
  data.input_frames = long(in.size());
  data.data_out = out.data();
  data.output_frames = long(out.size());
  data.src_ratio = ratio;
  if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1) != 0) return {};
  std::vector<int16_t> result(std::size_t(data.output_frames_gen));
  src_float_to_short_array(out.data(), result.data(), int(result.size()));
  return result;
}

}  // namespace

std::vector<TextSpan> SplitEnglishWords(std::u16string_view text) {
  std::vector<TextSpan> spans;
  const auto add = [&](std::u16string_view piece, bool english) {
    if (piece.empty()) return;
    if (!english && !spans.empty() && !spans.back().english) {
      spans.back().text += piece;
    } else {
      spans.push_back({std::u16string(piece), english});
    }
  };
  std::size_t done = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!IsLatinLetter(text[i])) {
      ++i;
      continue;
    }
    const std::size_t end = WordEnd(text, i);
    if (IsEnglishWord(text, i, end)) {
      add(text.substr(done, i - done), false);
      add(text.substr(i, end - i), true);
      done = end;
    }
    i = end;
  }
  add(text.substr(done), false);
  return spans;
}

double VoicedLoudness(const int16_t* samples, std::size_t count) {
  // Voiced: within 30 dB of the loudest sample. Relative, so that scaling
  // the samples scales the level by as much and a gain computed from it
  // lands where it was aimed.
  int peak = 0;
  for (std::size_t i = 0; i < count; ++i) {
    peak = std::max(peak, std::abs(int(samples[i])));
  }
  const double floor = std::max(1.0, peak / 32.0);
  double sum = 0;
  std::size_t voiced = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (std::abs(int(samples[i])) < floor) continue;
    sum += double(samples[i]) * samples[i];
    ++voiced;
  }
  return voiced == 0 ? 0 : std::sqrt(sum / double(voiced));
}

EnglishVoice::EnglishVoice() : sourceRate_(StartEspeak()) {}

std::vector<int16_t> EnglishVoice::Speak(std::u16string_view word,
                                         const EnglishStyle& style) const {
  if (!ok()) return {};
  std::vector<int16_t> samples;
  {
    std::lock_guard lock(espeakMutex);
    espeak_SetParameter(espeakRATE, WordsPerMinute(style.rate), 0);
    espeak_SetParameter(espeakPITCH, std::clamp(style.pitch, 0, 100), 0);
    const std::string text = ToUtf8(word);
    if (espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                     espeakCHARS_UTF8, nullptr, &samples) != EE_OK) {
      return {};
    }
  }
  samples = Resample(samples, sourceRate_, style.sampleRate);
  const double level = VoicedLoudness(samples.data(), samples.size());
  const double gain = style.loudness > 0 && level > 0 ? style.loudness / level
                                                      : style.volumeGain;
  if (gain != 1) {
    for (auto& sample : samples) {
      sample = int16_t(std::clamp(std::lround(sample * gain), -32768L, 32767L));
    }
  }
  return samples;
}

}  // namespace vesk::host
