// Start-up: the library's own directory, the dictionaries and the voices
// found beside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "api/engine_state.h"

namespace vesk {

// A file name without an alternate-data-stream suffix (cut at its first ':').
std::u16string_view WithoutStreamSuffix(std::u16string_view fileName);

// The part from the last '.' on; none for ".", ".." and a name whose only
// '.' is its first character.
std::u16string_view FileExtension(std::u16string_view fileName);

// The file name (without stream suffix) without its extension.
std::u16string_view FileStem(std::u16string_view fileName);

// The directory holding path: the last element and the separators before it
// removed, the root kept.
std::u16string ParentDirectory(std::u16string_view path);

// Full path of the engine library itself.
std::optional<std::u16string> OwnLibraryPath();

// Loads the dictionaries and every voice of directory into the engine,
// logging each step; makes the first voice current. True when at least one
// voice was loaded, and then the engine is initialised.
bool RunStartup(EngineState& engine, const std::u16string& directory);

}  // namespace vesk
