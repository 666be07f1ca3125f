#include "voice_tool.h"

#include <samplerate.h>
#include <sndfile.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <sstream>
#include <unordered_map>

#include "frontend/phonetic_tables.h"
#include "frontend/syllable.h"
#include "lexicon/dictionary_file.h"
#include "platform/platform.h"
#include "voice/voice.h"
#include "voice/voice_file.h"

namespace vesk::voicetool {

namespace {

using voicefile::kBuilderMark;

constexpr const char* kStandardSyllableText =
    "a ai an ang ao "
    "ba bai ban bang bao bei ben beng bi bian biao bie bin bing bo bu "
    "pa pai pan pang pao pei pen peng pi pian piao pie pin ping po pou pu "
    "ma mai man mang mao me mei men meng mi mian miao mie min ming miu mo mou "
    "mu "
    "fa fan fang fei fen feng fo fou fu "
    "da dai dan dang dao de dei den deng di dia dian diao die ding diu dong "
    "dou du duan dui dun duo "
    "ta tai tan tang tao te tei teng ti tian tiao tie ting tong tou tu tuan "
    "tui tun tuo "
    "na nai nan nang nao ne nei nen neng ni nian niang niao nie nin ning niu "
    "nong nou nu nuan nun nuo nv nve "
    "la lai lan lang lao le lei leng li lia lian liang liao lie lin ling liu "
    "long lou lu luan lun luo lv lve "
    "ga gai gan gang gao ge gei gen geng gong gou gu gua guai guan guang gui "
    "gun guo "
    "ka kai kan kang kao ke kei ken keng kong kou ku kua kuai kuan kuang kui "
    "kun kuo "
    "ha hai han hang hao he hei hen heng hong hou hu hua huai huan huang hui "
    "hun huo "
    "ji jia jian jiang jiao jie jin jing jiong jiu ju juan jue jun "
    "qi qia qian qiang qiao qie qin qing qiong qiu qu quan que qun "
    "xi xia xian xiang xiao xie xin xing xiong xiu xu xuan xue xun "
    "zhi zha zhai zhan zhang zhao zhe zhei zhen zheng zhong zhou zhu zhua "
    "zhuai zhuan zhuang zhui zhun zhuo "
    "chi cha chai chan chang chao che chen cheng chong chou chu chua chuai "
    "chuan chuang chui chun chuo "
    "shi sha shai shan shang shao she shei shen sheng shou shu shua shuai "
    "shuan shuang shui shun shuo "
    "ri ran rang rao re ren reng rong rou ru rua ruan rui run ruo "
    "zi za zai zan zang zao ze zei zen zeng zong zou zu zuan zui zun zuo "
    "ci ca cai can cang cao ce cen ceng cong cou cu cuan cui cun cuo "
    "si sa sai san sang sao se sen seng song sou su suan sui sun suo "
    "ya yan yang yao ye yi yin ying yo yong you yu yuan yue yun "
    "wa wai wan wang wei wen weng wo wu "
    "e ei en eng er o ou "
    // Rare, but the dictionaries use them.
    "fiao len sei we yie";

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return out;
}

bool AllLetters(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= 'a' && c <= 'z';
  });
}

std::optional<int32_t> ParseDecimal(std::string_view text, int32_t limit) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > limit) return std::nullopt;
  return value;
}

const std::unordered_map<int32_t, std::string>& SyllableBySlot() {
  static const auto* table = [] {
    auto* map = new std::unordered_map<int32_t, std::string>();
    for (const std::string& syllable : StandardSyllables()) {
      map->emplace(SyllableUnitIndex(syllable, 0), syllable);
    }
    return map;
  }();
  return *table;
}

std::string Utf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

}  // namespace

// ---- Unit names ----------------------------------------------------------

const std::vector<std::string>& StandardSyllables() {
  static const auto* list = [] {
    auto* out = new std::vector<std::string>();
    std::istringstream words(kStandardSyllableText);
    std::string word;
    while (words >> word) out->push_back(word);
    return out;
  }();
  return *list;
}

std::string CanonicalSyllable(int32_t index) {
  if (index < 0) return {};
  const auto& table = SyllableBySlot();
  const auto found = table.find(index - index % kSlotSize);
  return found == table.end() ? std::string() : found->second;
}

