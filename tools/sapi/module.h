// This DLL as a COM server: its own file, and the count of live objects and
// locks that decides whether COM may unload it.
#pragma once

#include <filesystem>

namespace vesk::sapi {

// The full path of this DLL, which COM loads it by.
std::filesystem::path ModulePath();

// Every voice object adds itself while it lives.
void ObjectCreated();
void ObjectDestroyed();

}  // namespace vesk::sapi
