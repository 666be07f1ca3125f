#include "worker_fixture.h"

#include <atomic>
#include <chrono>
#include <utility>

#include "voice/voice.h"

namespace vesk::test {

namespace {

// The play callback reaches the recorder of the running test through this.
std::atomic<PlayRecorder*> activeRecorder{nullptr};

int32_t VESK_CALL RecordingCallback(const char16_t* voiceName,
                                    const int16_t* samples, int32_t byteCount,
                                    int32_t userValue) {
  if (PlayRecorder* recorder = activeRecorder.load())
    recorder->Record(voiceName, samples, byteCount, userValue);
  return 0;
}

}  // namespace

void PlayRecorder::Record(const char16_t* voiceName, const int16_t* samples,
                          int32_t byteCount, int32_t userValue) {
  DeliveredChunk chunk;
  chunk.voiceName = voiceName ? voiceName : u"";
  chunk.pointer = samples;
  if (samples != nullptr && byteCount > 0)
    chunk.samples.assign(samples, samples + byteCount / 2);
  chunk.byteCount = byteCount;
  chunk.userValue = userValue;
  std::size_t index;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    index = chunks_.size();
    chunks_.push_back(chunk);
  }
  if (hook) hook(index, chunk);
}

std::vector<DeliveredChunk> PlayRecorder::Chunks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chunks_;
}

std::size_t PlayRecorder::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chunks_.size();
}

AudioSink RecordingSink(PlayRecorder& recorder) {
  return {[](void* target, const char16_t* voiceName, const int16_t* samples,
             int32_t byteCount, int32_t userValue) {
            static_cast<PlayRecorder*>(target)->Record(voiceName, samples,
                                                       byteCount, userValue);
          },
          &recorder};
}

void Gate::Open() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
  }
  condition_.notify_all();
}

bool Gate::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  return condition_.wait_for(lock, std::chrono::minutes(1),
                             [&] { return open_; });
}

void WorkerTest::SetUp() { context.sink = RecordingSink(recorder); }

void WorkerTest::TearDown() { activeRecorder.store(nullptr); }

EngineState& WorkerTest::DeliverThroughEngine() {
  engine_ = std::make_unique<EngineState>();
  activeRecorder.store(&recorder);
  engine_->playCallback.store(&RecordingCallback);
  context.sink = engine_->workerContext.sink;
  return *engine_;
}

void WorkerTest::AddVoiceFile(const std::string& name,
                              const std::vector<uint8_t>& bytes) {
  const auto path = dir.Write(name + ".vl", bytes);
  Voice voice;
  voice.name = U16(name);
  ASSERT_TRUE(voice.Load(U16(path.string()), [](int32_t,
                                                const std::u16string&) {
  })) << name;
  context.voices.Add(std::move(voice));
}

void WorkerTest::AddMarkerVoice(const std::string& name, int32_t sampleRate,
                                const std::vector<int32_t>& units,
                                std::size_t samplesPerUnit) {
  std::map<int32_t, std::vector<int16_t>> markers;
  for (int32_t unit : units)
    markers[unit] = MarkerSamples(unit, samplesPerUnit);
  AddVoice(name, sampleRate, markers);
}

void WorkerTest::AddVoice(
    const std::string& name, int32_t sampleRate,
    const std::map<int32_t, std::vector<int16_t>>& units) {
  AddVoiceFile(name, BuildVoiceFile(sampleRate, Loadable(units)));
}

std::map<int32_t, std::vector<int16_t>> Loadable(
    std::map<int32_t, std::vector<int16_t>> units) {
  if (units.size() == 1 && !units.contains(kFillerUnit))
    units[kFillerUnit] = {0};
  return units;
}

void WorkerTest::LoadCharDictionary(const std::string& utf8) {
  ASSERT_TRUE(
      lexicon.loadCharDictionary(U16(dir.Write("pinyin.txt", utf8).string())));
}

void WorkerTest::LoadPhraseDictionary(const std::string& utf8) {
  ASSERT_TRUE(lexicon.loadPhraseDictionary(
      U16(dir.Write("phrases.txt", utf8).string())));
}

UtteranceRequest WorkerTest::Prepare(std::u16string_view text,
                                     std::u16string_view voiceName,
                                     int32_t userValue) {
  BeginUtterance(context);
  UtteranceRequest request;
  request.voiceName = std::u16string(voiceName);
  request.text = std::u16string(text);
  request.userValue = userValue;
  request.control = std::make_shared<UtteranceControl>();
  return request;
}

void WorkerTest::Speak(std::u16string_view text,
                       std::u16string_view voiceName) {
  SpeakUtterance(context, Prepare(text, voiceName), lexicon);
}

void WorkerTest::Pause() {
  std::lock_guard<std::mutex> lock(context.pauseMutex);
  context.paused.store(true);
}

void WorkerTest::Resume() { WakeFromPause(context); }

void WorkerTest::Stop(UtteranceControl& control) {
  SignalStop(context, &control);
}

std::vector<int16_t> WorkerTest::AllSamples() const {
  std::vector<int16_t> all;
  for (const auto& chunk : recorder.Chunks())
    all.insert(all.end(), chunk.samples.begin(), chunk.samples.end());
  return all;
}

std::vector<int32_t> WorkerTest::PlayedUnits(std::size_t samplesPerUnit) const {
  const std::vector<int16_t> all = AllSamples();
  std::vector<int32_t> units;
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = start;
    while (end < all.size() && all[end] == all[start]) ++end;
    EXPECT_EQ((end - start) % samplesPerUnit, 0u)
        << "a unit of value " << all[start] << " was cut short";
    for (std::size_t k = 0; k < (end - start) / samplesPerUnit; ++k)
      units.push_back(all[start]);
    start = end;
  }
  return units;
}

std::size_t WorkerTest::CompletionCount() const {
  std::size_t count = 0;
  for (const auto& chunk : recorder.Chunks()) count += chunk.IsCompletion();
  return count;
}

std::size_t WorkerTest::SampleCallCount() const {
  return recorder.Count() - CompletionCount();
}

bool WorkerTest::PointsIntoVoice(const std::string& name,
                                 const int16_t* p) const {
  const auto voice = context.voices.Find(U16(name));
  if (voice == nullptr || p == nullptr) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(p);
  return bytes >= voice->data.data() &&
         bytes < voice->data.data() + voice->data.size();
}

}  // namespace vesk::test
