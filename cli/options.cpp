#include "cli/options.h"

const char* const CliHelpText =
    R"(Usage: daltoven-flash-cli --port PORT [--release FILE] [--boot | --no-boot]
       daltoven-flash-cli --list-ports

Programs the release into the unit on the serial port PORT: contact by the user method first
and, when that fails, by the boot method (reset the unit when asked); then erase, program,
verify and start the new firmware.

  --port PORT      the serial port, such as /dev/ttyUSB0
  --release FILE   program the package in FILE (a package file or a release program)
                   instead of the one stored in this program
  --boot           after a failed user method, go on by the boot method without asking
  --no-boot        after a failed user method, stop
                   (neither: ask when standard input is a terminal, otherwise stop)
  --list-ports     print the serial ports present, one a line
  --help           show this text

Status and progress go to standard error, the outcome to standard output. Ctrl-C cancels the
contact, aborts a running transfer, or ends the run at its next step.
Exit code: 0 programmed, 1 failed, 2 wrong command line, 130 interrupted by Ctrl-C.
)";

namespace {

// "--name value" or "--name=value"; empty when the argument is another option.
std::optional<std::string> TakeValue(const std::string& name, const std::vector<std::string>& args,
                                     std::size_t& i) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size())
            throw EUsageError(name + " needs a value");
        return args[++i];
    }
    if (arg.rfind(name + "=", 0) == 0)
        return arg.substr(name.size() + 1);
    return std::nullopt;
}

void SetBootChoice(TCliOptions& options, TBootChoice choice) {
    if (options.Boot != TBootChoice::Ask && options.Boot != choice)
        throw EUsageError("--boot and --no-boot exclude each other");
    options.Boot = choice;
}

void CheckComplete(const TCliOptions& options, bool anyProgramOption) {
    if (options.Action == TCliAction::ListPorts) {
        if (anyProgramOption)
            throw EUsageError("--list-ports takes no other options");
        return;
    }
    if (options.Port.empty())
        throw EUsageError("--port is required");
    if (options.Release && options.Release->empty())
        throw EUsageError("--release needs a file name");
}

} // namespace

TCliOptions ParseOptions(const std::vector<std::string>& args) {
    TCliOptions options;
    // Help wins over everything else on the line, so that it always works.
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") {
            options.Action = TCliAction::Help;
            return options;
        }
    bool anyProgramOption = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--list-ports") {
            options.Action = TCliAction::ListPorts;
            continue;
        }
        anyProgramOption = true;
        if (const auto port = TakeValue("--port", args, i))
            options.Port = *port;
        else if (const auto release = TakeValue("--release", args, i))
            options.Release = *release;
        else if (arg == "--boot")
            SetBootChoice(options, TBootChoice::Boot);
        else if (arg == "--no-boot")
            SetBootChoice(options, TBootChoice::NoBoot);
        else
            throw EUsageError("unknown argument \"" + arg + "\"");
    }
    CheckComplete(options, anyProgramOption);
    return options;
}
