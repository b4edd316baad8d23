// The knn command-line program; everything but the process set-up lives in the CLI library.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Interrupt.h"

int main(int argc, char** argv) {
    knncli::InstallInterruptHandlers();
    // With these ignored, a write beyond the file-size limit fails with "File too large", and
    // one into a pipe or FIFO that nobody reads any more with "Broken pipe": the run reports
    // it and removes its temporary files, as for any other failed write, instead of ending on
    // the spot.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return knncli::RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
