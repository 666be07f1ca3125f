#include "module_text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <regex>

namespace vesk::sd {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return Lower(x) == Lower(y); });
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

// The character a reference (the text between '&' and ';') stands for.
std::optional<char32_t> DecodeReference(std::string_view name) {
  if (name == "lt") return U'<';
  if (name == "gt") return U'>';
  if (name == "amp") return U'&';
  if (name == "quot") return U'"';
  if (name == "apos") return U'\'';
  if (name == "nbsp") return U'\u00A0';
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  int base = 10;
  name.remove_prefix(1);
  if (name[0] == 'x' || name[0] == 'X') {
    base = 16;
    name.remove_prefix(1);
  }
  uint32_t value = 0;
  const auto [end, failure] =
      std::from_chars(name.data(), name.data() + name.size(), value, base);
  if (failure != std::errc() || end != name.data() + name.size() ||
      name.empty() || value == 0 || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return std::nullopt;
  }
  return char32_t(value);
}

// Appends text with its character references decoded; a '&' that starts
// no known reference stays as it is.
void AppendDecoded(std::string_view text, std::string& out) {
  constexpr std::size_t kLongestReference = 10;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      const auto end = text.find(';', i + 1);
      if (end != std::string_view::npos && end - i <= kLongestReference) {
        if (auto c = DecodeReference(text.substr(i + 1, end - i - 1))) {
          AppendUtf8(*c, out);
          i = end;
          continue;
        }
      }
    }
    out.push_back(text[i]);
  }
}

// The value of attribute name inside a tag's text, decoded; nullopt when
// the tag has no such attribute with a quoted value.
std::optional<std::string> Attribute(std::string_view tag,
                                     std::string_view name) {
  std::size_t at = 0;
  while ((at = tag.find(name, at)) != std::string_view::npos) {
    const bool startsWord = at > 0 && IsBlank(tag[at - 1]);
    std::size_t i = at + name.size();
    at = i;
    if (!startsWord) continue;
    while (i < tag.size() && IsBlank(tag[i])) ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && IsBlank(tag[i])) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const auto close = tag.find(tag[i], i + 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string value;
    AppendDecoded(tag.substr(i + 1, close - i - 1), value);
    return value;
  }
  return std::nullopt;
}

// The element name of a tag's text ("mark" for `mark name="x"/`).
std::string_view ElementName(std::string_view tag) {
  std::size_t end = 0;
  while (end < tag.size() && !IsBlank(tag[end]) && tag[end] != '/') ++end;
  return tag.substr(0, end);
}

}  // namespace

// ---- Messages ------------------------------------------------------------

std::vector<SpeechPiece> SplitSsml(std::string_view ssml) {
  std::vector<SpeechPiece> pieces(1);
  auto text = [&]() -> std::string& {
    // Text after a mark starts the next piece.
    if (!pieces.back().marks.empty()) pieces.emplace_back();
    return pieces.back().text;
  };
  std::size_t i = 0;
  while (i < ssml.size()) {
    const auto open = ssml.find('<', i);
    const std::string_view plain = ssml.substr(i, open - i);
    if (!plain.empty()) AppendDecoded(plain, text());
    if (open == std::string_view::npos) break;
    i = open;
    if (ssml.substr(open, 4) == "<!--") {
      const auto close = ssml.find("-->", open + 4);
      if (close != std::string_view::npos) {
        i = close + 3;
        continue;
      }
    } else {
      const auto close = ssml.find_first_of("<>", open + 1);
      if (close != std::string_view::npos && ssml[close] == '>') {
        const std::string_view tag = ssml.substr(open + 1, close - open - 1);
        i = close + 1;
        std::optional<std::string> mark;
        if (EqualsNoCase(ElementName(tag), "mark"))
          mark = Attribute(tag, "name");
        if (mark) {
          pieces.back().marks.push_back(std::move(*mark));
        } else {
          // An element boundary separates what it parts, like a blank;
          // blanks are silent.
          text().push_back(' ');
        }
        continue;
      }
    }
    // A '<' that opens no tag is text.
    text().push_back('<');
    ++i;
  }
  return pieces;
}

