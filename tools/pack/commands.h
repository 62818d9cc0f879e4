#pragma once
// The commands of daltoven-pack. Each takes its arguments after the command word and returns
// the exit code; a bad command line raises EUsageError, bad input raises Exception.

#include "platform/exceptions.h"

#include <iosfwd>
#include <string>
#include <vector>

enum TExitCode { ExitSuccess = 0, ExitInvalid = 1, ExitUsage = 2 };

class EUsageError : public Exception {
public:
    using Exception::Exception;
};

using TArguments = std::vector<std::string>;

int BuildCommand(const TArguments& args, std::ostream& out, std::ostream& err);
int StampCommand(const TArguments& args, std::ostream& out, std::ostream& err);
int ShowCommand(const TArguments& args, std::ostream& out, std::ostream& err);
int ExtractCommand(const TArguments& args, std::ostream& out, std::ostream& err);
