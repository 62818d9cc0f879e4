// The serial ports of a Linux machine: the ttys that sysfs ties to a device, plus the symlinks
// in /dev named tty* that point at pseudo-terminals (the usual way virtual ports are made).

#include "platform/comport.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Unix98 pty slaves (/dev/pts/N) use the majors 136 to 143.
constexpr unsigned KFirstPtySlaveMajor = 136;
constexpr unsigned KLastPtySlaveMajor = 143;

// The 8250 driver registers ttyS0..ttyS31 whether or not a UART is there; the serial core
// reports a missing one as port type 0 (PORT_UNKNOWN).
bool IsPhantomSerialPort(const fs::path& sysEntry) {
    std::ifstream typeFile(sysEntry / "type");
    int type = -1;
    return typeFile >> type && type == 0;
}

void AddDevicePorts(std::vector<std::string>& ports) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        std::error_code deviceEc;
        if (!fs::exists(entry.path() / "device", deviceEc) || IsPhantomSerialPort(entry.path()))
            continue;
        const fs::path node = fs::path("/dev") / entry.path().filename();
        if (fs::exists(node, deviceEc))
            ports.push_back(node.string());
    }
}

bool IsPtySlave(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned major = ::major(st.st_rdev);
    return major >= KFirstPtySlaveMajor && major <= KLastPtySlaveMajor;
}

void AddPtyLinks(std::vector<std::string>& ports) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code linkEc;
        if (name.rfind("tty", 0) == 0 && entry.is_symlink(linkEc) && IsPtySlave(entry.path()))
            ports.push_back(entry.path().string());
    }
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

} // namespace

std::vector<std::string> EnumComPorts() {
    std::vector<std::string> ports;
    AddDevicePorts(ports);
    AddPtyLinks(ports);
    std::sort(ports.begin(), ports.end(), LessIgnoringCase);
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}
