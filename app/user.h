#pragma once
// The main window: start-up (the package check, the release's title and icon), the busy state
// of a programming run, and the run itself behind Start. The unit's work is the flash target's;
// the window only sequences the dialogs around it.

#include "package/storeexe.h"
#include "platform/controls.h"
#include "platform/streams.h"
#include "serial/comms.h"
#include "target/h83664.h"

#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class QPushButton;
class TfrmAbout;
class TfrmConnectWiz;
class TfrmUsrSerial;

// The status line the device writes to.
class TStatusLabel : public QLabel, public TLabel {
public:
    using QLabel::QLabel;

protected:
    void Changed() override;
};

// The progress bar the device drives.
class TStatusProgressBar : public QProgressBar, public TProgressBar {
public:
    explicit TStatusProgressBar(QWidget* parent = nullptr);

protected:
    void Changed() override;
};

// The command identifier of the "About..." entry.
inline constexpr unsigned AboutMenuCommand = 1025;

class TfrmUserFlash : public QWidget {
    Q_OBJECT
public:
    // Runs the start-up steps on the given package block (458776 bytes); an unusable package
    // is reported once through the standard exception display and leaves Start disabled.
    explicit TfrmUserFlash(const std::uint8_t* packageBlock, QWidget* parent = nullptr);
    ~TfrmUserFlash() override;

    // The dialogs the run and the About entry show; created after the window (see TProgram).
    void SetForms(TfrmAbout* about, TfrmConnectWiz* wizard, TfrmUsrSerial* usrSerial);

    void SetBusy(bool value);
    // The programming run. Returns at once while a run is in progress.
    void btnStartClick();
    void ConnectUnit();
    void ShowConnectionWizard();
    void ProgramStoredImage();
    void FlashSequence(TStream& image);

    // The system-menu command handler: true when it was the "About..." command (compared whole,
    // no bits masked), which shows the About box.
    bool WMSysCommand(unsigned command);
    void ShowAbout();

    QLabel* ImageIcon;
    TStatusLabel* lblProgress;
    TStatusProgressBar* ProgressBar;
    QPushButton* btnStart;

    bool Busy = false;
    std::unique_ptr<TExeProgrammingInfo> Info;
    bool PackageValid = false;
    // The user's port: only its settings are used, it is never opened.
    THalcotComPort SelectionPort;
    TConnectionSelection Selection;
    std::unique_ptr<THitachiFlash> Flash;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Where the window's real system menu exists, its commands arrive here.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void FormCreate(const std::uint8_t* packageBlock);
    // The "About..." entry: on the system menu where the program owns it (Windows), else on
    // the window's context menu; either way it reaches WMSysCommand.
    void AddAboutMenu();
    void LoadPackage(const std::uint8_t* packageBlock);
    void LoadLogo();
    void ShowIcon();
    void DisconnectAfterFailure() noexcept;

    QIcon FIcon;
    TfrmAbout* FAbout = nullptr;
    TfrmConnectWiz* FWizard = nullptr;
    TfrmUsrSerial* FUsrSerial = nullptr;
};
