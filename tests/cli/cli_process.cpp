#include "tests/cli/cli_process.h"

#include "package/release_file.h"
#include "package/storeexe.h"
#include "platform/comport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

QStringList ToArguments(const std::vector<std::string>& args) {
    QStringList list;
    for (const std::string& arg : args)
        list << QString::fromStdString(arg);
    return list;
}

int Milliseconds(std::chrono::milliseconds ms) {
    return static_cast<int>(ms.count());
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::string CliPath() {
    return DV_CLI_PATH;
}
std::string SamplePackagePath() {
    return DV_SAMPLE_PACKAGE;
}

std::unique_ptr<QProcess> StartProcess(const std::string& program,
                                       const std::vector<std::string>& args,
                                       std::function<void()> childSetup) {
    auto process = std::make_unique<QProcess>();
    process->setStandardInputFile(QProcess::nullDevice());
    if (childSetup)
        process->setChildProcessModifier(childSetup);
    process->start(QString::fromStdString(program), ToArguments(args));
    if (!process->waitForStarted(10000))
        throw std::runtime_error("cannot start " + program);
    return process;
}

TProcessResult Finish(QProcess& process, std::chrono::milliseconds deadline) {
    TProcessResult result;
    result.Finished = process.waitForFinished(Milliseconds(deadline));
    if (!result.Finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Out = process.readAllStandardOutput().toStdString();
    result.Err = process.readAllStandardError().toStdString();
    return result;
}

bool WaitForError(QProcess& process, std::string& err, const std::string& text,
                  std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    process.setReadChannel(QProcess::StandardError);
    while (err.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !process.waitForReadyRead(Milliseconds(left)))
            return false;
        err += process.readAllStandardError().toStdString();
    }
    return true;
}

TProcessResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds deadline) {
    const auto process = StartProcess(CliPath(), args);
    return Finish(*process, deadline);
}

TUnitProcess::TUnitProcess(const std::vector<std::string>& options, const std::string& release) {
    FDir = std::make_unique<TTempDir>();
    FFlashOut = FDir->File("flash.bin");
    FLog = FDir->File("unit.log");
    std::vector<std::string> args = options;
    if (!release.empty())
        args.insert(args.end(), {"--release", release});
    args.insert(args.end(), {"--flash-out", FFlashOut});
    FProcess = std::make_unique<QProcess>();
    // A file, not a pipe: the unit logs every exchange and must never wait for a reader.
    FProcess->setStandardErrorFile(QString::fromStdString(FLog));
    FProcess->start(QString::fromStdString(DV_UNITSIM_PATH), ToArguments(args));
    if (!FProcess->waitForStarted(10000) || !FProcess->waitForReadyRead(10000))
        throw std::runtime_error("the simulated unit did not start: " + Log());
    while (!FProcess->canReadLine() && FProcess->waitForReadyRead(5000)) {
    }
    FPort = FProcess->readLine().trimmed().toStdString();
    if (FPort.empty())
        throw std::runtime_error("the simulated unit named no port: " + Log());
}

TUnitProcess::~TUnitProcess() {
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->terminate();
        if (!FProcess->waitForFinished(5000))
            FProcess->kill();
        FProcess->waitForFinished(5000);
    }
}

std::vector<std::uint8_t> TUnitProcess::StopAndReadFlash() {
    FProcess->terminate();
    if (!FProcess->waitForFinished(10000))
        throw std::runtime_error("the simulated unit did not stop");
    return ReadWholeFile(FFlashOut);
}

std::string TUnitProcess::Log() {
    return ReadTextFile(FLog);
}

void ExpectPortReleased(const std::string& port) {
    // The program runs as root here, and root ignores the exclusive flag when it opens a
    // port, so the flag itself is asked for.
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << port;
    int exclusive = -1;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << port << " is still held exclusively";
    ::close(fd);

    TComPort reopened;
    reopened.SetPort(port);
    EXPECT_NO_THROW(reopened.Open()) << port;
    reopened.Close();
}

std::vector<std::uint8_t> PackageImage(const std::string& packagePath) {
    const std::vector<std::uint8_t> block = ReadPackageBlockFromFile(packagePath);
    const TExeProgrammingInfo info(ValidateStoredData(block.data()));
    return {info.ImageData(), info.ImageData() + info.ImageLength()};
}

std::vector<std::uint8_t> FlashWithImage(const std::vector<std::uint8_t>& image,
                                         std::size_t flashLength) {
    std::vector<std::uint8_t> flash(flashLength, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin());
    return flash;
}

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dv-cli-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary directory");
    FPath = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}
