// sd_vesk: started by speech-dispatcher with the path of its configuration
// file (vesk.conf) as the only argument.
#include <unistd.h>

#include "module.h"

int main(int argc, char** argv) {
  return vesk::sd::RunModule(argc > 1 ? argv[1] : "", STDIN_FILENO,
                             STDOUT_FILENO);
}