std::string NfcName(std::string_view name) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return std::string(name);
  const icu::UnicodeString composed =
      nfc->normalize(icu::UnicodeString::fromUTF8(
                         icu::StringPiece(name.data(), int32_t(name.size()))),
                     status);
  if (U_FAILURE(status)) return std::string(name);
  std::string out;
  composed.toUTF8String(out);
  return out;
}

std::optional<int32_t> UnitIndexForName(std::string_view stem) {
  // Tone marks may come decomposed (o + U+0304, as macOS stores names).
  std::string name = LowerAscii(NfcName(stem));
  if (name == "pause") return kPauseUnit;
  if (name.starts_with("letter-") && name.size() == 8 && name[7] >= 'a' &&
      name[7] <= 'z') {
    return LetterUnit(name[7]);
  }
  if (name.starts_with("unit-")) {
    return ParseDecimal(std::string_view(name).substr(5), kLastUnit);
  }
  // ü, in either case and also decomposed (u + U+0308, as some file systems
  // store names), is written v. One pass into a new string: no form can
  // begin inside another, so the order of the matches does not matter.
  std::string written;
  written.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const std::string_view rest = std::string_view(name).substr(at);
    std::size_t matched = 0;
    for (std::string_view umlaut :
         {"\xC3\xBC", "\xC3\x9C", "u\xCC\x88", "U\xCC\x88"}) {
      if (rest.starts_with(umlaut)) matched = umlaut.size();
    }
    if (matched != 0) {
      written += 'v';
      at += matched;
    } else {
      written += name[at++];
    }
  }
  name = std::move(written);
  Syllable syllable;
  if (!name.empty() && name.back() >= '0' && name.back() <= '5') {
    syllable.pinyin = name.substr(0, name.size() - 1);
    syllable.tone = name.back() == '5' ? 0 : name.back() - '0';
  } else {
    syllable = parseReading(name);
  }
  if (!AllLetters(syllable.pinyin)) return std::nullopt;
  const int32_t index = SyllableUnitIndex(syllable.pinyin, syllable.tone);
  if (index < 0) return std::nullopt;
  return index;
}

std::string NameOfUnit(int32_t index) {
  if (index == kPauseUnit) return "pause";
  if (index >= 0 && index < 26 * kLetterBlockSize &&
      index % kLetterBlockSize == 8) {
    return std::string("letter-") + char('a' + index / kLetterBlockSize);
  }
  const int32_t tone = index % kSlotSize;
  if (index >= 0 && tone <= 4) {
    const std::string syllable = CanonicalSyllable(index);
    if (!syllable.empty()) return syllable + char('0' + tone);
  }
  return "unit-" + std::to_string(index);
}

std::string EspeakSpelling(std::string_view pinyin, int32_t tone) {
  std::string spelling = LowerAscii(pinyin);
  if (!spelling.empty() &&
      std::string_view("jqxy").find(spelling[0]) != std::string_view::npos) {
    std::replace(spelling.begin(), spelling.end(), 'v', 'u');
  }
  return spelling + char('0' + (tone == 0 ? 5 : tone));
}

std::optional<int32_t> ParseUnitArgument(std::string_view text) {
  if (auto number = ParseDecimal(text, std::numeric_limits<int32_t>::max())) {
    return number;
  }
  return UnitIndexForName(text);
}

// ---- Dictionaries --------------------------------------------------------

