#include "say_tool.h"

#include <dlfcn.h>

#include <algorithm>

#include "platform/platform.h"

namespace vesk::say {

namespace {

bool IsChinese(char16_t c) { return c >= 0x4E00 && c <= 0x9FFF; }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

template <typename T>
bool Resolve(void* handle, const char* name, T& out, std::string& error) {
  out = reinterpret_cast<T>(::dlsym(handle, name));
  if (out == nullptr && error.empty()) error = std::string("no export ") + name;
  return out != nullptr;
}

bool HoldsEngine(const std::filesystem::path& directory) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(directory / kEngineFileName, ignored);
}

}  // namespace

// ---- Text ----------------------------------------------------------------

namespace {

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Where the bytes read so far may be cut so that decoding the part before
// the cut says what decoding the whole input would: a position no sequence
// started before it can reach into (a byte that is no continuation byte, or
// one with no lead byte among the three before it), with three bytes after
// it, so that no sequence before it is one the input ends inside. The
// converter treats those differently: the end of input swallows what follows
// the lead. 0 when there is no such place yet.
std::size_t SafeCut(std::string_view bytes) {
  for (std::size_t cut = bytes.size() < 3 ? 0 : bytes.size() - 3; cut > 0;
       --cut) {
    if (!IsContinuationByte(static_cast<unsigned char>(bytes[cut]))) return cut;
    bool reachable = false;
    for (std::size_t back = 1; back <= 3 && back <= cut; ++back) {
      reachable |= static_cast<unsigned char>(bytes[cut - back]) >= 0xC0;
    }
    if (!reachable) return cut;
  }
  return 0;
}

// Three ASCII bytes after the part before the cut stand in for the bytes
// that follow it: like them they stop every sequence the part ends inside,
// and they decode as themselves.
constexpr std::string_view kStandIn = "...";

}  // namespace

void Utf8Decoder::Emit(std::u16string text, std::u16string& out) {
  if (!started_ && !text.empty()) {
    started_ = true;
    if (text.front() == 0xFEFF) text.erase(0, 1);
  }
  out += text;
}

// Decoding is the engine's own: what vesk-say reads is what the engine
// would make of the same bytes in a dictionary.
void Utf8Decoder::Feed(std::string_view bytes, std::u16string& out) {
  pending_.append(bytes);
  const std::size_t cut = SafeCut(pending_);
  if (cut == 0) return;
  std::u16string text =
      platform::Utf8ToUtf16(pending_.substr(0, cut).append(kStandIn));
  text.resize(text.size() - kStandIn.size());
  Emit(text, out);
  pending_.erase(0, cut);
}

void Utf8Decoder::Finish(std::u16string& out) {
  Emit(platform::Utf8ToUtf16(pending_), out);
  pending_.clear();
}

bool IsSafeCutAfter(char16_t c) {
  return !IsChinese(c) && !IsAsciiDigit(c) && !IsAsciiLetter(c) &&
         !(c >= 0xD800 && c <= 0xDBFF);
}

std::size_t NextPieceLength(std::u16string_view text, std::size_t limit,
                            bool final) {
  if (limit == 0) limit = 1;
  if (text.size() <= limit) {
    if (final) return text.size();
    const auto lineEnd = text.rfind(u'\n');
    return lineEnd == std::u16string_view::npos ? 0 : lineEnd + 1;
  }
  const std::u16string_view window = text.substr(0, limit);
  const auto lineEnd = window.rfind(u'\n');
  if (lineEnd != std::u16string_view::npos) return lineEnd + 1;
  for (std::size_t at = window.size(); at > 0; --at) {
    if (IsSafeCutAfter(window[at - 1])) return at;
  }
  // One unbroken run longer than the limit: cut it, but keep a surrogate
  // pair whole.
  std::size_t cut = limit;
  if (cut > 1 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
  return cut;
}

bool HasContent(std::u16string_view piece) {
  for (char16_t c : piece) {
    if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n') return true;
  }
  return false;
}

std::string ToUtf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

std::u16string ToUtf16(std::string_view text) {
  std::u16string out;
  Utf8Decoder decoder;
  decoder.Feed(text, out);
  decoder.Finish(out);
  return out;
}

// ---- Engine --------------------------------------------------------------

EngineLibrary::EngineLibrary(const std::filesystem::path& path) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = ::dlerror();
    error_ = message != nullptr ? message : "cannot load " + path.string();
    return;
  }
  Resolve(handle_, "VeskSynthInitialize", api_.Initialize, error_);
  Resolve(handle_, "VeskSynthUninitialize", api_.Uninitialize, error_);
  Resolve(handle_, "VeskSynthGetInfo", api_.GetInfo, error_);
  Resolve(handle_, "VeskSynthGetVoiceList", api_.GetVoiceList, error_);
  Resolve(handle_, "VeskSynthPrepareVoice", api_.PrepareVoice, error_);
  Resolve(handle_, "VeskSynthGetAudioFormat", api_.GetAudioFormat, error_);
  Resolve(handle_, "VeskSynthSetRate", api_.SetRate, error_);
  Resolve(handle_, "VeskSynthSetPitch", api_.SetPitch, error_);
  Resolve(handle_, "VeskSynthSetVolume", api_.SetVolume, error_);
  Resolve(handle_, "VeskSynthSetPlayCallback", api_.SetPlayCallback, error_);
  Resolve(handle_, "VeskSynthSpeak", api_.Speak, error_);
  Resolve(handle_, "VeskSynthStop", api_.Stop, error_);
  Resolve(handle_, "VeskSynthPause", api_.Pause, error_);
  Resolve(handle_, "VeskSynthResume", api_.Resume, error_);
  if (!error_.empty()) {
    error_ = path.string() + " is not a Vesk engine: " + error_;
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

EngineLibrary::~EngineLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

std::optional<std::filesystem::path> FindEngine(
    const std::string& option,
    const std::vector<std::filesystem::path>& candidates, std::string& error) {
  std::error_code ignored;
  if (!option.empty()) {
    const std::filesystem::path given(option);
    if (std::filesystem::is_directory(given, ignored)) {
      if (HoldsEngine(given)) return given / kEngineFileName;
      error = option + " holds no " + kEngineFileName;
      return std::nullopt;
    }
    if (std::filesystem::is_regular_file(given, ignored)) return given;
    error = option + ": no such engine library";
    return std::nullopt;
  }
  for (const auto& directory : candidates) {
    if (HoldsEngine(directory)) {
      return std::filesystem::weakly_canonical(directory / kEngineFileName,
                                               ignored);
    }
  }
  error = std::string("no engine found (looked for ") + kEngineFileName + " in";
  for (const auto& directory : candidates) error += " " + directory.string();
  error += "); give --engine PATH";
  return std::nullopt;
}

std::vector<std::filesystem::path> DefaultEngineDirectories() {
  std::vector<std::filesystem::path> out;
  std::error_code failure;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (!failure) {
    const auto bin = self.parent_path();
    out.push_back(
        (bin / VESK_SAY_INSTALLED_ENGINE_RELATIVE).lexically_normal());
    out.push_back((bin / VESK_SAY_BUILD_ENGINE_RELATIVE).lexically_normal());
  }
  out.push_back(std::filesystem::path(VESK_SAY_INSTALLED_ENGINE_DIR));
  return out;
}

}  // namespace vesk::say
