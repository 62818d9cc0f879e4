#pragma once
// The port selection dialog: the user picks the serial port of a run. A pick sets the bound
// port's name at once; nothing else of the port changes, and Ok and Cancel change nothing.

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class THalcotComPort;

class TfrmUsrSerial : public QDialog {
    Q_OBJECT
public:
    // Offers the given port names, in this order (the system's list, sorted, is read once at
    // start-up and never refreshed).
    explicit TfrmUsrSerial(std::vector<std::string> portNames, QWidget* parent = nullptr);

    // Binds the port whose name the box shows and sets. Binding the bound port again changes
    // nothing.
    void SetComPort(THalcotComPort* port);
    // mrOk for Ok or Enter; mrCancel for Cancel, Escape or the close box.
    int ShowModal();

    QLabel* lblSerial;
    QComboBox* ComComboBoxPort;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void FormCreate();
    void SelectPortName(const std::string& name);
    void ComComboBoxPortPicked(int index);

    THalcotComPort* FComPort = nullptr;
};
