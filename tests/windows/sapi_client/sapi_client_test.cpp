// A SAPI 5 client of Vesk's engine as installed and registered: voices
// found through SAPI's token enumeration, the engine created through COM
// from its token and spoken to as SAPI speaks to it. Wine's ISpVoice::Speak
// is tried first; where it cannot drive an engine (Wine 8.0: E_NOTIMPL)
// the test plays SAPI's part with a site of its own (recording_site.h) and
// compares what the engine writes with what VeskSynth.dll says for the same
// prepared text (expected_audio.h), sample for sample.
//
//   vesk_sapi_tests.exe [--engine-dir=DIR]   (or VESK_SAPI_DIR=DIR)
// DIR holds VeskSapi.dll, registered (by the setup program or regsvr32),
// beside VeskSynth.dll and its data; without one, the directory the
// engine's class is registered from. Lines starting "sapi-client:" say
// which paths ran.
#include "sapi_client/sapi_client.h"

#include <gtest/gtest.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sapi_client/expected_audio.h"
#include "sapi_client/recording_site.h"

namespace vesk::test {
namespace {

// --- What the whole program shares: the engine under test ---

struct Installed {
  std::filesystem::path directory;
  VoiceEnumeration enumeration;
  std::vector<VoiceToken> vesk;  // Vesk's voices, by VeskVoice name
  std::unique_ptr<ReferenceEngine> reference;
};

Installed* installed = nullptr;

void Say(const std::string& line) {
  std::printf("sapi-client: %s\n", line.c_str());
  std::fflush(stdout);
}

std::u16string U16Of(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()),
                        text.size());
}

std::vector<std::wstring> VoiceStems(const std::filesystem::path& directory) {
  std::vector<std::wstring> stems;
  std::error_code code;
  for (const auto& entry :
       std::filesystem::directory_iterator(directory, code)) {
    if (entry.path().extension() == L".vl") {
      stems.push_back(entry.path().stem().wstring());
    }
  }
  std::sort(stems.begin(), stems.end());
  return stems;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.data(), int(a.size()), b.data(), int(b.size()),
                              TRUE) == CSTR_EQUAL;
}

// --- A fragment list as SAPI makes it of one XML text ---

SPVSTATE NeutralState(SPVACTIONS action = SPVA_Speak) {
  SPVSTATE state{};
  state.eAction = action;
  state.LangID = 0x804;
  state.Volume = 100;
  return state;
}

class FragmentList {
 public:
  // Text SAPI consumed itself (XML tags): in the source, in no fragment.
  FragmentList& Markup(const std::wstring& xml) {
    source_ += xml;
    return *this;
  }
  FragmentList& Speak(const std::wstring& text,
                      const SPVSTATE& state = NeutralState()) {
    entries_.push_back({state, source_.size(), text.size()});
    source_ += text;
    return *this;
  }
  // Text under another action than SPVA_Speak.
  FragmentList& Act(SPVACTIONS action, const std::wstring& text) {
    return Speak(text, NeutralState(action));
  }
  // The name as it stands in its tag: not NUL-terminated.
  FragmentList& Bookmark(const std::wstring& name) {
    source_ += L"<bookmark mark=\"";
    entries_.push_back(
        {NeutralState(SPVA_Bookmark), source_.size(), name.size()});
    source_ += name + L"\"/>";
    return *this;
  }
  FragmentList& Silence(ULONG milliseconds) {
    SPVSTATE state = NeutralState(SPVA_Silence);
    state.SilenceMSecs = milliseconds;
    const std::wstring tag =
        L"<silence msec=\"" + std::to_wstring(milliseconds) + L"\"/>";
    entries_.push_back({state, source_.size(), tag.size()});
    source_ += tag;
    return *this;
  }
  // The list; valid while this object lives and is not added to.
  const SPVTEXTFRAG* Head() {
    fragments_.assign(entries_.size(), SPVTEXTFRAG{});
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      SPVTEXTFRAG& fragment = fragments_[i];
      fragment.pNext = i + 1 < entries_.size() ? &fragments_[i + 1] : nullptr;
      fragment.State = entries_[i].state;
      fragment.pTextStart = source_.c_str() + entries_[i].offset;
      fragment.ulTextLen = ULONG(entries_[i].length);
      fragment.ulTextSrcOffset = ULONG(entries_[i].offset);
    }
    return fragments_.empty() ? nullptr : fragments_.data();
  }

 private:
  struct Entry {
    SPVSTATE state;
    std::size_t offset;
    std::size_t length;
  };
  std::wstring source_;
  std::vector<Entry> entries_;
  std::vector<SPVTEXTFRAG> fragments_;
};

