// termios2 comes from <asm/termbits.h>, which clashes with glibc's <termios.h>: this file
// includes only the kernel's view and calls the ioctl directly.
#include "sim/line.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

std::optional<SimLineReading> ReadSlaveLine(int masterFd) {
    // On a pty master, TCGETS2 answers with the slave's settings: the kernel turns the request
    // to the linked tty. c_ospeed holds the speed in bits per second, custom speeds included.
    termios2 tio{};
    if (ioctl(masterFd, TCGETS2, &tio) != 0)
        return std::nullopt;
    SimLineReading reading;
    reading.BitsPerSecond = static_cast<int>(tio.c_ospeed);
    reading.TwoStopBits = (tio.c_cflag & CSTOPB) != 0;
    return reading;
}
