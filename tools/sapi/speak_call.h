// One ISpTTSEngine::Speak call: its steps played in order on the calling
// thread, audio and events written through SAPI's site, SAPI's real-time
// requests (abort, skip, rate, volume) asked for between chunks.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "prepared_stream.h"
#include "shared_engine.h"
#include "speech_plan.h"
#include "tts_engine.h"

namespace vesk::sapi {

// SAPI's fragment list as plain records. The list is followed at most this
// far, so that a list that loops back on itself still ends.
inline constexpr std::size_t kFragmentLimit = 1 << 22;
std::vector<Fragment> ReadFragments(const SPVTEXTFRAG* list);

class SpeakCall {
 public:
  // flags: the Speak call's SPF_ flags (SPF_NLP_SPEAK_PUNC reads symbols).
  SpeakCall(ISpTTSEngineSite& site, const VoiceInfo& voice, DWORD flags,
            const SPVTEXTFRAG* list);

  HRESULT Run();

 private:
  // Asks SAPI for its requests; true when the step in progress must end
  // (an abort, or a skip to carry out).
  bool Poll();
  void SpeakSentence(EngineTurn& turn, const Step& step);
  void WriteSilence(const Step& step);
  bool Write(const int16_t* samples, std::size_t count);
  void AddEvent(SPEVENTENUM id, WPARAM wParam, LPARAM lParam,
                SPEVENTLPARAMTYPE type);
  std::size_t CarryOutSkip(std::size_t current);

  ISpTTSEngineSite& site_;
  const VoiceInfo& voice_;
  std::vector<Fragment> fragments_;
  std::vector<Step> steps_;
  host::PreparedStream prepared_;
  long rate_ = 0;
  USHORT volume_ = 100;
  ULONGLONG interest_ = ~0ull;
  ULONGLONG bytesWritten_ = 0;
  bool aborted_ = false;
  std::optional<long> skip_;
};

}  // namespace vesk::sapi
