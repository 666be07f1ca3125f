// Where vesk-say's speech goes: a sound file (by extension, through
// libsndfile, optionally split into parts), standard output (a WAV stream or
// raw PCM), or the sound device (through pcaudiolib).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesk::say {

class AudioOut {
 public:
  virtual ~AudioOut() = default;
  // Takes 16-bit mono samples; false (see error()) when they cannot be
  // written. Called on the engine's worker thread.
  virtual bool Write(const int16_t* samples, std::size_t count) = 0;
  // Between two pieces of text, when no Write runs: where a split output
  // starts its next part.
  virtual bool AtBreak() { return true; }
  // Drops what has not been heard yet, at once; Write returns soon after.
  virtual void Cancel() {}
  // Completes the output and keeps it. False when it cannot be completed.
  virtual bool Finish() = 0;
  // Removes whatever was written, after a failure.
  virtual void Discard() = 0;
  // The files written, for the closing message.
  virtual std::vector<std::filesystem::path> Written() const { return {}; }
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

struct FileOutOptions {
  bool raw = false;         // raw PCM whatever the extension
  double splitSeconds = 0;  // 0: one file
};

// A file, written under a temporary name beside it and renamed into place
// when complete. nullptr with error when it cannot be started.
std::unique_ptr<AudioOut> OpenFileOut(const std::filesystem::path& path,
                                      int sampleRate,
                                      const FileOutOptions& options,
                                      std::string& error);

// Standard output: a WAV file when it is a file, a WAV stream when it is a
// pipe, or raw PCM.
std::unique_ptr<AudioOut> OpenStdoutOut(int sampleRate, bool raw,
                                        std::string& error);

// The sound device (device empty: the system's default), played as the
// samples arrive.
std::unique_ptr<AudioOut> OpenDeviceOut(const std::string& device,
                                        int sampleRate, std::string& error);

}  // namespace vesk::say