// --- Speaking, guarded against a hang ---

// Speak on a thread of its own, as SAPI calls it on its own thread. A call
// that has not returned within kHangLimit is asked to abort; one that
// ignores that too ends the program, the failure reported.
HRESULT SpeakGuarded(ISpTTSEngine* engine, const SPVTEXTFRAG* list,
                     RecordingSite& site, const WAVEFORMATEX* format) {
  struct Call {
    std::mutex mutex;
    std::condition_variable done;
    bool returned = false;
    HRESULT result = E_FAIL;
  };
  auto call = std::make_shared<Call>();
  ComPtr<ISpTTSEngine> held(engine);
  std::thread speaker([call, held, list, &site, format] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    site.SpeakingOn(GetCurrentThreadId());
    const HRESULT result = held->Speak(
        SPF_DEFAULT, vesk::sapi::kFormatWaveFormatEx, format, list, &site);
    CoUninitialize();
    std::lock_guard lock(call->mutex);
    call->result = result;
    call->returned = true;
    call->done.notify_all();
  });
  std::unique_lock lock(call->mutex);
  if (!call->done.wait_for(lock, kHangLimit, [&] { return call->returned; })) {
    ADD_FAILURE() << "ISpTTSEngine::Speak has not returned within "
                  << kHangLimit.count() << " s; asking it to abort";
    site.ForceAbort();
    if (!call->done.wait_for(lock, kHangLimit,
                             [&] { return call->returned; })) {
      ADD_FAILURE() << "ISpTTSEngine::Speak ignores SPVES_ABORT too; "
                       "ending the tests";
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 3);
    }
  }
  lock.unlock();
  speaker.join();
  return call->result;
}