bool CollectDictionaryNeeds(const std::vector<std::filesystem::path>& files,
                            DictionaryNeeds& needs, std::string& error) {
  for (const auto& file : files) {
    const auto content =
        readDictionaryFile(platform::Utf8ToUtf16(file.string()));
    if (!content) {
      error = "cannot read dictionary " + file.string();
      return false;
    }
    std::string_view rest = *content;
    while (!rest.empty()) {
      const auto end = rest.find('\n');
      std::string_view line = trimBlanks(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view()
                                           : rest.substr(end + 1);
      if (line.empty() || line[0] == '#') continue;
      const auto colon = line.find(':');
      if (colon == std::string_view::npos) continue;
      std::string_view readings = line.substr(colon + 1);
      if (line.starts_with("U+") || line.starts_with("u+")) {
        readings = readings.substr(0, readings.find('#'));
      }
      // pinyin.txt separates readings by commas, phrases.txt by blanks.
      for (std::string_view group : splitReadings(readings, ',')) {
        for (std::string_view piece : splitReadings(group, ' ')) {
          if (piece.empty()) continue;
          const Syllable syllable = parseReading(piece);
          if (syllable.pinyin.empty()) continue;
          ++needs.readings;
          const int32_t index =
              SyllableUnitIndex(syllable.pinyin, syllable.tone);
          if (index < 0 || syllable.tone < 0 || syllable.tone > 4) {
            ++needs.unplayable[syllable.pinyin + std::to_string(syllable.tone)];
            continue;
          }
          needs.units.insert(index);
          std::string base = CanonicalSyllable(index);
          needs.syllables.insert(base.empty() ? LowerAscii(syllable.pinyin)
                                              : base);
        }
      }
    }
  }
  return true;
}

// ---- Audio ---------------------------------------------------------------

std::optional<Audio> ReadAudio(const std::filesystem::path& path,
                               std::string& error) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    error = path.string() + ": " + sf_strerror(nullptr);
    return std::nullopt;
  }
  // A unit is a syllable; ten minutes of audio is surely a wrong file.
  if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0 ||
      info.frames > sf_count_t(info.samplerate) * 600) {
    error = path.string() + ": unsupported length, rate or channel count";
    sf_close(file);
    return std::nullopt;
  }
  std::vector<float> interleaved(std::size_t(info.frames) * info.channels);
  const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
  sf_close(file);
  if (got < 0) {
    error = path.string() + ": read error";
    return std::nullopt;
  }
  Audio audio;
  audio.sampleRate = info.samplerate;
  audio.samples.resize(std::size_t(got));
  for (std::size_t frame = 0; frame < std::size_t(got); ++frame) {
    float sum = 0;
    for (int c = 0; c < info.channels; ++c) {
      sum += interleaved[frame * info.channels + c];
    }
    audio.samples[frame] = sum / float(info.channels);
  }
  return audio;
}

std::optional<std::vector<float>> Resample(const std::vector<float>& samples,
                                           int fromRate, int targetRate,
                                           std::string& error) {
  if (fromRate == targetRate || samples.empty()) return samples;
  const double ratio = double(targetRate) / double(fromRate);
  std::vector<float> out(std::size_t(std::ceil(samples.size() * ratio)) + 16);
  SRC_DATA data{};
  data.data_in = samples.data();
  data.input_frames = long(samples.size());
  data.data_out = out.data();
  data.output_frames = long(out.size());
  data.src_ratio = ratio;
  const int result = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1);
  if (result != 0) {
    error = src_strerror(result);
    return std::nullopt;
  }
  out.resize(std::size_t(data.output_frames_gen));
  return out;
}

void HighPass(std::vector<float>& samples, int sampleRate, double cutoffHz) {
  if (cutoffHz <= 0 || cutoffHz >= sampleRate / 2.0) return;
  const double w0 = 2 * std::numbers::pi * cutoffHz / sampleRate;
  const double alpha = std::sin(w0) / std::numbers::sqrt2;  // Q = 1/sqrt(2)
  const double cosw = std::cos(w0);
  const double a0 = 1 + alpha;
  const double b0 = (1 + cosw) / 2 / a0;
  const double b1 = -(1 + cosw) / a0;
  const double b2 = b0;
  const double a1 = -2 * cosw / a0;
  const double a2 = (1 - alpha) / a0;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (float& sample : samples) {
    const double x0 = sample;
    const double y0 = b0 * x0 + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x0;
    y2 = y1;
    y1 = y0;
    sample = float(y0);
  }
}

