#include "engine_library.h"

#include <dlfcn.h>

namespace vesk::host {

namespace {

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

// Longest voice name a host reads, with its terminating NUL.
constexpr std::size_t kVoiceNameBuffer = 128;

}  // namespace

EngineLibrary::EngineLibrary(const std::filesystem::path& path) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = ::dlerror();
    error_ = message != nullptr ? message : "cannot load " + path.string();
    return;
  }
#define VESK_HOST_RESOLVE(verb) \
  Resolve(handle_, VESK_EXPORT_NAME(verb), api_.verb, error_);
  VESK_FOR_EACH_EXPORT(VESK_HOST_RESOLVE)
#undef VESK_HOST_RESOLVE
  if (!error_.empty()) {
    error_ = path.string() + " is not a Vesk engine: " + error_;
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

EngineLibrary::~EngineLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

std::vector<std::filesystem::path> EngineDirectories(HostPlace place) {
  std::vector<std::filesystem::path> out;
  std::error_code failure;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (!failure) {
    const auto here = self.parent_path();
    const char* installed = place == HostPlace::kProgram
                                ? VESK_ENGINE_FROM_PROGRAMS
                                : VESK_ENGINE_FROM_SPEECH_DISPATCHER_MODULES;
    out.push_back((here / installed).lexically_normal());
    out.push_back((here / VESK_ENGINE_FROM_BUILT_HOSTS).lexically_normal());
  }
  out.push_back(std::filesystem::path(VESK_INSTALLED_ENGINE_DIR));
  return out;
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
  for (const auto& directory : candidates) {
    error += ' ';
    error += directory.string();
  }
  error += "); give --engine PATH";
  return std::nullopt;
}

const char* LogLevelName(int32_t level) {
  return level >= kLogError     ? "error"
         : level >= kLogWarning ? "warning"
                                : "info";
}

std::vector<std::u16string> VoiceNames(const EngineApi& api) {
  uint32_t count = 0;
  if (!api.GetVoiceList(nullptr, &count) || count == 0) return {};
  std::vector<std::u16string> buffers(count,
                                      std::u16string(kVoiceNameBuffer, u'\0'));
  std::vector<char16_t*> pointers;
  for (auto& buffer : buffers) pointers.push_back(buffer.data());
  if (!api.GetVoiceList(pointers.data(), &count)) return {};
  std::vector<std::u16string> names;
  for (auto& buffer : buffers) names.emplace_back(buffer.c_str());
  return names;
}

}  // namespace vesk::host