std::vector<int16_t> Joined(const std::vector<std::vector<int16_t>>& parts) {
  std::vector<int16_t> out;
  for (const auto& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

int Peak(const std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
  return peak;
}

// Where a and b first differ, for failure messages.
std::string FirstDifference(const std::vector<int16_t>& actual,
                            const std::vector<int16_t>& expected) {
  std::size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
    ++i;
  return std::to_string(actual.size()) + " samples written, " +
         std::to_string(expected.size()) + " expected, first difference at " +
         std::to_string(i);
}

#define EXPECT_SAME_AUDIO(actual, expected) \
  EXPECT_TRUE((actual) == (expected)) << FirstDifference((actual), (expected))

// --- Enumeration, creation and ISpVoice ---

TEST(SapiVoices, VeskVoicesAreFoundThroughTokenEnumeration) {
  const VoiceEnumeration& found = installed->enumeration;
  ASSERT_EQ(found.result, S_OK)
      << found.failedStep << ": " << HresultText(found.result);
  for (const VoiceToken& token : found.tokens) {
    Say("voice token \"" + Narrow(token.id) + "\": language \"" +
        Narrow(token.language) + "\", vendor \"" + Narrow(token.vendor) + "\"" +
        (IsVeskVoice(token) ? ", Vesk's" : ""));
  }
  Say("token values read through " + found.valueAccess);
  // One token per voice beside the engine, each naming its voice and
  // Vesk's engine class.
  const std::vector<std::wstring> stems = VoiceStems(installed->directory);
  ASSERT_FALSE(stems.empty())
      << "no *.vl in " << Narrow(installed->directory.wstring());
  ASSERT_EQ(installed->vesk.size(), stems.size());
  for (std::size_t i = 0; i < stems.size(); ++i) {
    const VoiceToken& token = installed->vesk[i];
    EXPECT_EQ(token.voice, stems[i]);
    EXPECT_EQ(token.name, L"Vesk " + stems[i]);
    EXPECT_TRUE(
        SameText(token.clsid, L"{2D2B22F7-0AE3-4520-8AF1-23E0CD082BBD}"))
        << Narrow(token.clsid);
    EXPECT_NE(token.id.find(L"Vesk-" + stems[i]), std::wstring::npos)
        << Narrow(token.id);
  }
  // The class is served from the engine under test.
  EXPECT_TRUE(SameText(RegisteredServerPath(),
                       (installed->directory / L"VeskSapi.dll").wstring()))
      << Narrow(RegisteredServerPath());
}

TEST(SapiVoices, EveryVoiceMakesAnEngineOfItsRate) {
  ASSERT_FALSE(installed->vesk.empty());
  for (const VoiceToken& token : installed->vesk) {
    const CreatedEngine created = CreateEngineFromToken(token.token.Get());
    ASSERT_TRUE(created.engine) << created.failure;
    EXPECT_EQ(created.failure, "") << "through " << created.how;
    Say("engine for \"" + Narrow(token.voice) + "\" created through " +
        created.how);
    GUID format{};
    WAVEFORMATEX* wave = nullptr;
    ASSERT_EQ(created.engine->GetOutputFormat(&vesk::sapi::kFormatWaveFormatEx,
                                              nullptr, &format, &wave),
              S_OK);
    ASSERT_NE(wave, nullptr);
    const int32_t rate = installed->reference->SampleRate(U16Of(token.voice));
    EXPECT_EQ(format, vesk::sapi::kFormatWaveFormatEx);
    EXPECT_EQ(wave->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wave->nChannels, 1);
    EXPECT_EQ(wave->wBitsPerSample, 16);
    EXPECT_EQ(wave->nBlockAlign, 2);
    EXPECT_EQ(int32_t(wave->nSamplesPerSec), rate);
    EXPECT_EQ(int32_t(wave->nAvgBytesPerSec), 2 * rate);
    CoTaskMemFree(wave);
  }
}

// --- The engine spoken to as SAPI speaks to it ---

class SapiEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(installed->vesk.empty()) << "no Vesk voice registered";
    ASSERT_TRUE(installed->reference->ok()) << installed->reference->error();
    token_ = installed->vesk.front().token.Get();
    voice_ = U16Of(installed->vesk.front().voice);
    engine_ = NewEngine();
    ASSERT_TRUE(engine_);
    GUID id{};
    ASSERT_EQ(engine_->GetOutputFormat(&vesk::sapi::kFormatWaveFormatEx,
                                       nullptr, &id, &format_),
              S_OK);
    ASSERT_NE(format_, nullptr);
  }
  void TearDown() override { CoTaskMemFree(format_); }

  // An engine whose token could not be set still speaks, with its first
  // voice, which is the first token's: EveryVoiceMakesAnEngineOfItsRate
  // reports that failure, and these tests go on with what it speaks.
  ComPtr<ISpTTSEngine> NewEngine(ISpObjectToken* token = nullptr) {
    CreatedEngine created =
        CreateEngineFromToken(token != nullptr ? token : token_);
    EXPECT_TRUE(created.engine) << created.failure;
    return created.engine;
  }

  HRESULT Speak(FragmentList& list, RecordingSite& site) {
    return SpeakGuarded(engine_.Get(), list.Head(), site, format_);
  }

  // The engine's audio of each piece of text, at settings.
  std::vector<std::vector<int16_t>> PieceAudio(
      std::wstring_view text, const EngineSettings& settings = {}) {
    std::vector<std::vector<int16_t>> parts;
    for (const Piece& piece : SentencePieces(text)) {
      parts.push_back(
          Expected(text.substr(piece.offset, piece.length), settings));
    }
    return parts;
  }

  // Two sentences; after the first write SAPI asks once for action, whose
  // new value the script gives from then on. The first sentence keeps the
  // old settings, the second has the new.
  std::vector<int16_t> SpeakAskingOnce(DWORD action, SiteScript script,
                                       const std::wstring& sentence) {
    FragmentList list;
    list.Speak(sentence + sentence);
    auto told = std::make_shared<bool>(false);
    script.actions = [told, action](std::size_t writes, std::size_t) -> DWORD {
      if (writes == 0 || *told) return SPVES_CONTINUE;
      *told = true;
      return action;
    };
    RecordingSite site(script);
    EXPECT_EQ(Speak(list, site), S_OK);
    EXPECT_TRUE(*told);
    return site.Samples();
  }

  std::vector<int16_t> Expected(std::wstring_view text,
                                const EngineSettings& settings = {},
                                const std::u16string& voice = {}) {
    auto audio = ExpectedFragmentAudio(
        *installed->reference, voice.empty() ? voice_ : voice, text, settings);
    return audio ? *audio : std::vector<int16_t>{};
  }

  ISpObjectToken* token_ = nullptr;
  std::u16string voice_;
  ComPtr<ISpTTSEngine> engine_;
  WAVEFORMATEX* format_ = nullptr;
};

