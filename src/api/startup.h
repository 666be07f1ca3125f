// Start-up: the library's own directory, the dictionaries and the voices
// found beside it.
#pragma once

#include <optional>
#include <string>

#include "api/engine_state.h"

namespace vesk {

// Full path of the engine library itself.
std::optional<std::u16string> OwnLibraryPath();

// Loads the dictionaries and every voice of directory into the engine,
// logging each step; makes the first voice current. True when at least one
// voice was loaded, and then the engine is initialised.
bool RunStartup(EngineState& engine, const std::u16string& directory);

}  // namespace vesk