std::string KeyText(std::string_view key) {
  key = Trim(key);
  // One character (one UTF-8 sequence) is said as it is.
  std::size_t length = 1;
  if (!key.empty()) {
    const auto lead = static_cast<unsigned char>(key[0]);
    length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  }
  std::string out;
  AppendDecoded(key, out);
  if (out.size() <= length) return out;
  for (char& c : out) {
    if (c == '_' || c == '-') c = ' ';
  }
  return out;
}

// ---- Settings ------------------------------------------------------------

bool ApplySetting(std::string_view line, VoiceSettings& settings) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return true;
  const std::string_view key = Trim(line.substr(0, equals));
  const std::string_view value = Trim(line.substr(equals + 1));
  int* number = key == "rate"     ? &settings.rate
                : key == "pitch"  ? &settings.pitch
                : key == "volume" ? &settings.volume
                                  : nullptr;
  if (number != nullptr) {
    int parsed = 0;
    const auto [end, failure] =
        std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (failure != std::errc() || end != value.data() + value.size()) {
      return false;
    }
    *number = std::clamp(parsed, -100, 100);
  } else if (key == "synthesis_voice") {
    settings.synthesisVoice = value == "NULL" ? "" : std::string(value);
  } else if (key == "spelling_mode") {
    settings.spelling = value == "on";
  }
  return true;
}

int32_t EngineRate(int serverValue) {
  return int32_t(std::lround((std::clamp(serverValue, -100, 100) + 100) / 2.0));
}

int32_t EnginePitch(int serverValue) { return EngineRate(serverValue); }

int32_t EngineVolume(int serverValue) {
  return int32_t(std::lround((std::clamp(serverValue, -100, 100) + 100) / 4.0));
}

// ---- Configuration -------------------------------------------------------

ModuleConfig ParseConfig(std::string_view text) {
  ModuleConfig config;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view()
                                         : text.substr(end + 1);
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    std::size_t split = 0;
    while (split < line.size() && !IsBlank(line[split])) ++split;
    const std::string_view name = line.substr(0, split);
    std::string_view value = Trim(line.substr(split));
    if (value.size() >= 2 && value.front() == '"') {
      const auto close = value.find('"', 1);
      value =
          value.substr(1, close == std::string_view::npos ? close : close - 1);
    } else {
      value = value.substr(0, value.find('#'));
      value = Trim(value);
    }
    if (EqualsNoCase(name, "VeskEngine")) {
      config.engine = std::string(value);
    } else if (EqualsNoCase(name, "Debug")) {
      config.debug = value == "1" || EqualsNoCase(value, "yes") ||
                     EqualsNoCase(value, "on") || EqualsNoCase(value, "true");
    } else if (EqualsNoCase(name, "VeskEnglishWords")) {
      config.englishWords =
          !(value == "0" || EqualsNoCase(value, "no") ||
            EqualsNoCase(value, "off") || EqualsNoCase(value, "false"));
    } else if (EqualsNoCase(name, "DebugFile")) {
      config.debugFile = std::string(value);
    }
  }
  return config;
}

// ---- What the server did to numbers ---------------------------------------