// A text long enough for many writes: sentences of one line each.
std::wstring ManySentences(int count) {
  const wchar_t* sentences[] = {L"今天天气很好。", L"我们去公园散步吧！",
                                L"明天见。", L"银行行长说你好。"};
  std::wstring text;
  for (int i = 0; i < count; ++i) text += sentences[i % 4];
  return text;
}

TEST_F(SapiEngineTest, SpVoiceDrivesTheEngineOrIsAStub) {
  const std::wstring text = L"今天天气很好。";
  const SpVoiceAttempt attempt = SpeakThroughSpVoice(token_, text, *format_);
  Say("ISpVoice: " + attempt.Describe());
  if (SUCCEEDED(attempt.speak)) {
    Say("ISpVoice::Speak drives the engine; its audio is checked");
    EXPECT_SAME_AUDIO(
        std::vector<int16_t>(
            reinterpret_cast<const int16_t*>(attempt.audio.data()),
            reinterpret_cast<const int16_t*>(attempt.audio.data()) +
                attempt.audio.size() / 2),
        Expected(text));
    return;
  }
  // Not driving an engine is allowed only as a method this SAPI lacks.
  const bool stub = attempt.purge == E_NOTIMPL || attempt.speak == E_NOTIMPL ||
                    attempt.output == E_NOTIMPL;
  EXPECT_TRUE(stub) << attempt.Describe();
  Say("ISpVoice cannot drive an engine here; the tests play SAPI's part "
      "with their own ISpTTSEngineSite");
}

TEST_F(SapiEngineTest, AudioIsTheEnginesForThePreparedTextWithPieceEvents) {
  const std::wstring texts[] = {L"今天天气很好。",
                                L"今天天气很好。我们去公园散步吧！",
                                L"你好，世界？谢谢"};
  for (const std::wstring& text : texts) {
    SCOPED_TRACE(Narrow(text));
    FragmentList list;
    list.Markup(L"<speak>").Speak(text);
    RecordingSite site;
    ASSERT_EQ(Speak(list, site), S_OK);
    const auto parts = PieceAudio(text);
    EXPECT_SAME_AUDIO(site.Samples(), Joined(parts));
    EXPECT_EQ(site.CallsOffThread(), 0u);
    // At each piece start: a sentence and a word boundary at the audio
    // written before it, naming the piece in the source text.
    const auto pieces = SentencePieces(text);
    const auto sentences = site.EventsOf(SPEI_SENTENCE_BOUNDARY);
    const auto words = site.EventsOf(SPEI_WORD_BOUNDARY);
    ASSERT_EQ(sentences.size(), pieces.size());
    ASSERT_EQ(words.size(), pieces.size());
    std::size_t bytes = 0;
    const std::size_t source = std::wstring(L"<speak>").size();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      for (const RecordedEvent& event : {sentences[i], words[i]}) {
        EXPECT_EQ(event.audioOffset, bytes) << "piece " << i;
        EXPECT_EQ(std::size_t(event.lParam), source + pieces[i].offset)
            << "piece " << i;
        EXPECT_EQ(std::size_t(event.wParam), pieces[i].length) << "piece " << i;
      }
      bytes += 2 * parts[i].size();
    }
  }
}

TEST_F(SapiEngineTest, BookmarksArriveInOrderAtTheAudioBeforeThem) {
  FragmentList list;
  list.Markup(L"<speak>")
      .Speak(L"今天天气很好。")
      .Bookmark(L"1")
      .Speak(L"明天见。")
      .Bookmark(L"22");
  RecordingSite site;
  ASSERT_EQ(Speak(list, site), S_OK);
  const auto first = Expected(L"今天天气很好。");
  const auto second = Expected(L"明天见。");
  EXPECT_SAME_AUDIO(site.Samples(), Joined({first, second}));
  const auto marks = site.EventsOf(SPEI_TTS_BOOKMARK);
  ASSERT_EQ(marks.size(), 2u);
  const std::size_t before[] = {2 * first.size(),
                                2 * (first.size() + second.size())};
  const wchar_t* names[] = {L"1", L"22"};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(marks[i].paramType, SPET_LPARAM_IS_STRING);
    EXPECT_EQ(marks[i].text, names[i]);
    EXPECT_EQ(marks[i].wParam, WPARAM(_wtol(names[i])));
    EXPECT_EQ(marks[i].audioOffset, before[i]);
  }
}

