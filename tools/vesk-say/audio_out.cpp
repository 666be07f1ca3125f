#include "audio_out.h"

#include <fcntl.h>
#include <pcaudiolib/audio.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "say_tool.h"

namespace vesk::say {

namespace {

// Opens a sound file for 16-bit mono samples. A .wav is opened as RF64 and
// written as plain WAV when it ends below the 4 GiB a WAV header can count.
SNDFILE* OpenSound(const std::filesystem::path& path, int descriptor,
                   int format, int sampleRate, std::string& error) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 1;
  info.format = format;
  SNDFILE* sound = descriptor >= 0
                       ? sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE)
                       : sf_open(path.c_str(), SFM_WRITE, &info);
  if (sound == nullptr) {
    error = "cannot write " + path.string() + ": " + sf_strerror(nullptr);
    return nullptr;
  }
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64) {
    sf_command(sound, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  }
  return sound;
}

bool WriteSound(SNDFILE* sound, const int16_t* samples, std::size_t count) {
  return sf_write_short(sound, samples, sf_count_t(count)) == sf_count_t(count);
}

class FileOut : public AudioOut {
 public:
  FileOut(const std::filesystem::path& path, int sampleRate, int format,
          const FileOutOptions& options)
      : path_(path), rate_(sampleRate), format_(format), options_(options) {}
  ~FileOut() override { Close(); }

  bool StartPart() {
    target_ = options_.splitSeconds > 0 ? SplitPartPath(path_, ++part_) : path_;
    // A device or a pipe named on the command line is written in place.
    std::error_code failure;
    const bool special = std::filesystem::exists(target_, failure) &&
                         !std::filesystem::is_regular_file(target_, failure);
    temporary_ =
        special ? target_ : std::filesystem::path(target_.string() + ".part");
    partSamples_ = 0;
    if (options_.raw) {
      raw_ = std::fopen(temporary_.c_str(), "wb");
      if (raw_ == nullptr) {
        error_ =
            "cannot write " + target_.string() + ": " + std::strerror(errno);
      }
      return raw_ != nullptr;
    }
    sound_ = OpenSound(temporary_, -1, format_, rate_, error_);
    if (sound_ == nullptr) error_ = "cannot write " + target_.string();
    return sound_ != nullptr;
  }

  bool Write(const int16_t* samples, std::size_t count) override {
    if (!open() && !StartPart()) return false;
    partSamples_ += count;
    const bool written = raw_ != nullptr
                             ? std::fwrite(samples, 2, count, raw_) == count
                             : WriteSound(sound_, samples, count);
    if (!written) error_ = "cannot write " + target_.string();
    return written;
  }

  bool AtBreak() override {
    if (options_.splitSeconds <= 0 || !open()) return true;
    if (double(partSamples_) < options_.splitSeconds * rate_) return true;
    return EndPart();
  }

  bool Finish() override {
    if (!open() && written_.empty() && !StartPart()) return false;
    return !open() || EndPart();
  }

  void Discard() override {
    const bool wasOpen = open();
    Close();
    std::error_code ignored;
    if (wasOpen && temporary_ != target_) {
      std::filesystem::remove(temporary_, ignored);
    }
    for (const auto& path : written_) std::filesystem::remove(path, ignored);
    written_.clear();
  }

  std::vector<std::filesystem::path> Written() const override {
    return written_;
  }

 private:
  bool open() const { return sound_ != nullptr || raw_ != nullptr; }

  bool Close() {
    bool closed = true;
    if (sound_ != nullptr) closed = sf_close(sound_) == 0;
    if (raw_ != nullptr) closed = std::fclose(raw_) == 0;
    sound_ = nullptr;
    raw_ = nullptr;
    return closed;
  }

  bool EndPart() {
    if (!Close()) {
      error_ = "cannot write " + target_.string();
      return false;
    }
    std::error_code failure;
    if (temporary_ != target_) {
      std::filesystem::rename(temporary_, target_, failure);
    }
    if (failure) {
      error_ = "cannot write " + target_.string() + ": " + failure.message();
      std::filesystem::remove(temporary_, failure);
      return false;
    }
    written_.push_back(target_);
    return true;
  }

  std::filesystem::path path_;
  int rate_;
  int format_;
  FileOutOptions options_;
  int part_ = 0;
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  SNDFILE* sound_ = nullptr;
  std::FILE* raw_ = nullptr;
  uint64_t partSamples_ = 0;
  std::vector<std::filesystem::path> written_;
};

