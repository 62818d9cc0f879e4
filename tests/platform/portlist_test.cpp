#include "platform/comport.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

// A symlink under /dev that is removed however the test ends.
class DevLink {
public:
    DevLink(const std::string& name, const std::string& target)
        : FPath("/dev/" + name + std::to_string(::getpid())) {
        FMade = ::symlink(target.c_str(), FPath.c_str()) == 0;
    }
    ~DevLink() {
        if (FMade)
            ::unlink(FPath.c_str());
    }
    DevLink(const DevLink&) = delete;
    DevLink& operator=(const DevLink&) = delete;

    bool Made() const { return FMade; }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
    bool FMade = false;
};

std::ptrdiff_t IndexOf(const std::vector<std::string>& list, const std::string& name) {
    const auto it = std::find(list.begin(), list.end(), name);
    return it == list.end() ? -1 : it - list.begin();
}

} // namespace

TEST(PortList, ListsTtyLinksToPtysOnlySortedIgnoringCase) {
    TestPty pty;
    // In byte order "B" sorts before "a"; ignoring case, "a" comes first.
    DevLink lower("ttyDvListTesta", pty.SlavePath());
    DevLink upper("ttyDvListTestB", pty.SlavePath());
    DevLink notPty("ttyDvListTestNull", "/dev/null");
    DevLink notTty("dvListTestPty", pty.SlavePath());
    if (!lower.Made() || !upper.Made() || !notPty.Made() || !notTty.Made())
        GTEST_SKIP() << "cannot make links under /dev (the test needs root)";

    const std::vector<std::string> ports = EnumComPorts();
    const auto a = IndexOf(ports, lower.Path());
    const auto b = IndexOf(ports, upper.Path());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_LT(a, b);
    EXPECT_EQ(IndexOf(ports, notPty.Path()), -1);
    EXPECT_EQ(IndexOf(ports, notTty.Path()), -1);
    EXPECT_EQ(IndexOf(ports, pty.SlavePath()), -1) << "a bare pty is not a serial port";

    // Every neighbour pair is in order ignoring case.
    const auto folded = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (std::size_t i = 1; i < ports.size(); ++i)
        EXPECT_LE(folded(ports[i - 1]), folded(ports[i])) << ports[i - 1] << " / " << ports[i];
}
