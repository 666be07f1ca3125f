// The library's dynamic symbol table holds the fourteen exports and nothing
// else a host could bind to by accident.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "host/host_library.h"

namespace vesk::test {
namespace {

TEST(HostSymbols, OnlyTheFourteenExportsAreDefined) {
  const std::string command =
      "nm -D --defined-only '" + BuiltLibraryPath().string() + "' 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
    output.append(buffer, got);
  }
  ASSERT_EQ(::pclose(pipe), 0) << output;

  std::set<std::string> defined;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (type == "A") continue;  // version nodes, not symbols
    defined.insert(name.substr(0, name.find('@')));
  }
  const std::set<std::string> expected(ExportNames().begin(),
                                       ExportNames().end());
  EXPECT_EQ(defined, expected) << output;
}

}  // namespace
}  // namespace vesk::test
