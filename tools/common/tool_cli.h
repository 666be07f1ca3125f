// The command-line conventions every tool keeps: --version, and the exit
// codes a shell user expects whatever the option parser would return.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "vesk_version.h"

namespace vesk::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work could not be done
inline constexpr int kExitUsage = 2;    // the command line is wrong
// Stopped by signal n: the shell's 128 + n.
inline constexpr int kExitSignalBase = 128;

inline void AddVersionFlag(CLI::App& app, const std::string& program) {
  app.set_version_flag("--version", program + " " VESK_VERSION);
}

// Parses the command line. nullopt when the tool should go on; otherwise
// the exit code, after the parser has printed help, the version or the
// error (CLI11's own codes become kExitUsage).
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc,
                                           char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  return std::nullopt;
}

}  // namespace vesk::tool
