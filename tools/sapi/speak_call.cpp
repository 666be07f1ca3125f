#include "speak_call.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace vesk::sapi {

namespace {

// Screen readers name symbols themselves, as speech-dispatcher does, and
// ask for them with SPF_NLP_SPEAK_PUNC where they want the voice to; the
// marks that are part of how a number is said are read either way.
textprep::PrepOptions PrepOptions(DWORD flags) {
  textprep::PrepOptions options;
  options.readSymbols = (flags & SPF_NLP_SPEAK_PUNC) != 0;
  return options;
}

FragmentAction ActionOf(SPVACTIONS action) {
  switch (action) {
    case SPVA_Speak:
      return FragmentAction::kSpeak;
    case SPVA_Silence:
      return FragmentAction::kSilence;
    case SPVA_Pronounce:
      return FragmentAction::kPronounce;
    case SPVA_Bookmark:
      return FragmentAction::kBookmark;
    case SPVA_SpellOut:
      return FragmentAction::kSpellOut;
    case SPVA_Section:
      return FragmentAction::kSection;
    default:
      return FragmentAction::kParseUnknownTag;
  }
}

// Silence is written in pieces this long, asking SAPI between them.
constexpr uint32_t kSilenceChunkMs = 100;

}  // namespace

std::vector<Fragment> ReadFragments(const SPVTEXTFRAG* list) {
  std::vector<Fragment> fragments;
  for (; list != nullptr && fragments.size() < kFragmentLimit;
       list = list->pNext) {
    Fragment f;
    f.action = ActionOf(list->State.eAction);
    if (list->pTextStart != nullptr)
      f.text = {reinterpret_cast<const char16_t*>(list->pTextStart),
                list->ulTextLen};
    f.sourceOffset = list->ulTextSrcOffset;
    f.rateAdjust = list->State.RateAdj;
    f.volume = list->State.Volume;
    f.pitchAdjust = list->State.PitchAdj.MiddleAdj;
    f.silenceMs = list->State.SilenceMSecs;
    fragments.push_back(f);
  }
  return fragments;
}

SpeakCall::SpeakCall(ISpTTSEngineSite& site, const VoiceInfo& voice,
                     DWORD flags, const SPVTEXTFRAG* list)
    : site_(site),
      voice_(voice),
      fragments_(ReadFragments(list)),
      steps_(PlanSteps(fragments_)),
      prepared_(true, PrepOptions(flags)) {}

HRESULT SpeakCall::Run() {
  if (steps_.empty()) return S_OK;
  if (FAILED(site_.GetEventInterest(&interest_))) interest_ = ~0ull;
  if (FAILED(site_.GetRate(&rate_))) rate_ = 0;
  if (FAILED(site_.GetVolume(&volume_))) volume_ = 100;
  EngineTurn turn([this] { return Poll() && aborted_; });
  if (!turn.held()) return S_OK;
  std::size_t i = 0;
  while (i < steps_.size() && !aborted_) {
    if (skip_) {
      i = CarryOutSkip(i);
      continue;
    }
    const Step& step = steps_[i];
    switch (step.kind) {
      case StepKind::kBookmark: {
        const std::wstring name(step.text.begin(), step.text.end());
        AddEvent(SPEI_TTS_BOOKMARK, WPARAM(_wtol(name.c_str())),
                 LPARAM(name.c_str()), SPET_LPARAM_IS_STRING);
        break;
      }
      case StepKind::kSilence:
        WriteSilence(step);
        break;
      case StepKind::kSentence:
        SpeakSentence(turn, step);
        break;
    }
    if (!skip_) ++i;
  }
  return S_OK;
}

bool SpeakCall::Poll() {
  const DWORD actions = site_.GetActions();
  if (actions & SPVES_ABORT) aborted_ = true;
  if (actions & SPVES_RATE) {
    long rate = 0;
    if (SUCCEEDED(site_.GetRate(&rate))) rate_ = rate;
  }
  if (actions & SPVES_VOLUME) {
    USHORT volume = 0;
    if (SUCCEEDED(site_.GetVolume(&volume))) volume_ = volume;
  }
  if ((actions & SPVES_SKIP) && !skip_) {
    SPVSKIPTYPE type{};
    long count = 0;
    if (SUCCEEDED(site_.GetSkipInfo(&type, &count))) {
      if (type == SPVST_SENTENCE)
        skip_ = count;
      else
        site_.CompleteSkip(0);
    }
  }
  return aborted_ || skip_.has_value();
}

std::size_t SpeakCall::CarryOutSkip(std::size_t current) {
  const SkipResult result = Skip(steps_, current, *skip_);
  skip_.reset();
  site_.CompleteSkip(result.skipped);
  return result.step;
}

void SpeakCall::SpeakSentence(EngineTurn& turn, const Step& step) {
  AddEvent(SPEI_SENTENCE_BOUNDARY, WPARAM(step.text.size()),
           LPARAM(step.sourceOffset), SPET_LPARAM_IS_UNDEFINED);
  AddEvent(SPEI_WORD_BOUNDARY, WPARAM(step.text.size()),
           LPARAM(step.sourceOffset), SPET_LPARAM_IS_UNDEFINED);
  std::u16string text;
  if (step.spellOut) {
    text = SpelledOut(step.text);
  } else {
    prepared_.Append(step.text);
    text = prepared_.Take(true);
  }
  if (text.empty()) return;
  const EngineSettings settings =
      MapSettings(rate_, volume_, fragments_[step.fragment]);
  turn.Speak(voice_.name, text, settings,
             {[this] { return Poll(); },
              [this](const int16_t* samples, std::size_t count) {
                return Write(samples, count);
              }});
}

void SpeakCall::WriteSilence(const Step& step) {
  const uint64_t total =
      uint64_t(voice_.sampleRate) * fragments_[step.fragment].silenceMs / 1000;
  const std::vector<int16_t> zeros(voice_.sampleRate * kSilenceChunkMs / 1000);
  for (uint64_t done = 0; done < total && !Poll();) {
    const std::size_t count =
        std::size_t(std::min<uint64_t>(zeros.size(), total - done));
    if (!Write(zeros.data(), count)) return;
    done += count;
  }
}

bool SpeakCall::Write(const int16_t* samples, std::size_t count) {
  const auto* bytes = reinterpret_cast<const BYTE*>(samples);
  ULONG left = ULONG(count * sizeof(int16_t));
  while (left > 0) {
    ULONG written = 0;
    if (FAILED(site_.Write(bytes, left, &written)) || written == 0 ||
        written > left) {
      aborted_ = true;
      return false;
    }
    bytes += written;
    left -= written;
    bytesWritten_ += written;
  }
  return true;
}

void SpeakCall::AddEvent(SPEVENTENUM id, WPARAM wParam, LPARAM lParam,
                         SPEVENTLPARAMTYPE type) {
  if ((interest_ & (1ull << id)) == 0) return;
  SPEVENT event{};
  event.eEventId = id;
  event.elParamType = type;
  event.ullAudioStreamOffset = bytesWritten_;
  event.wParam = wParam;
  event.lParam = lParam;
  site_.AddEvents(&event, 1);
}

}  // namespace vesk::sapi
