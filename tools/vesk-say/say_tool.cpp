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

// How many bytes at the end of bytes begin a sequence the next piece may
// complete: from the last lead byte on, when fewer bytes follow it than it
// announces. Holding those back is always safe, as no decoder ever reads a
// lead byte as part of the sequence before it.
std::size_t UnfinishedTail(std::string_view bytes) {
  const std::size_t reach = std::min<std::size_t>(bytes.size(), 3);
  for (std::size_t back = 1; back <= reach; ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    return byte >= 0xC0 && back < length ? back : 0;
  }
  return 0;
}

}  // namespace

void Utf8Decoder::Decode(std::string_view bytes, std::u16string& out) {
  std::u16string text = platform::Utf8ToUtf16(bytes);
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
  const std::size_t keep = UnfinishedTail(pending_);
  Decode(std::string_view(pending_).substr(0, pending_.size() - keep), out);
  pending_.erase(0, pending_.size() - keep);
}

void Utf8Decoder::Finish(std::u16string& out) {
  Decode(pending_, out);
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
