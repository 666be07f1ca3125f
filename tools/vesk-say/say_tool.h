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
#include "vesksynth_exports.h"

namespace vesk::say {

// ---- Text ----------------------------------------------------------------

// How the bytes of the input are read. UTF-8 (with or without a byte-order
// mark) and UTF-16 with a byte-order mark are recognised; anything else is
// named with --encoding or detected.
struct InputEncoding {
  std::string name;  // "UTF-8", or an iconv name
  std::string note;  // what was assumed and why, for stderr; empty: plain
  bool ok = true;
  std::string error;  // when !ok: one line for the user
};

// Chooses the encoding from the first bytes of the input (as many as the
// first read gave) and the --encoding option (empty: not given).
InputEncoding ChooseEncoding(std::string_view head, const std::string& option);

// Whether bytes are valid UTF-8, an unfinished sequence at their end
// allowed; else the offset of the first bad byte.
std::optional<std::size_t> FirstInvalidUtf8(std::string_view bytes);

// Decodes the input in pieces of any size into UTF-16, with the engine's own
// UTF-8 conversion or with iconv. A byte-order mark at the start is dropped;
// a NUL becomes a line break, so nothing after it is lost.
class InputDecoder {
 public:
  InputDecoder() = default;
  ~InputDecoder();
  InputDecoder(const InputDecoder&) = delete;
  InputDecoder& operator=(const InputDecoder&) = delete;

  // False (with error) when iconv does not know the encoding.
  bool Open(const std::string& encoding, std::string& error);
  void Feed(std::string_view bytes, std::u16string& out);
  // Ends the input: an unfinished sequence becomes U+FFFD.
  void Finish(std::u16string& out);
  // Offset of the first byte that could not be decoded, if any.
  std::optional<uint64_t> firstBadByte() const { return firstBad_; }

 private:
  void Decode(std::string_view bytes, bool final, std::u16string& out);
  void Append(std::u16string_view text, std::u16string& out);
  bool utf8_ = true;
  void* iconv_ = nullptr;
  std::string held_;       // bytes of an unfinished sequence
  uint64_t consumed_ = 0;  // bytes decoded before held_
  bool started_ = false;
  std::optional<uint64_t> firstBad_;
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
#define VESK_SAY_FIELD(verb) decltype(&VeskSynth##verb) verb = nullptr;
  VESK_FOR_EACH_EXPORT(VESK_SAY_FIELD)
#undef VESK_SAY_FIELD
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

// UTF-8 <-> UTF-16 as the engine converts them.
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);

// ---- Output --------------------------------------------------------------

// The libsndfile format for an output file, chosen by its extension (.wav,
// .flac, .ogg, .opus, .mp3; any case), or 0 when there is none or the
// installed libsndfile cannot write it. A .wav starts as RF64 and is written
// as a plain WAV when it ends up small enough for one.
int SoundFormatForPath(const std::filesystem::path& path, int sampleRate,
                       std::string& error);

// The name of part number (from 1) of a split output: book.opus ->
// book-001.opus.
std::filesystem::path SplitPartPath(const std::filesystem::path& path,
                                    int number);

// The 44-byte header of a WAV stream of unknown length (sizes at their
// maximum, as streaming readers expect), for 16-bit mono PCM.
std::string WavStreamHeader(int sampleRate);

}  // namespace vesk::say
