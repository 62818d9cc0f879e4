// daltoven-flash-demo: the real window carrying the sample release, with a simulated unit
// served in this process on a pseudo-terminal. The unit's port is listed first in the port
// dialog and already selected, so a user without hardware can press Start and program a unit.

#include "app/messagedlg.h"
#include "app/program.h"
#include "app/user.h"
#include "package/block.h"
#include "package/layout.h"
#include "platform/application.h"
#include "platform/comport.h"
#include "platform/exceptions.h"
#include "sim/unit.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::atomic<bool> StopRequested{false};

void RequestStop(int /*signal*/) {
    StopRequested = true;
}

// Ctrl-C or a kill ends the demo through the event loop, so the unit is stopped and its link in
// /dev removed instead of left pointing at a terminal that someone else may get next.
void QuitOnStopSignals(QApplication& app) {
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::signal(SIGHUP, RequestStop);
    auto* watch = new QTimer(&app);
    QObject::connect(watch, &QTimer::timeout, &app, [&app] {
        if (StopRequested)
            app.quit();
    });
    watch->start(100);
}

// Named like a serial port so that the system's port list shows it too.
const char* const DemoPortLink = "/dev/ttyDaltovenDemo";

std::unique_ptr<SimulatedUnit> StartDemoUnit(const std::uint8_t* block) {
    SimConfig config;
    config.LoadRelease(std::vector<std::uint8_t>(block, block + PackageLayout::BlockSize));
    // Bytes move at the line's speed, so the progress can be watched; after a failed user
    // method and Yes, the unit answers once the user has "reset" it.
    config.WireTiming = true;
    config.ResetAfter = 3;
    config.LinkPath = DemoPortLink;
    try {
        auto unit = std::make_unique<SimulatedUnit>(config);
        unit->Start();
        return unit;
    } catch (const Exception& e) {
        // Only root may make a link in /dev: offer the pseudo-terminal under its own name.
        std::fprintf(stderr, "daltoven-flash-demo: no %s (%s); using the pty itself\n",
                     DemoPortLink, e.what());
    }
    config.LinkPath.clear();
    auto unit = std::make_unique<SimulatedUnit>(config);
    unit->Start();
    return unit;
}

// The demo unit's port first, then the system's ports.
std::vector<std::string> DemoPortList(const std::string& demoPort) {
    std::vector<std::string> ports{demoPort};
    for (const std::string& name : EnumComPorts())
        if (name != demoPort)
            ports.push_back(name);
    return ports;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Application::SetTitle("Daltoven Flash Programmer");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/daltoven-flash.png")));
    Application::SetExceptionHandler(ShowException);

    QuitOnStopSignals(app);

    std::unique_ptr<SimulatedUnit> unit;
    try {
        unit = StartDemoUnit(PackageBlock());
    } catch (const std::exception& e) {
        ShowException(e);
        return 1;
    }
    TProgram program(PackageBlock(), DemoPortList(unit->PortName()));
    program.frmUserFlash().SelectionPort.SetPort(unit->PortName());
    program.frmUserFlash().show();
    const int result = app.exec();
    unit->Stop();
    return result;
}
