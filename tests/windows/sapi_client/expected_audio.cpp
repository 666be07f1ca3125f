#include "sapi_client/expected_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <system_error>

#if defined(VESK_SAPI_TESTS_HAVE_TEXTPREP)
#include "text_prep.h"
#endif

namespace vesk::test {

namespace {

#if !defined(VESK_SAPI_TESTS_HAVE_TEXTPREP)
// Chinese characters of the block the engine reads and the marks it pauses
// on: text the preparation hands on as it is (seen on Linux with the
// preparation linked).
bool PreparedAsItIs(std::u16string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) ||
           std::u16string_view(u"。！？，").find(c) !=
               std::u16string_view::npos;
  });
}
#endif

int32_t Clamped(long value) { return int32_t(std::clamp(value, 0L, 100L)); }

bool EndsPieceByItself(wchar_t c) {
  return std::wstring_view(L"。！？；!?\n").find(c) != std::wstring_view::npos;
}

bool IsWhiteSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\x3000';
}

// The samples of the plays with userValue, in order.
std::vector<int16_t> SamplesOf(const std::vector<PlayCall>& calls,
                               int32_t userValue) {
  std::vector<int16_t> samples;
  for (const PlayCall& call : calls) {
    if (call.userValue != userValue) continue;
    samples.insert(samples.end(), call.samples.begin(), call.samples.end());
  }
  return samples;
}

}  // namespace

EngineSettings SettingsFor(long siteRate, USHORT siteVolume,
                           const SPVSTATE& state) {
  EngineSettings out;
  out.rate = Clamped(50 + 5 * (siteRate + state.RateAdj));
  out.pitch = Clamped(50 + 5 * state.PitchAdj.MiddleAdj);
  out.volume = int32_t(
      std::lround(double(siteVolume) * double(state.Volume) / 100.0 / 2.0));
  return out;
}

std::vector<Piece> SentencePieces(std::wstring_view text) {
  std::vector<Piece> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool cut =
        EndsPieceByItself(text[i]) ||
        (text[i] == L'.' && i + 1 < text.size() && IsWhiteSpace(text[i + 1]));
    if (!cut) continue;
    pieces.push_back({start, i + 1 - start});
    start = i + 1;
  }
  if (start < text.size()) pieces.push_back({start, text.size() - start});
  return pieces;
}

std::optional<std::u16string> PreparedForEngine(std::u16string_view text) {
#if defined(VESK_SAPI_TESTS_HAVE_TEXTPREP)
  return vesk::textprep::PrepareText(text);
#else
  // Until the preparation builds for Windows, the tests speak only text it
  // leaves as it is.
  if (PreparedAsItIs(text)) return std::u16string(text);
  return std::nullopt;
#endif
}

ReferenceEngine::ReferenceEngine(const std::filesystem::path& installed) {
  std::error_code code;
  for (const auto& entry :
       std::filesystem::directory_iterator(installed, code)) {
    const std::filesystem::path& path = entry.path();
    const std::wstring name = path.filename().wstring();
    if (name == L"VeskSynth.dll" || name == L"pinyin.txt" ||
        name == L"phrases.txt" || path.extension() == L".vl") {
      std::filesystem::copy_file(path, folder_.path() / path.filename(), code);
      if (code) {
        error_ = "cannot copy " + U8(path.u16string()) + ": " + code.message();
        return;
      }
    }
  }
  if (code) {
    error_ = "cannot list " + U8(installed.u16string()) + ": " + code.message();
    return;
  }
  library_ = std::make_unique<HostLibrary>(folder_.path() / L"VeskSynth.dll",
                                           AsInstalled{});
  if (!library_->ok()) {
    error_ = "the reference engine: " + library_->error();
    return;
  }
  if (!(*library_)->Initialize(nullptr)) {
    error_ = "the reference engine does not start";
    return;
  }
  (*library_)->SetPlayCallback(&RecordPlay);
}

ReferenceEngine::~ReferenceEngine() {
  if (library_ != nullptr && library_->ok()) (*library_)->Uninitialize();
  library_.reset();
}

std::vector<int16_t> ReferenceEngine::Speak(const std::u16string& voice,
                                            const std::u16string& text,
                                            const EngineSettings& settings) {
  const HostApi& api = library_->api();
  api.SetRate(0, settings.rate);
  api.SetPitch(0, settings.pitch);
  api.SetVolume(0, settings.volume);
  ClearRecordedPlays();
  constexpr int32_t kUserValue = 5;
  // An empty text is no utterance: nothing is heard.
  if (!api.Speak(voice.c_str(), text.c_str(), kUserValue)) return {};
  EXPECT_TRUE(WaitForCompletion()) << "the reference engine hangs";
  return SamplesOf(RecordedPlays(), kUserValue);
}

int32_t ReferenceEngine::SampleRate(const std::u16string& voice) {
  AudioFormat format{};
  if (!library_->api().PrepareVoice(voice.c_str()) ||
      !library_->api().GetAudioFormat(&format)) {
    return 0;
  }
  return format.sampleRate;
}

std::optional<std::vector<int16_t>> ExpectedFragmentAudio(
    ReferenceEngine& engine, const std::u16string& voice,
    std::wstring_view text, const EngineSettings& settings) {
  std::vector<int16_t> audio;
  for (const Piece& piece : SentencePieces(text)) {
    const std::wstring_view part = text.substr(piece.offset, piece.length);
    const std::u16string_view source(
        reinterpret_cast<const char16_t*>(part.data()), part.size());
    const std::optional<std::u16string> prepared = PreparedForEngine(source);
    if (!prepared) {
      ADD_FAILURE() << "no known preparation of \"" << U8(source) << "\"";
      return std::nullopt;
    }
    const std::vector<int16_t> samples =
        engine.Speak(voice, *prepared, settings);
    audio.insert(audio.end(), samples.begin(), samples.end());
  }
  return audio;
}

}  // namespace vesk::test
