// What engine_library.cpp asks of the system, answered by
// engine_library_posix.cpp (dlopen) and engine_library_win32.cpp
// (LoadLibraryW). Private to the host kit.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vesk::host::system {

// The library at path, loaded; nullptr, with error set, when it cannot be.
void* OpenLibrary(const std::filesystem::path& path, std::string& error);

// The address of an export of library; nullptr when it has none.
void* FindExport(void* library, const char* name);

void CloseLibrary(void* library);

}  // namespace vesk::host::system

namespace vesk::host {

// The directory of the module (program or library) the host kit is linked
// into; nullopt when the system does not say.
std::optional<std::filesystem::path> OwnModuleDirectory();

}  // namespace vesk::host
