// Exit codes of the program and the error that carries one up to main().
#pragma once

#include <stdexcept>
#include <string>

namespace knncli {

enum ExitCode : int {
    kExitOk = 0,
    kExitInternal = 1,      // an unexpected failure inside the program
    kExitUsage = 2,         // the command line is wrong
    kExitData = 3,          // a data file cannot be read or does not fit the settings
    kExitSettings = 4,      // the settings document cannot be read or is rejected
    kExitBuild = 5,         // no model could be built from the data
    kExitModelUse = 6,      // scoring or writing the model document failed
    kExitLibrary = 7,       // the component library cannot be loaded
    kExitOutput = 8,        // an output file cannot be written
    kExitInterrupted = 130  // stopped by Ctrl-C (or a termination signal)
};

class CliError : public std::runtime_error {
public:
    CliError(ExitCode code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    ExitCode Code() const { return code_; }

private:
    ExitCode code_;
};

}  // namespace knncli
