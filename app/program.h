#pragma once
// The program's windows, created in the entry's order: the main window first, so its start-up
// steps are complete (and the application title settled) before the others exist, then the
// About box, the connection wizard and the port selection dialog. The dialogs are children of
// the main window: nothing outlives it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TfrmAbout;
class TfrmConnectWiz;
class TfrmUserFlash;
class TfrmUsrSerial;

class TProgram {
public:
    // The port dialog offers the serial ports the system lists.
    explicit TProgram(const std::uint8_t* packageBlock);
    // The port dialog offers the given names, in this order.
    TProgram(const std::uint8_t* packageBlock, std::vector<std::string> portNames);
    ~TProgram();

    TfrmUserFlash& frmUserFlash() const { return *FUserFlash; }
    TfrmAbout& frmAbout() const { return *FAbout; }
    TfrmConnectWiz& frmConnectWiz() const { return *FConnectWiz; }
    TfrmUsrSerial& frmUsrSerial() const { return *FUsrSerial; }

private:
    std::unique_ptr<TfrmUserFlash> FUserFlash;
    TfrmAbout* FAbout = nullptr;
    TfrmConnectWiz* FConnectWiz = nullptr;
    TfrmUsrSerial* FUsrSerial = nullptr;
};