bool TrimSilence(std::vector<float>& samples, int sampleRate,
                 std::size_t marginSamples) {
  const std::size_t frame = std::max<std::size_t>(1, sampleRate / 200);
  const std::size_t frames = (samples.size() + frame - 1) / frame;
  std::vector<float> rms(frames, 0.0f);
  float loudest = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    const std::size_t begin = f * frame;
    const std::size_t end = std::min(samples.size(), begin + frame);
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i) sum += samples[i] * samples[i];
    rms[f] = float(std::sqrt(sum / double(end - begin)));
    loudest = std::max(loudest, rms[f]);
  }
  // 40 dB below the loudest frame, and never below -60 dBFS, which is room
  // noise in a recording.
  const float threshold = std::max(loudest * 0.01f, 0.001f);
  std::size_t first = frames;
  std::size_t last = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    if (rms[f] >= threshold) {
      first = std::min(first, f);
      last = f;
    }
  }
  if (first == frames) {
    samples.clear();
    return false;
  }
  const std::size_t begin =
      first * frame > marginSamples ? first * frame - marginSamples : 0;
  const std::size_t end =
      std::min(samples.size(), (last + 1) * frame + marginSamples);
  samples = std::vector<float>(samples.begin() + std::ptrdiff_t(begin),
                               samples.begin() + std::ptrdiff_t(end));
  return true;
}

void ApplyFades(std::vector<float>& samples, std::size_t fadeSamples) {
  const std::size_t n = std::min(fadeSamples, samples.size() / 2);
  for (std::size_t i = 0; i < n; ++i) {
    const float gain = float(
        0.5 - 0.5 * std::cos(std::numbers::pi * (double(i) + 0.5) / double(n)));
    samples[i] *= gain;
    samples[samples.size() - 1 - i] *= gain;
  }
}

std::vector<int16_t> ToPcm16(const std::vector<float>& samples, float gain) {
  std::vector<int16_t> out(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const float scaled = std::round(samples[i] * gain * 32767.0f);
    out[i] = int16_t(std::clamp(scaled, -32768.0f, 32767.0f));
  }
  return out;
}

bool WriteWav(const std::filesystem::path& path,
              const std::vector<int16_t>& samples, int sampleRate,
              std::string& error) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    error = path.string() + ": " + sf_strerror(nullptr);
    return false;
  }
  const sf_count_t written =
      sf_writef_short(file, samples.data(), sf_count_t(samples.size()));
  if (sf_close(file) != 0 || written != sf_count_t(samples.size())) {
    error = path.string() + ": write error";
    return false;
  }
  return true;
}

// ---- Voice library files -------------------------------------------------

std::vector<uint8_t> EncodeVoiceLibrary(const VoiceLibrary& voice,
                                        std::string& error) {
  return voicefile::Encode(voice.sampleRate, voice.units, error);
}

