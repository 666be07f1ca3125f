// vesk-say's own logic: reading its input in any encoding, and the sound
// files it writes. The engine, voices and text pieces are the host kit's
// (tools/common/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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
