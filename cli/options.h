#pragma once
// The command line of daltoven-flash-cli.

#include "platform/exceptions.h"

#include <optional>
#include <string>
#include <vector>

// A command line that cannot be run: exit code 2.
class EUsageError : public Exception {
public:
    using Exception::Exception;
};

// What to do after the user method has failed.
enum class TBootChoice {
    Ask,   // ask on the terminal; without one, as NoBoot
    Boot,  // go on by the boot method
    NoBoot // end the run
};

enum class TCliAction { Program, ListPorts, Help };

struct TCliOptions {
    TCliAction Action = TCliAction::Program;
    std::string Port;
    // A package file or a release program; none: the program's own package.
    std::optional<std::string> Release;
    TBootChoice Boot = TBootChoice::Ask;
};

// The arguments after the program name. Raises EUsageError with a message that names the
// fault.
TCliOptions ParseOptions(const std::vector<std::string>& args);

extern const char* const CliHelpText;
