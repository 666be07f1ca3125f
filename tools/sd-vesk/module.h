// sd_vesk: a speech-dispatcher output module that speaks with the Vesk
// engine. The server talks to it through standard input and output; the
// module sends its audio back to the server (705 blocks), never to a sound
// card.
#pragma once

#include <filesystem>

namespace vesk::sd {

// Runs the module's protocol on in (commands) and out (replies and events),
// with messages for the server's log on standard error, until QUIT or the
// end of input. configFile may be empty or missing (then the defaults
// hold). Returns the process exit status.
int RunModule(const std::filesystem::path& configFile, int in, int out);

}  // namespace vesk::sd
