// What the SAPI engine must deliver, worked out without it: the installed
// VeskSynth.dll loaded as a host loads it (a copy beside a copy of its data,
// so that it is an engine of its own, not the one the SAPI engine holds),
// given each sentence piece as the hosts' text preparation makes it, at the
// settings SAPI's values map to.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_library.h"
#include "support/test_files.h"
#include "tts_engine.h"

namespace vesk::test {

// The engine's rate, pitch and volume, 0..100.
struct EngineSettings {
  int32_t rate = 50;
  int32_t pitch = 50;
  int32_t volume = 50;
  friend bool operator==(const EngineSettings&,
                         const EngineSettings&) = default;
};

// What the SAPI engine sets for a piece, from the site's rate and volume
// and the fragment's state: rate 50 + 5 x (rate + RateAdj), pitch
// 50 + 5 x MiddleAdj, each clamped to 0..100; volume
// round(volume x State.Volume / 100 / 2), so SAPI's 100 x 100 is the
// engine's normal 50.
EngineSettings SettingsFor(long siteRate, USHORT siteVolume,
                           const SPVSTATE& state);

// A sentence piece of a fragment's text, in UTF-16 code units.
struct Piece {
  std::size_t offset = 0;
  std::size_t length = 0;
  friend bool operator==(const Piece&, const Piece&) = default;
};

// Where the SAPI engine cuts a fragment: after 。！？；!? , after a line
// break and after '.' followed by white space.
std::vector<Piece> SentencePieces(std::wstring_view text);

// The text the engine is given for a piece: vesk::textprep::PrepareText
// where the preparation is linked into this program; otherwise only texts
// whose preparation is known (nullopt for any other).
std::optional<std::u16string> PreparedForEngine(std::u16string_view text);

class ReferenceEngine {
 public:
  // Copies VeskSynth.dll, pinyin.txt, phrases.txt and every *.vl of
  // installed into a folder of its own, loads and initialises it there.
  explicit ReferenceEngine(const std::filesystem::path& installed);
  ~ReferenceEngine();

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // The audio of one utterance of text (as given: not prepared).
  std::vector<int16_t> Speak(const std::u16string& voice,
                             const std::u16string& text,
                             const EngineSettings& settings);
  int32_t SampleRate(const std::u16string& voice);

 private:
  TempDir folder_;
  std::unique_ptr<HostLibrary> library_;
  std::string error_;
};

// The audio of one text fragment: its pieces, each prepared and spoken at
// settings, one after another. Fails the calling test and returns nullopt
// when a piece's preparation is not known.
std::optional<std::vector<int16_t>> ExpectedFragmentAudio(
    ReferenceEngine& engine, const std::u16string& voice,
    std::wstring_view text, const EngineSettings& settings);

}  // namespace vesk::test
