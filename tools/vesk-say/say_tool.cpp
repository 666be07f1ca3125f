#include "say_tool.h"

#include <iconv.h>
#include <sndfile.h>
#include <uchardet/uchardet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "host_text.h"

namespace vesk::say {

// ---- Text ----------------------------------------------------------------

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the sequence a lead byte starts, 0 when it starts none.
int SequenceLength(unsigned char byte) {
  if (byte < 0x80) return 1;
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  if (byte >= 0xE0 && byte <= 0xEF) return 3;
  if (byte >= 0xF0 && byte <= 0xF4) return 4;
  return 0;
}

// Bytes at the end of a UTF-8 text that begin a sequence not yet complete.
std::size_t UnfinishedTail(std::string_view bytes) {
  const std::size_t size = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(bytes[size - back]);
    if (IsContinuation(byte)) continue;
    const int length = SequenceLength(byte);
    return length > int(back) ? back : 0;
  }
  return 0;
}

// How many bytes after a lead byte the engine's decoder may read with it;
// more than it really reads only holds back more below.
std::size_t MostFollowers(unsigned char byte) {
  if (byte < 0xC0) return 0;
  if (byte < 0xE0) return 1;
  if (byte < 0xF0) return 2;
  return 3;
}

// Bytes at the end to hold back until more input comes, so that decoding the
// rest now gives what decoding the whole input at once would. The engine's
// decoder, like the Windows one, reads a sequence that runs past the end of
// its input as one replacement, whatever bytes it holds, so every lead byte
// whose sequence could reach the end stays back.
std::size_t HeldTail(std::string_view bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t cut = bytes.size();
  bool moved = true;
  while (moved) {
    moved = false;
    for (std::size_t q = cut >= 3 ? cut - 3 : 0; q < cut; ++q) {
      const std::size_t followers = MostFollowers(b[q]);
      if (followers > 0 && q + followers >= cut) {
        cut = q;
        moved = true;
        break;
      }
    }
  }
  return bytes.size() - cut;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsUtf8Name(std::string_view name) {
  return EqualsIgnoringCase(name, "UTF-8") || EqualsIgnoringCase(name, "UTF8");
}

// Encodings that uchardet names only on real evidence of their multi-byte
// structure.
bool IsEastAsian(std::string_view name) {
  for (const char* known :
       {"GB18030", "GB2312", "GBK", "BIG5", "EUC-TW", "HZ-GB-2312", "EUC-KR",
        "EUC-JP", "SHIFT_JIS", "ISO-2022-JP", "ISO-2022-KR", "ISO-2022-CN"}) {
    if (EqualsIgnoringCase(name, known)) return true;
  }
  return EqualsIgnoringCase(name.substr(0, 6), "UTF-16") ||
         EqualsIgnoringCase(name.substr(0, 6), "UTF-32");
}

std::string Detect(std::string_view bytes) {
  uchardet_t detector = uchardet_new();
  std::string charset;
  if (uchardet_handle_data(detector, bytes.data(), bytes.size()) == 0) {
    uchardet_data_end(detector);
    const char* name = uchardet_get_charset(detector);
    if (name != nullptr) charset = name;
  }
  uchardet_delete(detector);
  return charset;
}

// Whether bytes read as Chinese text in GB18030: they convert without
// error and nearly all that is not ASCII is Chinese characters and marks.
bool ReadsAsChineseInGb18030(std::string_view bytes) {
  InputDecoder decoder;
  std::string ignored;
  if (!decoder.Open("GB18030", ignored)) return false;
  std::u16string text;
  decoder.Feed(bytes, text);
  if (decoder.firstBadByte()) return false;
  std::size_t chinese = 0, other = 0;
  for (char16_t c : text) {
    if (c < 0x80) continue;
    const bool han = (c >= 0x3400 && c <= 0x9FFF) ||
                     (c >= 0x3000 && c <= 0x303F) ||
                     (c >= 0xFF00 && c <= 0xFFEF);
    (han ? chinese : other) += 1;
  }
  return chinese > 0 && other * 10 <= chinese;
}

// Below this many bytes uchardet's statistics often name a Latin or Greek
// code page for Chinese text.
constexpr std::size_t kShortSample = 256;

}  // namespace