TEST_F(SapiEngineTest, OnlyEventsOfInterestArrive) {
  FragmentList list;
  list.Speak(L"今天天气很好。明天见。").Bookmark(L"7");
  RecordingSite site({.eventInterest = SPFEI(SPEI_TTS_BOOKMARK)});
  ASSERT_EQ(Speak(list, site), S_OK);
  const auto events = site.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, SPEI_TTS_BOOKMARK);
  EXPECT_EQ(events[0].text, L"7");
}

TEST_F(SapiEngineTest, AbortStopsTheAudioWithinOneChunk) {
  const std::wstring text = ManySentences(12);
  FragmentList list;
  list.Speak(text);
  RecordingSite site({.actions = [](std::size_t writes, std::size_t) -> DWORD {
    return writes >= 3 ? SPVES_ABORT : SPVES_CONTINUE;
  }});
  ASSERT_EQ(Speak(list, site), S_OK);
  ASSERT_TRUE(site.AbortAnswered()) << "the engine never asked after the "
                                       "third write, or wrote fewer";
  EXPECT_EQ(site.WritesAfterAbort(), 0u);
  // What was written is the start of the whole text's audio.
  const auto whole = Joined(PieceAudio(text));
  const auto written = site.Samples();
  ASSERT_LT(written.size(), whole.size());
  EXPECT_SAME_AUDIO(
      written,
      std::vector<int16_t>(whole.begin(), whole.begin() + written.size()));
}

TEST_F(SapiEngineTest, RateChangeAppliesFromTheNextPiece) {
  const std::wstring sentence = L"今天天气很好。";
  const auto spoken = SpeakAskingOnce(
      SPVES_RATE,
      {.rate = [](std::size_t writes) -> long { return writes > 0 ? 10 : 0; }},
      sentence);
  const auto normal = Expected(sentence);
  const auto faster = Expected(sentence, {.rate = 100});
  EXPECT_LT(faster.size(), normal.size());
  EXPECT_SAME_AUDIO(spoken, Joined({normal, faster}));
}

TEST_F(SapiEngineTest, VolumeChangeAppliesFromTheNextPiece) {
  const std::wstring sentence = L"今天天气很好。";
  const auto spoken = SpeakAskingOnce(
      SPVES_VOLUME, {.volume = [](std::size_t writes) -> USHORT {
        return writes > 0 ? 50 : 100;
      }},
      sentence);
  const auto normal = Expected(sentence);
  const auto softer = Expected(sentence, {.volume = 25});
  // SAPI's 50 is half the engine's normal loudness.
  EXPECT_NEAR(double(Peak(softer)) / Peak(normal), 0.5, 0.1);
  EXPECT_SAME_AUDIO(spoken, Joined({normal, softer}));
}

TEST_F(SapiEngineTest, FragmentStatesSetRateVolumeAndPitch) {
  const std::wstring sentence = L"今天天气很好。";
  SPVSTATE slowSoft = NeutralState();
  slowSoft.RateAdj = -5;
  slowSoft.Volume = 40;
  SPVSTATE high = NeutralState();
  high.PitchAdj.MiddleAdj = 4;
  FragmentList list;
  list.Speak(sentence, slowSoft).Speak(sentence, high).Speak(sentence);
  RecordingSite site;
  ASSERT_EQ(Speak(list, site), S_OK);
  EXPECT_SAME_AUDIO(
      site.Samples(),
      Joined({Expected(sentence, {.rate = 25, .volume = 20}),
              Expected(sentence, {.pitch = 70}), Expected(sentence)}));
}

TEST_F(SapiEngineTest, SilenceIsZeroSamplesOfItsLength) {
  FragmentList list;
  list.Speak(L"今天天气很好。").Silence(250).Speak(L"明天见。");
  RecordingSite site;
  ASSERT_EQ(Speak(list, site), S_OK);
  const std::vector<int16_t> silence(format_->nSamplesPerSec / 4, 0);
  EXPECT_SAME_AUDIO(site.Samples(), Joined({Expected(L"今天天气很好。"),
                                            silence, Expected(L"明天见。")}));
}

