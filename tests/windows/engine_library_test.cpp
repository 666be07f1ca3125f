// The host kit on Windows (tools/common/engine_library.h): the engine loaded
// by path with LoadLibraryW, and found beside the module the kit is linked
// into, as a host that is itself a DLL finds it.
#include "engine_library.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vesk::test {
namespace {

namespace host = vesk::host;
namespace fs = std::filesystem;

fs::path OwnDirectory() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_GT(length, 0u);
  return fs::path(std::wstring(self, length)).parent_path();
}

TEST(HostKitOnWindows, FindsTheEngineBesideTheModuleTheKitIsLinkedInto) {
  // The kit is linked into this program, so its module is the program.
  const std::vector<fs::path> here{OwnDirectory()};
  EXPECT_EQ(host::EngineDirectories(host::HostPlace::kBesideModule), here);
  EXPECT_EQ(host::EngineDirectories(host::HostPlace::kProgram), here);
}

TEST(HostKitOnWindows, LoadsTheEngineByPathAndResolvesEveryExport) {
  const fs::path engine(VESK_LIBRARY_PATH);
  EXPECT_EQ(engine.filename(), fs::path(host::kEngineFileName));
  std::string error;
  const auto found = host::FindEngine("", {engine.parent_path()}, error);
  ASSERT_TRUE(found.has_value()) << error;
  host::EngineLibrary library(*found);
  ASSERT_TRUE(library.ok()) << library.error();
#define VESK_EXPECT_RESOLVED(verb) \
  EXPECT_NE(library.api().verb, nullptr) << #verb;
  VESK_FOR_EACH_EXPORT(VESK_EXPECT_RESOLVED)
#undef VESK_EXPECT_RESOLVED
}

TEST(HostKitOnWindows, SaysWhyALibraryIsNoEngine) {
  host::EngineLibrary foreign(fs::path(L"kernel32.dll"));
  EXPECT_FALSE(foreign.ok());
  EXPECT_NE(foreign.error().find("is not a Vesk engine: no export VeskSynth"),
            std::string::npos)
      << foreign.error();
  host::EngineLibrary missing(OwnDirectory() / L"no-such" /
                              host::kEngineFileName);
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error().find("cannot load"), std::string::npos)
      << missing.error();
}

}  // namespace
}  // namespace vesk::test
