#include "app/forms.h"
#include "app/usrserial.h"
#include "serial/comms.h"
#include "tests/app/modal.h"

#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> Ports = {"/dev/ttyS1", "/dev/ttyS10", "/dev/ttyS2", "/dev/ttyUSB0"};

} // namespace

TEST(PortDialog, OffersTheListAndSelectsTheBoundPortsNameIgnoringCase) {
    TfrmUsrSerial dialog(Ports);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Serial Port"));
    EXPECT_EQ(dialog.lblSerial->text(),
              QStringLiteral("Select the PC serial port to program with:"));
    ASSERT_EQ(dialog.ComComboBoxPort->count(), 4);
    EXPECT_FALSE(dialog.ComComboBoxPort->isEditable());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dialog.ComComboBoxPort->itemText(i).toStdString(), Ports[i]);

    THalcotComPort known;
    known.SetPort("/DEV/TTYS10");
    dialog.SetComPort(&known);
    EXPECT_EQ(dialog.ComComboBoxPort->currentIndex(), 1);

    THalcotComPort unknown; // "COM1", which this system does not list
    dialog.SetComPort(&unknown);
    EXPECT_EQ(dialog.ComComboBoxPort->currentIndex(), -1);
}

TEST(PortDialog, BindingTheSamePortAgainChangesNothing) {
    TfrmUsrSerial dialog(Ports);
    THalcotComPort port;
    port.SetPort("/dev/ttyS2");
    dialog.SetComPort(&port);
    port.SetPort("/dev/ttyS1");
    dialog.SetComPort(&port);
    EXPECT_EQ(dialog.ComComboBoxPort->currentText(), QStringLiteral("/dev/ttyS2"));
}

TEST(PortDialog, APickSetsThePortsNameAtOnceEvenWhenCancelled) {
    TfrmUsrSerial dialog(Ports);
    THalcotComPort port;
    port.SetPort("/dev/ttyS10");
    port.SetBaudRate(br19200);
    dialog.SetComPort(&port);

    std::string nameDuringDialog;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        ModalScript::PickNextPort()(modal);
        nameDuringDialog = port.Port();
        ModalScript::Click("btnCancel")(modal);
    });
    EXPECT_EQ(dialog.ShowModal(), mrCancel);
    EXPECT_EQ(nameDuringDialog, "/dev/ttyS2");
    EXPECT_EQ(port.Port(), "/dev/ttyS2");
    EXPECT_EQ(port.BaudRate(), br19200) << "only the name may change";

    // The next showing starts on the last pick.
    dialog.SetComPort(&port);
    EXPECT_EQ(dialog.ComComboBoxPort->currentText(), QStringLiteral("/dev/ttyS2"));
}

TEST(PortDialog, OkWithoutAPickKeepsTheName) {
    TfrmUsrSerial dialog(Ports);
    THalcotComPort port;
    dialog.SetComPort(&port);
    ModalScript script;
    script.Then(ModalScript::Click("btnOk"));
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_EQ(port.Port(), "COM1");
}

TEST(PortDialog, AnEmptyListLeavesTheBoxEmpty) {
    TfrmUsrSerial dialog({});
    THalcotComPort port;
    dialog.SetComPort(&port);
    ModalScript script;
    script.Then(ModalScript::Key(Qt::Key_Return));
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_EQ(dialog.ComComboBoxPort->count(), 0);
    EXPECT_EQ(port.Port(), "COM1");
}

TEST(PortDialog, OkAndEnterGiveOkCancelEscapeAndTheCloseBoxGiveCancel) {
    struct Case {
        const char* how;
        ModalScript::Step answer;
        int result;
    };
    const Case cases[] = {
        {"Ok", ModalScript::Click("btnOk"), mrOk},
        {"Enter", ModalScript::Key(Qt::Key_Return), mrOk},
        {"Cancel", ModalScript::Click("btnCancel"), mrCancel},
        {"Escape", ModalScript::Key(Qt::Key_Escape), mrCancel},
        {"close box", ModalScript::CloseBox(), mrCancel},
    };
    TfrmUsrSerial dialog(Ports);
    THalcotComPort port;
    dialog.SetComPort(&port);
    for (const Case& c : cases) {
        ModalScript script;
        script.Then(c.answer);
        EXPECT_EQ(dialog.ShowModal(), c.result) << c.how;
        EXPECT_TRUE(script.Done()) << c.how;
    }
    EXPECT_EQ(port.Port(), "COM1");
}