std::optional<std::size_t> FirstInvalidUtf8(std::string_view bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  for (std::size_t i = 0; i < size;) {
    const int length = SequenceLength(b[i]);
    if (length == 0) return i;
    for (int k = 1; k < length; ++k) {
      if (i + k >= size) return std::nullopt;  // unfinished at the end
      const unsigned char next = b[i + k];
      unsigned char low = 0x80, high = 0xBF;
      if (k == 1 && b[i] == 0xE0) low = 0xA0;
      if (k == 1 && b[i] == 0xED) high = 0x9F;
      if (k == 1 && b[i] == 0xF0) low = 0x90;
      if (k == 1 && b[i] == 0xF4) high = 0x8F;
      if (next < low || next > high) return i;
    }
    i += std::size_t(length);
  }
  return std::nullopt;
}

InputEncoding ChooseEncoding(std::string_view head, const std::string& option) {
  InputEncoding result;
  if (!option.empty()) {
    result.name = IsUtf8Name(option) ? "UTF-8" : option;
    return result;
  }
  const auto starts = [&](std::string_view mark) {
    return head.substr(0, mark.size()) == mark;
  };
  using namespace std::string_view_literals;
  if (starts("\xFF\xFE\0\0"sv)) return {"UTF-32LE", "", true, ""};
  if (starts("\0\0\xFE\xFF"sv)) return {"UTF-32BE", "", true, ""};
  if (starts("\xFF\xFE"sv)) return {"UTF-16LE", "", true, ""};
  if (starts("\xFE\xFF"sv)) return {"UTF-16BE", "", true, ""};
  const auto bad = FirstInvalidUtf8(head);
  if (!bad) return {"UTF-8", "", true, ""};

  const std::string detected = Detect(head);
  const std::string where = "byte " + std::to_string(*bad);
  if (IsUtf8Name(detected)) {
    result.ok = false;
    result.error = "the input is not valid UTF-8 (bad " + where +
                   "); give --encoding UTF-8 to read it with the bad bytes "
                   "skipped, or --encoding NAME";
    return result;
  }
  if (IsEastAsian(detected)) {
    result.name = detected;
    result.note =
        "the input is not UTF-8; reading it as " + detected + " (detected)";
    return result;
  }
  if ((head.size() < kShortSample || detected.empty()) &&
      ReadsAsChineseInGb18030(head)) {
    result.name = "GB18030";
    result.note =
        "the input is not UTF-8; reading it as GB18030 (it reads as Chinese "
        "in that encoding)";
    return result;
  }
  if (!detected.empty() && !EqualsIgnoringCase(detected, "ASCII")) {
    result.name = detected;
    result.note =
        "the input is not UTF-8; reading it as " + detected + " (detected)";
    return result;
  }
  result.ok = false;
  result.error = "the input is not UTF-8 (bad " + where +
                 ") and its encoding was not recognised; give --encoding "
                 "NAME (iconv -l lists the names)";
  return result;
}

InputDecoder::~InputDecoder() {
  if (iconv_ != nullptr) ::iconv_close(static_cast<iconv_t>(iconv_));
}

bool InputDecoder::Open(const std::string& encoding, std::string& error) {
  utf8_ = IsUtf8Name(encoding);
  if (utf8_) return true;
  const iconv_t handle = ::iconv_open("UTF-16LE", encoding.c_str());
  if (handle == iconv_t(-1)) {
    error = "unknown encoding " + encoding + " (iconv -l lists the names)";
    return false;
  }
  iconv_ = handle;
  return true;
}

void InputDecoder::Append(std::u16string_view text, std::u16string& out) {
  if (!started_ && !text.empty()) {
    started_ = true;
    if (text.front() == 0xFEFF) text.remove_prefix(1);
  }
  const std::size_t from = out.size();
  out.append(text);
  std::replace(out.begin() + std::ptrdiff_t(from), out.end(), u'\0', u'\n');
}

void InputDecoder::Feed(std::string_view bytes, std::u16string& out) {
  held_.append(bytes);
  Decode(held_, false, out);
}

void InputDecoder::Finish(std::u16string& out) { Decode(held_, true, out); }

