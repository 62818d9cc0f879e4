// The one main of every test executable: an application object for timers, the message pump,
// image decoding and widgets (on the offscreen platform, so no display is needed).
#include <QApplication>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        // What Qt would fall back to anyway, without its warning in every test's output.
        const std::string runtime = "/tmp/runtime-" + std::to_string(getuid());
        mkdir(runtime.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
