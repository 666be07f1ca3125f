// sd_vesk's pure pieces: the server's SSML cut into speakable pieces at its
// index marks, the settings the server sends and what the engine makes of
// them, the module configuration file, and the server-audio block format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::sd {

// ---- Messages ------------------------------------------------------------

// Text up to an index mark, and the marks reached when it has been spoken
// (several when marks follow one another). The last piece may have none.
struct SpeechPiece {
  std::string text;  // UTF-8, tags dropped, entities decoded
  std::vector<std::string> marks;
};

// Cuts SSML at every <mark name="…"/>, drops every other tag and comment and
// decodes character references. What is not well formed (a '<' that opens
// no tag, an unknown or unterminated '&…') is read as plain text. Never
// empty: text without marks gives one piece.
std::vector<SpeechPiece> SplitSsml(std::string_view ssml);

// What a CHAR or KEY message says: a single character as it is; a key name
// (space, shift_a, F1, …) with its separators blanked, so the engine spells
// its letters and reads its digits.
std::string KeyText(std::string_view key);

// Undoes what speech-dispatcher's symbol pass did to numbers, so that the
// text preparation reads them as it reads the client's own text. The pass
// (locale/zh_CN/symbols.dic, or the English names for a client that asked
// for plain "zh") puts a blank before a decimal point ("25 .5"), names a
// leading minus ("负 3"), and, by the punctuation level, names or drops
// signs ("50 百分号 ", "10 冒号 30", "2024 减 05", or "2024 05 01"); the
// degree sign of "℃" becomes " 度 C". Only these shapes, around digits, are
// rewritten; a sign the pass dropped outright (a '-' after a Chinese
// character, a '%' at level none) is not guessed back, except the two
// separators of a date.
std::string RestoreServerNumbers(std::string_view text);

// ---- Settings ------------------------------------------------------------

// The server's voice settings, as far as the engine has a use for them.
struct VoiceSettings {
  int rate = 0;   // -100..100
  int pitch = 0;  // -100..100
  // -100..100; the server's default is its loudest.
  int volume = 100;
  std::string synthesisVoice;  // empty: the engine's current voice
  bool spelling = false;       // spelling_mode: spell everything
};

// Applies one "key=value" line of a SET block. False (settings unchanged)
// when a known key has a value that is not a number; unknown keys and the
// settings the server handles itself (punctuation, capitals, spelling) are
// accepted and ignored.
bool ApplySetting(std::string_view line, VoiceSettings& settings);

// -100..100 to the engine's 0..100, 0 becoming the engine's default 50.
int32_t EngineRate(int serverValue);
int32_t EnginePitch(int serverValue);
// -100..100 to 0..50: the server's default 100 is the engine's gain 1.0, so
// its loudest setting never clips.
int32_t EngineVolume(int serverValue);

// ---- Configuration -------------------------------------------------------

struct ModuleConfig {
  std::string engine;  // VeskEngine; empty: the installed engine
  bool debug = false;  // Debug
  // VeskEnglishWords: English words spoken by an English voice (1, the
  // default) or spelled by the engine (0).
  bool englishWords = true;
  // DebugFile; empty: the module's standard error, which the server sends
  // to its log directory (vesk.log).
  std::string debugFile;
};

// Reads the module's configuration file (dotconf syntax: `Name value`, the
// value optionally quoted, '#' comments). Unknown options are ignored.
ModuleConfig ParseConfig(std::string_view text);

// ---- Debug log -----------------------------------------------------------

// Texts longer than this are logged by their length only.
inline constexpr std::size_t kLoggedTextLimit = 300;

// A message text as the debug log shows it: on one line between bars, line
// breaks as "\\n"; past kLoggedTextLimit bytes only "(N bytes)".
std::string LoggedText(std::string_view text);

// The time of day to the millisecond, "HH:MM:SS.mmm", that starts every
// debug line, so that the module's log lines up with the server's.
std::string LogTimestamp();

// ---- Server audio --------------------------------------------------------

// One 705 block: the format lines, then the little-endian samples escaped
// so that the data holds no line break (0x0A and 0x7D become 0x7D followed
// by the byte XOR 0x20).
std::string AudioBlock(const int16_t* samples, std::size_t count,
                       int32_t sampleRate);

// The inverse of the escaping in AudioBlock, for tests and benchmarks.
std::string UnescapeAudio(std::string_view data);

}  // namespace vesk::sd