class StdoutOut : public AudioOut {
 public:
  explicit StdoutOut(SNDFILE* sound) : sound_(sound) {}
  ~StdoutOut() override {
    if (sound_ != nullptr) sf_close(sound_);
  }
  bool Write(const int16_t* samples, std::size_t count) override {
    const bool written = sound_ != nullptr
                             ? WriteSound(sound_, samples, count)
                             : std::fwrite(samples, 2, count, stdout) == count;
    if (!written) error_ = "cannot write to standard output";
    return written;
  }
  bool Finish() override {
    bool done = true;
    if (sound_ != nullptr) done = sf_close(sound_) == 0;
    sound_ = nullptr;
    done = std::fflush(stdout) == 0 && done;
    if (!done) error_ = "cannot write to standard output";
    return done;
  }
  void Discard() override { Finish(); }

 private:
  SNDFILE* sound_;
};

class DeviceOut : public AudioOut {
 public:
  DeviceOut(audio_object* device, int sampleRate)
      : device_(device), slice_(std::size_t(sampleRate / 50)) {}
  ~DeviceOut() override { Close(false); }

  bool Write(const int16_t* samples, std::size_t count) override {
    // In slices of 20 ms, so that a stop is heard at once.
    for (std::size_t at = 0; at < count && !cancelled_.load(); at += slice_) {
      const std::size_t n = std::min(slice_, count - at);
      const int failure = audio_object_write(device_, samples + at, n * 2);
      if (failure != 0) {
        error_ = std::string("cannot play: ") +
                 audio_object_strerror(device_, failure);
        return false;
      }
    }
    return true;
  }
  void Cancel() override { cancelled_.store(true); }
  bool Finish() override { return Close(!cancelled_.load()); }
  void Discard() override { Close(false); }

 private:
  bool Close(bool drain) {
    if (device_ == nullptr) return true;
    if (drain) {
      audio_object_drain(device_);
    } else {
      audio_object_flush(device_);
    }
    audio_object_close(device_);
    audio_object_destroy(device_);
    device_ = nullptr;
    return true;
  }

  audio_object* device_;
  std::size_t slice_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<AudioOut> OpenFileOut(const std::filesystem::path& path,
                                      int sampleRate,
                                      const FileOutOptions& options,
                                      std::string& error) {
  int format = 0;
  if (!options.raw) {
    format = SoundFormatForPath(path, sampleRate, error);
    if (format == 0) return nullptr;
  }
  auto out = std::make_unique<FileOut>(path, sampleRate, format, options);
  if (!out->StartPart()) {
    error = out->error();
    return nullptr;
  }
  return out;
}

std::unique_ptr<AudioOut> OpenStdoutOut(int sampleRate, bool raw,
                                        std::string& error) {
  if (raw) return std::make_unique<StdoutOut>(nullptr);
  struct stat status {};
  const bool seekableFile = ::fstat(STDOUT_FILENO, &status) == 0 &&
                            S_ISREG(status.st_mode) &&
                            ::lseek(STDOUT_FILENO, 0, SEEK_CUR) == 0;
  if (seekableFile) {
    SNDFILE* sound =
        OpenSound("standard output", STDOUT_FILENO,
                  SF_FORMAT_RF64 | SF_FORMAT_PCM_16, sampleRate, error);
    if (sound == nullptr) return nullptr;
    return std::make_unique<StdoutOut>(sound);
  }
  // A pipe cannot be rewound to complete the header: a stream header.
  const std::string header = WavStreamHeader(sampleRate);
  if (std::fwrite(header.data(), 1, header.size(), stdout) != header.size()) {
    error = "cannot write to standard output";
    return nullptr;
  }
  return std::make_unique<StdoutOut>(nullptr);
}

std::unique_ptr<AudioOut> OpenDeviceOut(const std::string& device,
                                        int sampleRate, std::string& error) {
  // ALSA prints its own diagnostics while it looks for a device; the line
  // that tells the user what to do is ours.
  std::fflush(stderr);
  const int savedStderr = ::dup(STDERR_FILENO);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const bool muted = savedStderr >= 0 && null >= 0 &&
                     ::dup2(null, STDERR_FILENO) == STDERR_FILENO;
  audio_object* object = create_audio_device_object(
      device.empty() ? nullptr : device.c_str(), "vesk-say", "Speech");
  const int failure = object == nullptr
                          ? ENODEV
                          : audio_object_open(object, AUDIO_OBJECT_FORMAT_S16LE,
                                              uint32_t(sampleRate), 1);
  if (failure != 0) {
    error =
        "no sound device to play on (" +
        std::string(object != nullptr ? audio_object_strerror(object, failure)
                                      : std::strerror(failure)) +
        "); give -o FILE.wav to write the speech to a file";
    if (object != nullptr) audio_object_destroy(object);
    object = nullptr;
  }
  if (muted) ::dup2(savedStderr, STDERR_FILENO);
  if (savedStderr >= 0) ::close(savedStderr);
  if (null >= 0) ::close(null);
  if (object == nullptr) return nullptr;
  return std::make_unique<DeviceOut>(object, sampleRate);
}

}  // namespace vesk::say
