// The command line of the knn program: subcommands, options, help and exit codes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace knncli {

// Runs the program with `args` (without the program name). Output goes to `out`, messages
// and progress to `err`; `errIsTerminal` selects the live progress line. Returns the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool errIsTerminal);

// Where `knn demo` looks for the bundled examples, in order.
std::vector<std::string> ExampleLocations();

}  // namespace knncli
