// vesk-say's logic: loading the engine as a host does, feeding it text in
// bounded pieces, finding the engine directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vesksynth.h"

namespace vesk::say {

// ---- Text ----------------------------------------------------------------

// UTF-8 to UTF-16 in pieces of any size, exactly as the engine decodes its
// dictionaries: a sequence cut between two pieces is completed by the next,
// invalid bytes become U+FFFD as they do there; a leading byte-order mark is
// dropped.
class Utf8Decoder {
 public:
  void Feed(std::string_view bytes, std::u16string& out);
  // Ends the input: an unfinished sequence becomes U+FFFD.
  void Finish(std::u16string& out);

 private:
  void Emit(std::u16string text, std::u16string& out);
  std::string pending_;  // the start of a sequence cut at a piece's end
  bool started_ = false;
};

// Where text may be cut without changing what the engine says: after a
// character that ends every run the engine reads as one piece (anything but
// a Chinese character, an ASCII digit or an ASCII letter).
bool IsSafeCutAfter(char16_t c);

// Length of the next piece of text to speak, at most limit code units:
// through the last line break within the limit, else the last safe cut,
// else the limit itself (never inside a surrogate pair). The whole text when
// it is not longer than limit and final is true; 0 when more text is needed
// before a cut can be chosen (not final and no line break yet).
std::size_t NextPieceLength(std::u16string_view text, std::size_t limit,
                            bool final);

// True when the piece holds something besides blanks and line breaks.
bool HasContent(std::u16string_view piece);

// ---- Engine --------------------------------------------------------------

// The fourteen exports of an engine library opened with dlopen.
struct EngineApi {
  VeskBool (*Initialize)(LogCallback) = nullptr;
  VeskBool (*Uninitialize)() = nullptr;
  VeskBool (*GetInfo)(EngineInfo*) = nullptr;
  VeskBool (*GetVoiceList)(char16_t**, uint32_t*) = nullptr;
  VeskBool (*PrepareVoice)(const char16_t*) = nullptr;
  VeskBool (*GetAudioFormat)(AudioFormat*) = nullptr;
  VeskBool (*SetRate)(intptr_t, int32_t) = nullptr;
  VeskBool (*SetPitch)(intptr_t, int32_t) = nullptr;
  VeskBool (*SetVolume)(intptr_t, int32_t) = nullptr;
  PlayCallback (*SetPlayCallback)(PlayCallback) = nullptr;
  VeskBool (*Speak)(const char16_t*, const char16_t*, int32_t) = nullptr;
  VeskBool (*Stop)() = nullptr;
  VeskBool (*Pause)() = nullptr;
  VeskBool (*Resume)() = nullptr;
};

class EngineLibrary {
 public:
  // Opens the library and resolves every export; see ok() and error().
  explicit EngineLibrary(const std::filesystem::path& path);
  ~EngineLibrary();
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  bool ok() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  const EngineApi& api() const { return api_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
  EngineApi api_;
};

inline constexpr const char* kEngineFileName = "libvesksynth.so";

// The engine library to load: --engine (a library file, or a directory that
// holds one) when given, else the first engine directory that holds a
// library among the candidates. nullopt with error when there is none.
std::optional<std::filesystem::path> FindEngine(
    const std::string& option,
    const std::vector<std::filesystem::path>& candidates, std::string& error);

// Engine directories to try by default, relative to the running executable:
// the installed layout, then the build tree, then the install prefix.
std::vector<std::filesystem::path> DefaultEngineDirectories();

// UTF-16 to UTF-8 as the engine converts it: lone surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);

}  // namespace vesk::say
