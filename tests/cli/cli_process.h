#pragma once
// Runs daltoven-flash-cli and daltoven-unitsim as separate processes, as a script or a
// production line would.

#include <QProcess>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TProcessResult {
    int ExitCode = -1;
    bool Finished = false; // false: it was still running at the deadline and was killed
    std::string Out;
    std::string Err;
};

std::string CliPath();
std::string SamplePackagePath();

// A directory of its own, removed with everything in it.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

// A simulated unit in its own process, serving until the object goes.
class TUnitProcess {
public:
    // Extra options for daltoven-unitsim; --release and --flash-out are added by default.
    explicit TUnitProcess(const std::vector<std::string>& options = {},
                          const std::string& release = SamplePackagePath());
    ~TUnitProcess();

    const std::string& Port() const { return FPort; }
    // Ends the unit (which writes its flash file) and returns its flash.
    std::vector<std::uint8_t> StopAndReadFlash();
    // Everything the unit has logged so far.
    std::string Log();

private:
    std::unique_ptr<TTempDir> FDir;
    std::unique_ptr<QProcess> FProcess;
    std::string FFlashOut;
    std::string FPort;
    std::string FLog;
};

// Starts the program with the arguments; the child's stdin is /dev/null unless setup puts
// something else there.
std::unique_ptr<QProcess> StartProcess(const std::string& program,
                                       const std::vector<std::string>& args,
                                       std::function<void()> childSetup = {});
// Waits for the end (killing it at the deadline) and collects what it wrote.
TProcessResult Finish(QProcess& process, std::chrono::milliseconds deadline);
// Waits until the standard error collected so far contains the text; what was read is added
// to err.
bool WaitForError(QProcess& process, std::string& err, const std::string& text,
                  std::chrono::milliseconds deadline);

TProcessResult RunCli(const std::vector<std::string>& args,
                      std::chrono::milliseconds deadline = std::chrono::seconds(60));

// The serial port is free again: no one holds it exclusively, and the program's own port
// opens it.
void ExpectPortReleased(const std::string& port);

// The stored image of a package file.
std::vector<std::uint8_t> PackageImage(const std::string& packagePath);
// The flash as the unit must hold it after programming the image: the image at the start,
// the rest erased.
std::vector<std::uint8_t> FlashWithImage(const std::vector<std::uint8_t>& image,
                                         std::size_t flashLength);

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
