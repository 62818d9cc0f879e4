#include "app/usrserial.h"

#include "app/forms.h"
#include "serial/comms.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

TfrmUsrSerial::TfrmUsrSerial(std::vector<std::string> portNames, QWidget* parent)
    : QDialog(parent) {
    SetupForm(this, "frmUsrSerial", 253, 108, TBorderIcons::SystemMenu);

    lblSerial = PlaceChild<QLabel>(this, "lblSerial", 8, 16, 191, 13);
    SetAutoSizeCaption(lblSerial, "Select the PC serial port to program with:");
    ComComboBoxPort = PlaceChild<QComboBox>(this, "ComComboBoxPort", 8, 32, 153, 21);
    ComComboBoxPort->setEditable(false);
    for (const std::string& name : portNames)
        ComComboBoxPort->addItem(QString::fromLatin1(name));
    ComComboBoxPort->setCurrentIndex(-1);
    // activated: only the user's picks, never the box's own selection on binding.
    connect(ComComboBoxPort, &QComboBox::activated, this,
            [this](int index) { ComComboBoxPortPicked(index); });

    btnOk = PlaceButton(this, "btnOk", 8, 72, 75, 25, "Ok");
    btnCancel = PlaceButton(this, "btnCancel", 88, 72, 75, 25, "Cancel");
    SetDialogButtons(this, btnOk, btnCancel);

    setTabOrder(ComComboBoxPort, btnOk);
    setTabOrder(btnOk, btnCancel);
    FormCreate();
}

void TfrmUsrSerial::FormCreate() {
    setWindowTitle(QStringLiteral("Select Serial Port"));
}

void TfrmUsrSerial::SetComPort(THalcotComPort* port) {
    if (port == FComPort)
        return;
    FComPort = port;
    SelectPortName(port ? port->Port() : std::string());
}

void TfrmUsrSerial::SelectPortName(const std::string& name) {
    const int index =
        name.empty() ? -1
                     : ComComboBoxPort->findText(QString::fromLatin1(name), Qt::MatchFixedString);
    ComComboBoxPort->setCurrentIndex(index);
}

void TfrmUsrSerial::ComComboBoxPortPicked(int index) {
    if (FComPort && index >= 0)
        FComPort->SetPort(ComComboBoxPort->itemText(index).toLatin1().toStdString());
}

int TfrmUsrSerial::ShowModal() {
    // Start on the list, as the first control of the tab order.
    ComComboBoxPort->setFocus();
    return ::ShowModal(*this);
}