// Spelt out: each character on its own, unprepared; a section or a tag
// SAPI did not know says nothing.
TEST_F(SapiEngineTest, SpellOutSectionsAndUnknownTags) {
  FragmentList list;
  list.Speak(L"今天天气很好。")
      .Act(SPVA_Section, L"第一节")
      .Act(SPVA_SpellOut, L"明天见")
      .Act(SPVA_ParseUnknownTag, L"<unknown/>")
      .Speak(L"明天见。");
  RecordingSite site;
  ASSERT_EQ(Speak(list, site), S_OK);
  const std::vector<int16_t> spelt =
      installed->reference->Speak(voice_, u"明 天 见", EngineSettings{});
  EXPECT_SAME_AUDIO(site.Samples(), Joined({Expected(L"今天天气很好。"), spelt,
                                            Expected(L"明天见。")}));
}

TEST_F(SapiEngineTest, MarkupTextsNeitherHangNorCrash) {
  const std::wstring texts[] = {
      L"<speak version=\"1.0\"><prosody rate=\"fast\">你好</prosody>"
      L"<break time=\"1s\"/>世界</speak>",
      L"<speak><<prosody rate=\"<>\">&amp;&#xD800;&bogus;你好</spe",
      L"<?xml version=\"1.0\"?><!-- 你好 --><![CDATA[世界",
  };
  for (const std::wstring& text : texts) {
    SCOPED_TRACE(Narrow(text));
    FragmentList list;
    list.Speak(text);
    RecordingSite site;
    EXPECT_EQ(Speak(list, site), S_OK);
    EXPECT_EQ(site.WritesAfterAbort(), 0u);
  }
}

TEST_F(SapiEngineTest, EmptyTextAndNoListWriteNothing) {
  FragmentList empty;
  empty.Speak(L"");
  RecordingSite emptySite;
  EXPECT_EQ(Speak(empty, emptySite), S_OK);
  EXPECT_EQ(emptySite.ByteCount(), 0u);
  RecordingSite noListSite;
  EXPECT_EQ(SpeakGuarded(engine_.Get(), nullptr, noListSite, format_), S_OK);
  EXPECT_EQ(noListSite.ByteCount(), 0u);
}

TEST_F(SapiEngineTest, AMegabyteOfTextIsAbortedAfterAFewWrites) {
  std::wstring text = ManySentences(4);
  while (text.size() * sizeof(wchar_t) < (1u << 20)) text += text;
  text.resize((1u << 20) / sizeof(wchar_t));
  FragmentList list;
  list.Speak(text);
  RecordingSite site({.actions = [](std::size_t writes, std::size_t) -> DWORD {
    return writes >= 3 ? SPVES_ABORT : SPVES_CONTINUE;
  }});
  EXPECT_EQ(Speak(list, site), S_OK);
  EXPECT_TRUE(site.AbortAnswered());
  EXPECT_EQ(site.WritesAfterAbort(), 0u);
}

