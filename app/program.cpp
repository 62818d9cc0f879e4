#include "app/program.h"

#include "app/about.h"
#include "app/forms.h"
#include "app/user.h"
#include "app/usrserial.h"
#include "app/wizard.h"
#include "platform/comport.h"

TProgram::TProgram(const std::uint8_t* packageBlock) : TProgram(packageBlock, EnumComPorts()) {}

TProgram::TProgram(const std::uint8_t* packageBlock, std::vector<std::string> portNames)
    : FUserFlash(std::make_unique<TfrmUserFlash>(packageBlock)) {
    SetMainForm(FUserFlash.get());
    FAbout = new TfrmAbout(FUserFlash.get());
    FConnectWiz = new TfrmConnectWiz(FUserFlash.get());
    FUsrSerial = new TfrmUsrSerial(std::move(portNames), FUserFlash.get());
    FUserFlash->SetForms(FAbout, FConnectWiz, FUsrSerial);
}

TProgram::~TProgram() {
    if (MainForm() == FUserFlash.get())
        SetMainForm(nullptr);
}
