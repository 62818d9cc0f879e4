// daltoven-pack: builds a programming package from a release manifest, stamps it into a program
// file, shows what a package or program holds, and takes its parts out again.

#include "tools/pack/commands.h"

#include <QCoreApplication>

#include <cstring>
#include <functional>
#include <iostream>
#include <map>

namespace {

struct TCommand {
    std::function<int(const TArguments&, std::ostream&, std::ostream&)> Run;
    const char* Help;
};

const char* const KOverview = R"(Usage: daltoven-pack COMMAND ...

Commands:
  build MANIFEST -o OUT.pkg           assemble a package from a release manifest
  stamp PROGRAM PACKAGE -o RELEASE    write a copy of PROGRAM that carries PACKAGE
  show FILE                           print every field of a package or program
  extract FILE --image OUT ...        write the stored parts out

"daltoven-pack COMMAND --help" tells more about each command.
Exit code: 0 success, 1 invalid input or a failed check, 2 a wrong command line.
)";

const char* const KBuildHelp = R"(Usage: daltoven-pack build MANIFEST -o OUT.pkg

Assembles a whole package block (locator, payload, checksum) from MANIFEST, an INI file:

  [release]  title, model             texts of at most 40 bytes (Latin-1)
  [flash]    start, length            required; decimal or 0x hex
             block_size, check_seed, verification
  [serial]   connect, program         as in 9600 8N1, 57600 8E1, 115200 7O2 (parity N, O, E,
                                      M for mark, S for space; stop bits 1, 1.5 or 2), or the
                                      four stored indexes as in 7,3,0,0; default 9600 8N1
  [connect]  boot, user, response     connect strings, "%" and two hex digits for a byte;
                                      defaults TeMoKPaZ, %02QD7315%03, TeMoKPaZ
  [files]    image                    required: at most 262144 bytes, whole 128-byte blocks
             icon                     a Windows icon file, at most 5120 bytes
             picture                  a Windows bitmap or JPEG file, at most 131072 bytes
             instructions             a text file, at most 2048 bytes with CR LF line ends

Paths are relative to the manifest. A text that holds a comma or a semicolon goes in double
quotes. OUT.pkg is written only when every field is good.
)";

const char* const KStampHelp = R"(Usage: daltoven-pack stamp PROGRAM PACKAGE -o RELEASE

Writes RELEASE, a copy of PROGRAM whose package block holds PACKAGE (a package file or another
release program). PROGRAM must hold the package locator exactly once, and PACKAGE must pass the
program's own start-up checks. RELEASE gets PROGRAM's file mode; a release can be stamped again.
)";

const char* const KShowHelp = R"(Usage: daltoven-pack show FILE

Prints every field of the package in FILE (a package file or a program), then the verdict of
the program's start-up checks. Exit code 0 for a valid package, 1 otherwise.
)";

const char* const KExtractHelp =
    R"(Usage: daltoven-pack extract FILE [--image OUT] [--icon OUT] [--picture OUT] [--instructions OUT]

Writes the stored image, icon file, picture file or instruction text of the package in FILE
(a package file or a program) to the files given. Nothing is written unless every part asked
for is there.
)";

bool AsksForHelp(const TArguments& args) {
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h")
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // Image readers are plugins, which need the application object.
    QCoreApplication app(argc, argv);
    const std::map<std::string, TCommand> commands = {
        {"build", {BuildCommand, KBuildHelp}},
        {"stamp", {StampCommand, KStampHelp}},
        {"show", {ShowCommand, KShowHelp}},
        {"extract", {ExtractCommand, KExtractHelp}},
    };

    const TArguments all(argv + 1, argv + argc);
    if (all.empty()) {
        std::cerr << KOverview;
        return ExitUsage;
    }
    if (all[0] == "--help" || all[0] == "-h" || all[0] == "help") {
        std::cout << KOverview;
        return ExitSuccess;
    }
    const auto command = commands.find(all[0]);
    if (command == commands.end()) {
        std::cerr << "daltoven-pack: unknown command " << all[0] << "\n\n" << KOverview;
        return ExitUsage;
    }
    const TArguments args(all.begin() + 1, all.end());
    if (AsksForHelp(args)) {
        std::cout << command->second.Help;
        return ExitSuccess;
    }
    try {
        return command->second.Run(args, std::cout, std::cerr);
    } catch (const EUsageError& e) {
        std::cerr << "daltoven-pack " << all[0] << ": " << e.Message() << "\n\n"
                  << command->second.Help;
        return ExitUsage;
    } catch (const Exception& e) {
        std::cerr << "daltoven-pack: " << e.Message() << '\n';
        return ExitInvalid;
    } catch (const std::exception& e) {
        std::cerr << "daltoven-pack: " << e.what() << '\n';
        return ExitInvalid;
    }
}