// Two voices (the first twice where only one is installed), each engine's
// first write waiting until the other's Speak has asked for actions: both
// calls are under way at once, whichever came first.
TEST_F(SapiEngineTest, TwoEnginesOnTwoThreadsTakeTurns) {
  const std::wstring texts[2] = {ManySentences(3),
                                 L"明天见。我们去公园散步吧！"};
  const VoiceToken& second = installed->vesk.back();
  ComPtr<ISpTTSEngine> engines[2] = {engine_, NewEngine(second.token.Get())};
  ASSERT_TRUE(engines[1]);
  const std::u16string voices[2] = {voice_, U16Of(second.voice)};
  std::unique_ptr<RecordingSite> sites[2];
  std::atomic<bool> finished[2] = {false, false};
  std::atomic<bool> overlapped[2] = {false, false};
  for (int self = 0; self < 2; ++self) {
    const int other = 1 - self;
    sites[self] = std::make_unique<RecordingSite>(
        SiteScript{.onWrite = [&, self, other](std::size_t index) {
          if (index != 0) return;
          const auto limit = std::chrono::steady_clock::now() + kHangLimit;
          while (!finished[other] && std::chrono::steady_clock::now() < limit) {
            if (sites[other]->ActionCalls() > 0) {
              overlapped[self] = true;
              return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }});
  }
  FragmentList lists[2];
  HRESULT results[2] = {E_FAIL, E_FAIL};
  std::thread speakers[2];
  for (int i = 0; i < 2; ++i) {
    lists[i].Speak(texts[i]);
    speakers[i] = std::thread([&, i] {
      results[i] =
          SpeakGuarded(engines[i].Get(), lists[i].Head(), *sites[i], format_);
      finished[i] = true;
    });
  }
  for (auto& speaker : speakers) speaker.join();
  // The first to write met the other already asking.
  EXPECT_TRUE(overlapped[0] || overlapped[1])
      << "neither Speak asked for actions while the other was writing";
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i], S_OK);
    EXPECT_SAME_AUDIO(sites[i]->Samples(), Expected(texts[i], {}, voices[i]));
  }
  // Each call's writes one unbroken run in the order of all writes.
  const auto a = sites[0]->WriteSequence();
  const auto b = sites[1]->WriteSequence();
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_TRUE(a.back() < b.front() || b.back() < a.front())
      << "writes interleaved: " << a.front() << ".." << a.back() << " and "
      << b.front() << ".." << b.back();
}

TEST_F(SapiEngineTest, SkipForwardOneSentenceIsHonoured) {
  const std::wstring sentences[] = {L"今天天气很好。", L"我们去公园散步吧！",
                                    L"明天见。"};
  FragmentList list;
  list.Speak(sentences[0] + sentences[1] + sentences[2]);
  auto told = std::make_shared<bool>(false);
  RecordingSite site(
      {.actions = [told](std::size_t writes, std::size_t) -> DWORD {
         if (writes == 0 || *told) return SPVES_CONTINUE;
         *told = true;
         return SPVES_SKIP;
       },
       .skipType = SPVST_SENTENCE,
       .skipCount = 1});
  ASSERT_EQ(Speak(list, site), S_OK);
  ASSERT_TRUE(*told);
  EXPECT_EQ(site.CompletedSkips(), std::vector<long>{1});
  // A sentence is left out; the last is heard to its end.
  const auto whole =
      Joined(PieceAudio(sentences[0] + sentences[1] + sentences[2]));
  const auto last = Expected(sentences[2]);
  const auto written = site.Samples();
  EXPECT_LT(written.size(), whole.size());
  ASSERT_GE(written.size(), last.size());
  EXPECT_SAME_AUDIO(
      std::vector<int16_t>(written.end() - last.size(), written.end()), last);
}

// --- The program ---

// The command line read as Windows holds it, in UTF-16: a folder's name
// may lie outside the ANSI code page argv is given in.
std::filesystem::path EngineDirectory() {
  const std::wstring flag = L"--engine-dir=";
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring given;
  for (int i = 1; args != nullptr && i < count; ++i) {
    const std::wstring arg = args[i];
    if (arg.rfind(flag, 0) == 0) given = arg.substr(flag.size());
  }
  LocalFree(args);
  if (!given.empty()) return given;
  wchar_t value[MAX_PATH];
  const DWORD length =
      GetEnvironmentVariableW(L"VESK_SAPI_DIR", value, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return value;
  return std::filesystem::path(RegisteredServerPath()).parent_path();
}

}  // namespace

int RunSapiClientTests(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int status;
  {
    Installed state;
    state.directory = EngineDirectory();
    Say("engine directory " + Narrow(state.directory.wstring()));
    state.enumeration = EnumerateVoices();
    for (const VoiceToken& token : state.enumeration.tokens) {
      if (IsVeskVoice(token)) state.vesk.push_back(token);
    }
    std::sort(state.vesk.begin(), state.vesk.end(),
              [](const VoiceToken& a, const VoiceToken& b) {
                return a.voice < b.voice;
              });
    state.reference = std::make_unique<ReferenceEngine>(state.directory);
    installed = &state;
    status = RUN_ALL_TESTS();
    installed = nullptr;
  }
  CoUninitialize();
  return status;
}

}  // namespace vesk::test

int main(int argc, char** argv) {
  return vesk::test::RunSapiClientTests(argc, argv);
}
