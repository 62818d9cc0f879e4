// daltoven-flash-cli: the programming run from a terminal or a script.
#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/run.h"
#include "platform/comport.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

const char* const ProgramName = "daltoven-flash-cli";

int ListPorts() {
    for (const std::string& name : EnumComPorts())
        std::printf("%s\n", name.c_str());
    return ExitProgrammed;
}

} // namespace

int main(int argc, char** argv) {
    TCliOptions options;
    try {
        options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
        std::fprintf(stderr, "%s: %s\nTry \"%s --help\".\n", ProgramName, e.what(), ProgramName);
        return ExitUsage;
    }
    try {
        switch (options.Action) {
        case TCliAction::Help:
            std::fputs(CliHelpText, stdout);
            return ExitProgrammed;
        case TCliAction::ListPorts:
            return ListPorts();
        case TCliAction::Program:
            break;
        }
        // Timers and the message pump of the core need an application object.
        QCoreApplication app(argc, argv);
        TInterruptWatch watch;
        TConsoleStatus status(stderr, isatty(STDERR_FILENO) != 0);
        TConsoleRun run(options, status, watch);
        return run.Execute(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", ProgramName, e.what());
        return ExitFailed;
    }
}
