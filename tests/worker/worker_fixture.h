// A worker context of the test's own (no engine around it), a recorder of
// what it delivers and marker voices, for driving the speech worker on the
// test thread.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/engine_state.h"
#include "lexicon/pinyin_lexicon.h"
#include "support/test_files.h"
#include "worker/speech_worker.h"
#include "worker/worker_context.h"

namespace vesk::test {

struct DeliveredChunk {
  std::u16string voiceName;
  const int16_t* pointer = nullptr;  // as passed; only compared, never read
  std::vector<int16_t> samples;
  int32_t byteCount = 0;
  int32_t userValue = 0;

  bool IsCompletion() const { return pointer == nullptr && byteCount == 0; }
};

// Records every play-callback call; the hook runs on the calling thread after
// the call was recorded and gets its index.
class PlayRecorder {
 public:
  void Record(const char16_t* voiceName, const int16_t* samples,
              int32_t byteCount, int32_t userValue);
  std::vector<DeliveredChunk> Chunks() const;
  std::size_t Count() const;

  std::function<void(std::size_t index, const DeliveredChunk&)> hook;

 private:
  mutable std::mutex mutex_;
  std::vector<DeliveredChunk> chunks_;
};

// A sink that hands every delivery straight to recorder.
AudioSink RecordingSink(PlayRecorder& recorder);

// A one-shot signal between the test thread and the worker.
class Gate {
 public:
  void Open();
  // False when the gate stayed shut for a minute: a hung worker fails the
  // test instead of hanging it.
  [[nodiscard]] bool Wait();

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool open_ = false;
};

// BuildVoiceFile puts the first unit's data right after the table, so the
// loader (which wants data strictly after an entry) refuses a lone unit at
// the highest index. A second, silent unit that no text reaches avoids that.
inline constexpr int32_t kFillerUnit = 15;
std::map<int32_t, std::vector<int16_t>> Loadable(
    std::map<int32_t, std::vector<int16_t>> units);

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads a voice file written into the temporary directory.
  void AddVoiceFile(const std::string& name, const std::vector<uint8_t>& bytes);
  // Every unit holds samplesPerUnit samples of the value of its index.
  void AddMarkerVoice(const std::string& name, int32_t sampleRate,
                      const std::vector<int32_t>& units,
                      std::size_t samplesPerUnit = kSamplesPerUnit);
  void AddVoice(const std::string& name, int32_t sampleRate,
                const std::map<int32_t, std::vector<int16_t>>& units);
  void LoadCharDictionary(const std::string& utf8);
  void LoadPhraseDictionary(const std::string& utf8);

  // A fresh utterance with running set, as Speak prepares it.
  UtteranceRequest Prepare(std::u16string_view text,
                           std::u16string_view voiceName = u"",
                           int32_t userValue = kUserValue);
  // Speaks on the calling thread until the worker ends.
  void Speak(std::u16string_view text, std::u16string_view voiceName = u"");
  // As the exports do it: flags changed and waiters woken under the mutex.
  void Pause();
  void Resume();
  void Stop(UtteranceControl& control);
  // Routes the audio through an engine's play callback, guarded as a host's
  // is, instead of straight to the recorder. Yields that engine.
  EngineState& DeliverThroughEngine();

  // The units a marker voice played, in order: each run of equal samples
  // counts as length / samplesPerUnit units.
  std::vector<int32_t> PlayedUnits(
      std::size_t samplesPerUnit = kSamplesPerUnit) const;
  std::vector<int16_t> AllSamples() const;
  std::size_t CompletionCount() const;
  std::size_t SampleCallCount() const;
  // Whether p lies inside the file bytes of the named voice.
  bool PointsIntoVoice(const std::string& name, const int16_t* p) const;

  static constexpr std::size_t kSamplesPerUnit = 40;
  static constexpr int32_t kUserValue = 4242;

  WorkerContext context;
  PinyinLexicon lexicon;
  PlayRecorder recorder;
  TempDir dir;

 private:
  std::unique_ptr<EngineState> engine_;
};

}  // namespace vesk::test
