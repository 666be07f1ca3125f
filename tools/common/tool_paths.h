// Where a tool finds the engine directory (library, dictionaries, voices):
// beside its own executable, so that an installed tree or a build tree works
// wherever it has been put.
#pragma once

#include <filesystem>
#include <vector>

namespace vesk::tool {

// Engine directories to try, in order: the installed layout relative to the
// running executable, then the build tree's engine directory.
std::vector<std::filesystem::path> EngineDirectories();

}  // namespace vesk::tool
