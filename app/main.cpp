// The knn command-line program; everything but the process set-up lives in the CLI library.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Interrupt.h"

int main(int argc, char** argv) {
    knncli::InstallInterruptHandlers();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return knncli::RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
