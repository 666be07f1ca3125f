#include "sapi_client/recording_site.h"

#include <cstring>

namespace vesk::test {

namespace {

// One order over every site's writes in the process: two engines taking
// turns show as two unbroken runs.
std::atomic<uint64_t> writeCounter{0};

}  // namespace

RecordingSite::RecordingSite(SiteScript script) : script_(std::move(script)) {}

HRESULT RecordingSite::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == __uuidof(IUnknown) || iid == __uuidof(ISpEventSink) ||
      iid == __uuidof(ISpTTSEngineSite)) {
    *out = static_cast<ISpTTSEngineSite*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG RecordingSite::AddRef() { return ++references_; }

ULONG RecordingSite::Release() { return --references_; }

void RecordingSite::Note(SiteCall call) {
  if (GetCurrentThreadId() != thread_) ++callsOffThread_;
  calls_.push_back(call);
}

HRESULT RecordingSite::AddEvents(const SPEVENT* events, ULONG count) {
  std::lock_guard lock(mutex_);
  Note(SiteCall::kAddEvents);
  if (events == nullptr && count > 0) return E_POINTER;
  for (ULONG i = 0; i < count; ++i) {
    const SPEVENT& e = events[i];
    RecordedEvent event;
    event.id = static_cast<SPEVENTENUM>(e.eEventId);
    event.paramType = static_cast<SPEVENTLPARAMTYPE>(e.elParamType);
    event.audioOffset = e.ullAudioStreamOffset;
    event.wParam = e.wParam;
    event.lParam = e.lParam;
    // The string is the engine's only during this call.
    if (event.paramType == SPET_LPARAM_IS_STRING && e.lParam != 0) {
      event.text = reinterpret_cast<const wchar_t*>(e.lParam);
    }
    event.bytesBefore = audio_.size();
    events_.push_back(std::move(event));
  }
  return S_OK;
}

HRESULT RecordingSite::GetEventInterest(ULONGLONG* interest) {
  std::lock_guard lock(mutex_);
  Note(SiteCall::kGetEventInterest);
  if (interest == nullptr) return E_POINTER;
  *interest = script_.eventInterest;
  return S_OK;
}

DWORD RecordingSite::GetActions() {
  const std::size_t call = ++actionCalls_;
  std::lock_guard lock(mutex_);
  Note(SiteCall::kGetActions);
  DWORD actions = SPVES_CONTINUE;
  if (script_.actions) actions = script_.actions(writeSizes_.size(), call);
  if (forceAbort_) actions |= SPVES_ABORT;
  if (actions & SPVES_ABORT) abortAnswered_ = true;
  return actions;
}

HRESULT RecordingSite::Write(const void* bytes, ULONG count, ULONG* written) {
  std::size_t index;
  {
    std::lock_guard lock(mutex_);
    Note(SiteCall::kWrite);
    if (bytes == nullptr && count > 0) return E_POINTER;
    const auto* data = static_cast<const uint8_t*>(bytes);
    audio_.insert(audio_.end(), data, data + count);
    index = writeSizes_.size();
    writeSizes_.push_back(count);
    writeSequence_.push_back(writeCounter++);
    if (abortAnswered_) ++writesAfterAbort_;
  }
  if (written != nullptr) *written = count;
  if (script_.onWrite) script_.onWrite(index);
  return S_OK;
}

HRESULT RecordingSite::GetRate(long* rate) {
  std::lock_guard lock(mutex_);
  Note(SiteCall::kGetRate);
  if (rate == nullptr) return E_POINTER;
  *rate = script_.rate ? script_.rate(writeSizes_.size()) : 0;
  return S_OK;
}

HRESULT RecordingSite::GetVolume(USHORT* volume) {
  std::lock_guard lock(mutex_);
  Note(SiteCall::kGetVolume);
  if (volume == nullptr) return E_POINTER;
  *volume = script_.volume ? script_.volume(writeSizes_.size()) : 100;
  return S_OK;
}

HRESULT RecordingSite::GetSkipInfo(SPVSKIPTYPE* type, long* count) {
  std::lock_guard lock(mutex_);
  Note(SiteCall::kGetSkipInfo);
  if (type == nullptr || count == nullptr) return E_POINTER;
  *type = script_.skipType;
  *count = script_.skipCount;
  return S_OK;
}

HRESULT RecordingSite::CompleteSkip(long skipped) {
  std::lock_guard lock(mutex_);
  Note(SiteCall::kCompleteSkip);
  completedSkips_.push_back(skipped);
  return S_OK;
}

std::vector<int16_t> RecordingSite::Samples() const {
  std::lock_guard lock(mutex_);
  std::vector<int16_t> samples(audio_.size() / 2);
  std::memcpy(samples.data(), audio_.data(), samples.size() * 2);
  return samples;
}

std::size_t RecordingSite::ByteCount() const {
  std::lock_guard lock(mutex_);
  return audio_.size();
}

std::vector<ULONG> RecordingSite::WriteSizes() const {
  std::lock_guard lock(mutex_);
  return writeSizes_;
}

std::vector<uint64_t> RecordingSite::WriteSequence() const {
  std::lock_guard lock(mutex_);
  return writeSequence_;
}

std::vector<RecordedEvent> RecordingSite::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<RecordedEvent> RecordingSite::EventsOf(SPEVENTENUM id) const {
  std::vector<RecordedEvent> out;
  for (const RecordedEvent& event : Events()) {
    if (event.id == id) out.push_back(event);
  }
  return out;
}

std::vector<SiteCall> RecordingSite::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<long> RecordingSite::CompletedSkips() const {
  std::lock_guard lock(mutex_);
  return completedSkips_;
}

std::size_t RecordingSite::WritesAfterAbort() const {
  std::lock_guard lock(mutex_);
  return writesAfterAbort_;
}

bool RecordingSite::AbortAnswered() const {
  std::lock_guard lock(mutex_);
  return abortAnswered_;
}

void RecordingSite::SpeakingOn(DWORD thread) {
  std::lock_guard lock(mutex_);
  thread_ = thread;
}

std::size_t RecordingSite::CallsOffThread() const {
  std::lock_guard lock(mutex_);
  return callsOffThread_;
}

}  // namespace vesk::test
