// SAPI's part in a Speak call, played by the test: an ISpTTSEngineSite that
// records every call the engine makes (audio written, events with copies of
// their strings, the order of calls) and answers GetActions, GetRate,
// GetVolume and GetSkipInfo from a script.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tts_engine.h"

namespace vesk::test {

enum class SiteCall {
  kAddEvents,
  kGetEventInterest,
  kGetActions,
  kWrite,
  kGetRate,
  kGetVolume,
  kGetSkipInfo,
  kCompleteSkip,
};

struct RecordedEvent {
  SPEVENTENUM id = SPEI_UNDEFINED;
  SPEVENTLPARAMTYPE paramType = SPET_LPARAM_IS_UNDEFINED;
  ULONGLONG audioOffset = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::wstring text;        // a string lParam, copied during AddEvents
  std::size_t bytesBefore;  // audio bytes written when it arrived
};

// What the site answers. Each function is given the number of Write calls
// so far; actions also its own call number (from 1).
struct SiteScript {
  std::function<DWORD(std::size_t writes, std::size_t call)> actions = {};
  std::function<long(std::size_t writes)> rate = {};
  std::function<USHORT(std::size_t writes)> volume = {};
  SPVSKIPTYPE skipType = SPVST_SENTENCE;
  long skipCount = 0;
  ULONGLONG eventInterest = SPFEI_ALL_TTS_EVENTS;
  // Runs inside each Write, after recording it, with the write's index.
  std::function<void(std::size_t index)> onWrite = {};
};

class RecordingSite : public ISpTTSEngineSite {
 public:
  explicit RecordingSite(SiteScript script = {});
  virtual ~RecordingSite() = default;

  // IUnknown: the object lives on the test's stack; counts are kept only
  // to be honest to callers.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // ISpEventSink
  HRESULT STDMETHODCALLTYPE AddEvents(const SPEVENT* events,
                                      ULONG count) override;
  HRESULT STDMETHODCALLTYPE GetEventInterest(ULONGLONG* interest) override;
  // ISpTTSEngineSite
  DWORD STDMETHODCALLTYPE GetActions() override;
  HRESULT STDMETHODCALLTYPE Write(const void* bytes, ULONG count,
                                  ULONG* written) override;
  HRESULT STDMETHODCALLTYPE GetRate(long* rate) override;
  HRESULT STDMETHODCALLTYPE GetVolume(USHORT* volume) override;
  HRESULT STDMETHODCALLTYPE GetSkipInfo(SPVSKIPTYPE* type,
                                        long* count) override;
  HRESULT STDMETHODCALLTYPE CompleteSkip(long skipped) override;

  // From now on GetActions answers SPVES_ABORT: the hang guard's last word.
  void ForceAbort() { forceAbort_ = true; }

  std::vector<int16_t> Samples() const;
  std::size_t ByteCount() const;
  std::vector<ULONG> WriteSizes() const;
  // This site's writes in the order of all sites' writes in the process.
  std::vector<uint64_t> WriteSequence() const;
  std::vector<RecordedEvent> Events() const;
  std::vector<RecordedEvent> EventsOf(SPEVENTENUM id) const;
  std::vector<SiteCall> Calls() const;
  std::vector<long> CompletedSkips() const;
  // Writes made after GetActions first answered with SPVES_ABORT.
  std::size_t WritesAfterAbort() const;
  bool AbortAnswered() const;
  std::size_t ActionCalls() const { return actionCalls_; }
  // The thread Speak runs on: every call of the engine's is expected there.
  void SpeakingOn(DWORD thread);
  // Calls made on another thread than Speak's.
  std::size_t CallsOffThread() const;

 private:
  void Note(SiteCall call);

  SiteScript script_;
  mutable std::mutex mutex_;
  std::vector<uint8_t> audio_;
  std::vector<ULONG> writeSizes_;
  std::vector<uint64_t> writeSequence_;
  std::vector<RecordedEvent> events_;
  std::vector<SiteCall> calls_;
  std::vector<long> completedSkips_;
  std::size_t writesAfterAbort_ = 0;
  bool abortAnswered_ = false;
  DWORD thread_ = 0;
  std::size_t callsOffThread_ = 0;
  std::atomic<std::size_t> actionCalls_{0};
  std::atomic<bool> forceAbort_{false};
  std::atomic<ULONG> references_{1};
};

}  // namespace vesk::test
