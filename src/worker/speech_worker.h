// The thread that speaks one utterance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "api/engine_state.h"

namespace vesk {

struct UtteranceRequest {
  std::u16string voiceName;  // may be empty: the first voice speaks
  std::u16string text;
  int32_t userValue = 0;
  std::shared_ptr<UtteranceControl> control;
};

// Thread body: walks request.text and delivers its audio through
// InvokePlayCallback, honouring pause and stop. Clears engine.running at its
// end unless the utterance was stopped.
void SpeechWorker(EngineState& engine, UtteranceRequest request);

}  // namespace vesk