namespace {

struct Rewrite {
  std::regex pattern;
  const char* replacement;
};

// In the order they apply. The names are the server's, in Chinese and in
// English; each was measured through speech-dispatcher 0.11 at the four
// punctuation levels.
const std::vector<Rewrite>& ServerNumberRewrites() {
  static const std::vector<Rewrite> rewrites = [] {
    const auto r = [](const char* pattern, const char* replacement) {
      return Rewrite{std::regex(pattern), replacement};
    };
    return std::vector<Rewrite>{
        // "25.5" -> "25 .5" at every level.
        r(R"((\d) \.(?=\d))", "$1."),
        // "1,000" -> "1 逗号,000" at level all.
        r(R"((\d) (?:逗号|comma),(?=\d))", "$1,"),
        // A leading minus, "-3" -> " 负 3" ("minus" in English).
        r(R"((^|[\s>])(?:负|minus) (?=\.?\d))", "$1-"),
        // Other minus signs, at most and all: "5-3" -> "5 减 3".
        r(R"( ?(?:减|dash) (?=\d))", "-"),
        // "+5" -> " 加 5" from level some.
        r(R"( ?(?:加|plus) (?=\d))", "+"),
        // "50%" -> "50 百分号 " from level some.
        r(R"((\d) (?:百分号|percent) ?)", "$1%"),
        // "10:30" -> "10 冒号 30" at most and all.
        r(R"((\d) (?:冒号|colon) (?=\d))", "$1:"),
        // "2024/05/01" -> "2024 斜杠 05 斜杠 01" from level some.
        r(R"((\d) (?:斜杠|slash) (?=\d))", "$1/"),
        // "¥25" -> " 元 25" at most and all.
        r(R"( (?:元|yen) (?=\d))", "¥"),
        // "℃" -> "°C" -> " 度 C" (" degrees C") at every level.
        r(R"((\d) ?(?:度|degrees) C(?![A-Za-z]))", "$1℃"),
        r(R"((\d) ?(?:度|degrees) F(?![A-Za-z]))", "$1℉"),
        // A date whose separators the pass dropped (none, and '-' at some):
        // "2024-05-01" -> "2024 05 01".
        r(R"((^|[^\d.])(\d{4}) (0[1-9]|1[0-2]) (0[1-9]|[12]\d|3[01])(?![\d.%]))",
          "$1$2-$3-$4"),
    };
  }();
  return rewrites;
}

}  // namespace

std::string RestoreServerNumbers(std::string_view text) {
  std::string out(text);
  for (const auto& rewrite : ServerNumberRewrites()) {
    out = std::regex_replace(out, rewrite.pattern, rewrite.replacement);
  }
  return out;
}

// ---- Debug log -----------------------------------------------------------

std::string LoggedText(std::string_view text) {
  if (text.size() > kLoggedTextLimit) {
    return "(" + std::to_string(text.size()) + " bytes)";
  }
  std::string out = "|";
  for (const char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out.push_back(c);
    }
  }
  return out + "|";
}

std::string LogTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now.time_since_epoch())
                          .count() %
                      1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour,
                local.tm_min, local.tm_sec, int(millis));
  return text;
}

// ---- Server audio --------------------------------------------------------

std::string AudioBlock(const int16_t* samples, std::size_t count,
                       int32_t sampleRate) {
  std::string out = "705-bits=16\n705-num_channels=1\n705-sample_rate=" +
                    std::to_string(sampleRate) +
                    "\n705-num_samples=" + std::to_string(count) +
                    "\n705-big_endian=0\n705-AUDIO";
  out.push_back('\0');
  out.reserve(out.size() + count * 2 + count / 8 + 16);
  auto put = [&out](uint8_t byte) {
    if (byte == '\n' || byte == 0x7D) {
      out.push_back(char(0x7D));
      byte ^= 0x20;
    }
    out.push_back(char(byte));
  };
  for (std::size_t i = 0; i < count; ++i) {
    const auto sample = static_cast<uint16_t>(samples[i]);
    put(uint8_t(sample & 0xFF));
    put(uint8_t(sample >> 8));
  }
  out += "\n705 AUDIO\n";
  return out;
}

std::string UnescapeAudio(std::string_view data) {
  std::string out;
  out.reserve(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == char(0x7D) && i + 1 < data.size()) {
      out.push_back(char(data[++i] ^ 0x20));
    } else {
      out.push_back(data[i]);
    }
  }
  return out;
}

}  // namespace vesk::sd
