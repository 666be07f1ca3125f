#include "tool_paths.h"

namespace vesk::tool {

std::vector<std::filesystem::path> EngineDirectories() {
  std::vector<std::filesystem::path> out;
  std::error_code failure;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (failure) return out;
  const auto bin = self.parent_path();
  out.push_back((bin / VESK_INSTALLED_ENGINE_RELATIVE).lexically_normal());
  out.push_back((bin / VESK_BUILD_ENGINE_RELATIVE).lexically_normal());
  return out;
}

}  // namespace vesk::tool