void InputDecoder::Decode(std::string_view bytes, bool final,
                          std::u16string& out) {
  if (utf8_) {
    const std::size_t keep = final ? 0 : HeldTail(bytes);
    const std::string_view complete = bytes.substr(0, bytes.size() - keep);
    if (!firstBad_) {
      // Complete input (or an unfinished tail at its very end) is bad here.
      const auto bad = FirstInvalidUtf8(complete);
      if (bad) {
        firstBad_ = consumed_ + *bad;
      } else if (final && UnfinishedTail(complete) > 0) {
        firstBad_ = consumed_ + complete.size() - UnfinishedTail(complete);
      }
    }
    Append(host::ToUtf16(complete), out);
    consumed_ += complete.size();
    held_ = std::string(bytes.substr(complete.size()));
    return;
  }
  auto* handle = static_cast<iconv_t>(iconv_);
  std::string input(bytes);
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::u16string text;
  char buffer[16 * 1024];
  const auto take = [&](char* end) {
    for (char* at = buffer; at + 1 < end; at += 2) {
      text.push_back(char16_t(static_cast<unsigned char>(at[0]) |
                              (static_cast<unsigned char>(at[1]) << 8)));
    }
  };
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = ::iconv(handle, &in, &inLeft, &outPtr, &outLeft);
    const int failure = result == std::size_t(-1) ? errno : 0;
    take(outPtr);
    if (failure == E2BIG) continue;
    if (failure == EILSEQ || (failure == EINVAL && final)) {
      // One replacement per byte that starts nothing decodable.
      if (!firstBad_) firstBad_ = consumed_ + uint64_t(in - input.data());
      text.push_back(0xFFFD);
      ++in;
      --inLeft;
      continue;
    }
    break;  // done, or an unfinished sequence to complete with more input
  }
  if (final) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    ::iconv(handle, nullptr, nullptr, &outPtr, &outLeft);  // shift state
    take(outPtr);
  }
  consumed_ += uint64_t(in - input.data());
  held_.assign(in, inLeft);
  Append(text, out);
}

// ---- Output --------------------------------------------------------------

int SoundFormatForPath(const std::filesystem::path& path, int sampleRate,
                       std::string& error) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  int format = 0;
  if (extension == ".wav") format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
  if (extension == ".flac") format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  if (extension == ".ogg" || extension == ".oga") {
    format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  }
  if (extension == ".opus") format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
  if (extension == ".mp3") format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
  if (format == 0) {
    error = "cannot tell the format of " + path.string() +
            " from its name: use .wav, .flac, .ogg, .opus or .mp3, or --raw";
    return 0;
  }
  if (extension == ".opus") {
    static constexpr int kOpusRates[] = {8000, 12000, 16000, 24000, 48000};
    if (std::find(std::begin(kOpusRates), std::end(kOpusRates), sampleRate) ==
        std::end(kOpusRates)) {
      error =
          "Opus takes 8000, 12000, 16000, 24000 or 48000 Hz and the "
          "voice speaks at " +
          std::to_string(sampleRate) + " Hz: write .ogg or .flac instead";
      return 0;
    }
  }
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 1;
  info.format = format;
  if (!sf_format_check(&info)) {
    error = "the installed libsndfile cannot write " + extension + " files";
    return 0;
  }
  return format;
}

std::filesystem::path SplitPartPath(const std::filesystem::path& path,
                                    int number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "-%03d", number);
  auto part = path;
  part.replace_filename(path.stem().string() + digits +
                        path.extension().string());
  return part;
}

std::string WavStreamHeader(int sampleRate) {
  std::string header;
  const auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) header += char((v >> (8 * i)) & 0xFF);
  };
  const auto put16 = [&](uint16_t v) {
    header += char(v & 0xFF);
    header += char(v >> 8);
  };
  header += "RIFF";
  put32(0xFFFFFFFF);
  header += "WAVEfmt ";
  put32(16);
  put16(1);  // PCM
  put16(1);  // mono
  put32(uint32_t(sampleRate));
  put32(uint32_t(sampleRate) * 2);
  put16(2);
  put16(16);
  header += "data";
  put32(0xFFFFFFFF);
  return header;
}

}  // namespace vesk::say
