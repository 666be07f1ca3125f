#include "say_tool.h"

#include <dlfcn.h>

#include "frontend/text_runs.h"
#include "platform/platform.h"

namespace vesk::say {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

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

void Utf8Decoder::Emit(char32_t c, std::u16string& out) {
  if (!started_) {
    started_ = true;
    if (c == 0xFEFF) return;
  }
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(char16_t(0xD800 + (c >> 10)));
    out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(char16_t(c));
  }
}

void Utf8Decoder::Feed(std::string_view bytes, std::u16string& out) {
  for (unsigned char byte : bytes) {
    if (needed_ > 0) {
      if ((byte & 0xC0) == 0x80) {
        code_ = (code_ << 6) | (byte & 0x3F);
        if (++seen_ == needed_) {
          needed_ = 0;
          const bool valid = code_ >= minimum_ && code_ <= 0x10FFFF &&
                             (code_ < 0xD800 || code_ > 0xDFFF);
          Emit(valid ? code_ : kReplacement, out);
        }
        continue;
      }
      // The sequence broke off; the byte starts afresh.
      needed_ = 0;
      Emit(kReplacement, out);
    }
    if (byte < 0x80) {
      Emit(byte, out);
    } else if ((byte & 0xE0) == 0xC0) {
      code_ = byte & 0x1F, needed_ = 1, minimum_ = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
      code_ = byte & 0x0F, needed_ = 2, minimum_ = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
      code_ = byte & 0x07, needed_ = 3, minimum_ = 0x10000;
    } else {
      Emit(kReplacement, out);
      continue;
    }
    seen_ = 0;
  }
}

void Utf8Decoder::Finish(std::u16string& out) {
  if (needed_ > 0) {
    needed_ = 0;
    Emit(kReplacement, out);
  }
}

bool IsSafeCutAfter(char16_t c) {
  return !Continues(ClassifyCharacter(c)) && !(c >= 0xD800 && c <= 0xDBFF);
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
#define VESK_SAY_RESOLVE(verb) \
  Resolve(handle_, VESK_EXPORT_NAME(verb), api_.verb, error_);
  VESK_FOR_EACH_EXPORT(VESK_SAY_RESOLVE)
#undef VESK_SAY_RESOLVE
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