bool WriteFileAtomically(const std::filesystem::path& path,
                         const std::vector<uint8_t>& bytes,
                         std::string& error) {
  const std::filesystem::path temporary =
      path.string() + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              std::streamsize(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      error = "cannot write " + path.string();
      return false;
    }
  }
  std::error_code failure;
  std::filesystem::rename(temporary, path, failure);
  if (failure) {
    std::filesystem::remove(temporary, failure);
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

BuildResult BuildFromDirectory(const std::filesystem::path& directory,
                               const BuildOptions& options,
                               const Progress& progress) {
  BuildResult result;
  result.voice.sampleRate = options.sampleRate;
  std::error_code failure;
  if (!std::filesystem::is_directory(directory, failure)) {
    result.errors.push_back(directory.string() + " is not a directory");
    return result;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry :
       std::filesystem::directory_iterator(directory, failure)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code ignored;
    if (entry.is_regular_file(ignored)) files.push_back(entry.path());
  }
  if (failure) {
    result.errors.push_back("cannot list " + directory.string());
    return result;
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    const auto index = UnitIndexForName(file.stem().string());
    if (!index) {
      result.warnings.push_back(file.filename().string() +
                                ": not a unit name, skipped");
      continue;
    }
    const auto [earlier, fresh] = result.sources.emplace(*index, file);
    if (!fresh) {
      result.errors.push_back(earlier->second.filename().string() + " and " +
                              file.filename().string() +
                              " both name the unit " + NameOfUnit(*index));
    }
  }
  if (!result.errors.empty()) return result;
  if (result.sources.empty() && options.pauseMs <= 0) {
    result.errors.push_back("no unit recordings in " + directory.string());
    return result;
  }

  const std::size_t fadeSamples =
      (options.trim || options.fadeGiven) && options.fadeMs > 0
          ? std::size_t(options.fadeMs * options.sampleRate / 1000.0)
          : 0;
  std::size_t done = 0;
  std::map<int32_t, std::vector<float>> prepared;
  float loudest = 0;
  for (const auto& [index, file] : result.sources) {
    if (progress) progress(done, result.sources.size(), file.filename());
    ++done;
    std::string error;
    auto audio = ReadAudio(file, error);
    if (!audio) {
      result.errors.push_back(error);
      continue;
    }
    auto samples =
        Resample(audio->samples, audio->sampleRate, options.sampleRate, error);
    if (!samples) {
      result.errors.push_back(file.string() + ": " + error);
      continue;
    }
    HighPass(*samples, options.sampleRate, options.highPassHz);
    // The pause is silence on purpose.
    if (options.trim && index != kPauseUnit &&
        !TrimSilence(*samples, options.sampleRate, fadeSamples)) {
      result.warnings.push_back(file.filename().string() +
                                ": only silence, skipped");
      continue;
    }
    ApplyFades(*samples, fadeSamples);
    if (samples->empty()) {
      result.warnings.push_back(file.filename().string() +
                                ": no audio, skipped");
      continue;
    }
    for (float sample : *samples) loudest = std::max(loudest, std::abs(sample));
    prepared[index] = std::move(*samples);
  }
  if (progress) progress(done, result.sources.size(), "");
  if (options.pauseMs > 0 && !prepared.count(kPauseUnit)) {
    prepared[kPauseUnit] = std::vector<float>(
        std::max<std::size_t>(
            1, std::size_t(options.pauseMs * options.sampleRate / 1000.0)),
        0.0f);
  }
  const float gain =
      options.normalizeDb && loudest > 0
          ? float(std::pow(10.0, *options.normalizeDb / 20.0) / loudest)
          : 1.0f;
  for (auto& [index, samples] : prepared) {
    result.voice.units[index] = ToPcm16(samples, gain);
    std::vector<float>().swap(samples);
  }
  if (result.voice.units.empty() && result.errors.empty()) {
    result.errors.push_back("no usable unit recordings in " +
                            directory.string());
  }
  return result;
}

// ---- Inspection ----------------------------------------------------------

std::optional<LoadedVoice> LoadVoiceLibrary(const std::filesystem::path& path,
                                            std::string& error) {
  std::error_code failure;
  if (!std::filesystem::exists(path, failure)) {
    error = path.string() + ": no such file";
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(path, failure)) {
    error = path.string() + ": not a file";
    return std::nullopt;
  }
  Voice voice;
  voice.name = platform::Utf8ToUtf16(path.stem().string());
  std::string engineMessage;
  const bool loaded =
      voice.Load(platform::Utf8ToUtf16(path.string()),
                 [&](int32_t level, const std::u16string& text) {
                   if (level >= 4) engineMessage = Utf8(text);
                 });
  if (!loaded) {
    error = path.string() + ": not a voice library (" +
            (engineMessage.empty() ? std::string("no unit in its table")
                                   : engineMessage) +
            ")";
    return std::nullopt;
  }
  if (voice.sampleRate < 1000 || voice.sampleRate > 384000) {
    error = path.string() + ": not a voice library (sample rate " +
            std::to_string(voice.sampleRate) + " Hz)";
    return std::nullopt;
  }
  LoadedVoice loadedVoice;
  loadedVoice.sampleRate = voice.sampleRate;
  for (const auto& [index, entry] : voice.units) {
    loadedVoice.units[index] = {entry.offset, entry.length};
  }
  loadedVoice.data.assign(voice.data.begin(), voice.data.end());
  return loadedVoice;
}

std::vector<int16_t> UnitSamples(const LoadedVoice& voice, int32_t index) {
  const auto found = voice.units.find(index);
  if (found == voice.units.end()) return {};
  const auto [offset, length] = found->second;
  if (uint64_t(offset) + length > voice.data.size()) return {};
  std::vector<int16_t> samples(length / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const uint8_t* at = voice.data.data() + offset + 2 * i;
    samples[i] = int16_t(uint16_t(at[0] | (at[1] << 8)));
  }
  return samples;
}

TableDamage ScanTableDamage(const std::vector<uint8_t>& data) {
  TableDamage damage;
  const int64_t size = int64_t(data.size());
  constexpr int64_t kTableStart = 24, kEntrySize = 8;
  const auto read32 = [&](int64_t at) {
    return uint32_t(data[std::size_t(at)]) |
           (uint32_t(data[std::size_t(at) + 1]) << 8) |
           (uint32_t(data[std::size_t(at) + 2]) << 16) |
           (uint32_t(data[std::size_t(at) + 3]) << 24);
  };
  // The walk of the engine's loader: entries until the lowest offset of a
  // unit it accepts; the ones it skips because they point past the end are
  // counted, and the lowest offset of any unit tells where the table ends.
  int64_t bound = size;
  int64_t tableEnd = std::numeric_limits<int64_t>::max();
  int64_t wanted = size;
  for (int64_t position = kTableStart;
       position + kEntrySize <= size && position + kEntrySize <= bound;
       position += kEntrySize) {
    const uint32_t offset = read32(position);
    const uint32_t length = read32(position + 4);
    if (length == 0 || int64_t(offset) <= position + kEntrySize) continue;
    tableEnd = std::min(tableEnd, int64_t(offset));
    const int64_t end = int64_t(offset) + int64_t(length);
    if (end <= size) {
      bound = std::min(bound, int64_t(offset));
    } else {
      ++damage.pastEnd;
      wanted = std::max(wanted, end);
    }
  }
  damage.missingBytes = uint64_t(wanted - size);
  damage.tableCut =
      tableEnd != std::numeric_limits<int64_t>::max() && tableEnd > size;
  if (damage.tableCut) damage.tableBytes = uint64_t(tableEnd);
  return damage;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(
    const std::filesystem::path& path) {
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) return std::nullopt;
  return bytes;
}

VoiceFacts Inspect(const LoadedVoice& voice) {
  VoiceFacts facts;
  facts.sampleRate = voice.sampleRate;
  facts.fileBytes = voice.data.size();
  facts.builderMark = voice.data.size() >= 8 &&
                      std::equal(std::begin(kBuilderMark),
                                 std::end(kBuilderMark), voice.data.begin());
  for (const auto& [index, location] : voice.units) {
    UnitFacts unit;
    unit.index = index;
    unit.offset = location.first;
    unit.length = location.second;
    unit.oddLength = unit.length % 2 != 0;
    const std::vector<int16_t> samples = UnitSamples(voice, index);
    facts.totalSamples += samples.size();
    int peak = 0;
    int fullScaleRun = 0;
    for (int16_t s : samples) {
      const int magnitude = std::abs(int(s));
      peak = std::max(peak, magnitude);
      fullScaleRun = magnitude >= 32767 ? fullScaleRun + 1 : 0;
      if (fullScaleRun >= 3) unit.clipped = true;
    }
    // The pause unit is meant to be silent.
    unit.silent = index != kPauseUnit && peak <= 8;
    facts.units.push_back(unit);

    const int32_t position = index % kSlotSize;
    if (index == kPauseUnit) {
      facts.pause = true;
    } else if (index < 26 * kLetterBlockSize && index % kLetterBlockSize == 8) {
      ++facts.letters;
    } else if (position <= 4 && !CanonicalSyllable(index).empty()) {
      ++facts.toneCounts[position];
    } else {
      ++facts.other;
    }
  }
  // Units sharing bytes: sort by start and compare with the furthest end.
  std::vector<std::size_t> order(facts.units.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return facts.units[a].offset < facts.units[b].offset;
  });
  uint64_t furthestEnd = 0;
  std::size_t furthest = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    UnitFacts& unit = facts.units[order[k]];
    if (k > 0 && unit.offset < furthestEnd) {
      unit.overlapping = true;
      facts.units[furthest].overlapping = true;
    }
    const uint64_t end = uint64_t(unit.offset) + unit.length;
    if (end > furthestEnd) {
      furthestEnd = end;
      furthest = order[k];
    }
  }
  return facts;
}

}  // namespace vesk::voicetool
