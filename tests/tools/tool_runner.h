// Runs a built tool executable and captures what it says.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vesk::test {

struct ToolRun {
  int exitCode = -1;  // -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

// Runs program with args (no shell parsing), standard input from the file
// input (or /dev/null when empty), output captured through files in
// scratch.
ToolRun RunTool(const std::string& program,
                const std::vector<std::string>& args,
                const std::filesystem::path& scratch,
                const std::filesystem::path& input = {});

std::string ReadText(const std::filesystem::path& path);

}  // namespace vesk::test
