// A Python host hands over ctypes callbacks: thunks in writable, executable
// memory. Both the thunk itself and a variable holding it must work.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/host_library.h"
#include "support/test_files.h"

namespace vesk::test {
namespace {

struct PythonRun {
  int status = -1;
  std::string output;
};

// The system interpreter when there is one: version-manager shims are slow.
std::string Interpreter() {
  return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3"
                                                 : "python3";
}

PythonRun RunPython(const std::filesystem::path& library,
                    const std::string& mode) {
  const auto script =
      std::filesystem::path(__FILE__).parent_path() / "ctypes_host.py";
  const std::string command = Interpreter() + " '" + script.string() + "' '" +
                              library.string() + "' " + mode + " 2>&1";
  PythonRun run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
    run.output.append(buffer, got);
  }
  run.status = ::pclose(pipe);
  return run;
}

class HostCtypesTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HostCtypesTest, LogLinesReachAPythonHost) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitized library cannot load into a plain interpreter";
#endif
  const std::string probe =
      Interpreter() + " -c 'import ctypes' >/dev/null 2>&1";
  if (std::system(probe.c_str()) != 0) {
    GTEST_SKIP() << "no python3 with ctypes";
  }
  TempDir dir;
  dir.Write("v.vl", BuildMarkerVoice(16000, {1, 2}, 4));
  const auto library = dir.path() / BuiltLibraryPath().filename();
  std::filesystem::copy_file(BuiltLibraryPath(), library);
  const PythonRun run = RunPython(library, GetParam());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(
      run.output.find("2: " + U8(U16("未找到pinyin.txt，使用内置轻声词库"))),
      std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("1: " + U8(U16("加载语音库 v: 2 条目"))),
            std::string::npos)
      << run.output;
}

INSTANTIATE_TEST_SUITE_P(Callback, HostCtypesTest,
                         ::testing::Values("function", "variable"));

}  // namespace
}  // namespace vesk::test
