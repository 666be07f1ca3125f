#include "engine_library.h"

#include "engine_library_system.h"
#include "platform/platform.h"

namespace vesk::host {

namespace {

template <typename T>
bool Resolve(void* handle, const char* name, T& out, std::string& error) {
  out = reinterpret_cast<T>(system::FindExport(handle, name));
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
  handle_ = system::OpenLibrary(path, error_);
  if (handle_ == nullptr) return;
#define VESK_HOST_RESOLVE(verb) \
  Resolve(handle_, VESK_EXPORT_NAME(verb), api_.verb, error_);
  VESK_FOR_EACH_EXPORT(VESK_HOST_RESOLVE)
#undef VESK_HOST_RESOLVE
  if (!error_.empty()) {
    error_ = path.string() + " is not a Vesk engine: " + error_;
    system::CloseLibrary(handle_);
    handle_ = nullptr;
  }
}

EngineLibrary::~EngineLibrary() {
  if (handle_ != nullptr) system::CloseLibrary(handle_);
}

std::optional<std::filesystem::path> OwnModuleDirectory() {
  // Any address inside the kit names the module it is linked into.
  static const char kInsideTheKit = 0;
  const std::optional<std::u16string> file =
      platform::ModulePathOf(&kInsideTheKit);
  if (!file) return std::nullopt;
  return platform::NativePath(*file).parent_path();
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
