#include "app/user.h"

#include "app/about.h"
#include "app/forms.h"
#include "app/messagedlg.h"
#include "app/userprompt.h"
#include "app/usrserial.h"
#include "app/wizard.h"
#include "package/exist_ms.h"
#include "platform/application.h"
#include "platform/scopeguard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QImage>
#include <QPushButton>

#include <vector>

namespace {
const char* const IdleStatus = "Progress";
} // namespace

void TStatusLabel::Changed() {
    setText(QString::fromLatin1(Caption()));
    adjustSize();
}

TStatusProgressBar::TStatusProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    Changed();
}

void TStatusProgressBar::Changed() {
    setRange(Min(), Max());
    setValue(Position());
}

TfrmUserFlash::TfrmUserFlash(const std::uint8_t* packageBlock, QWidget* parent) : QWidget(parent) {
    SetupForm(this, "frmUserFlash", 295, 97, TBorderIcons::SystemMenu);
    ImageIcon = PlaceChild<QLabel>(this, "ImageIcon", 8, 8, 32, 32);
    lblProgress = PlaceChild<TStatusLabel>(this, "lblProgress", 56, 8, 41, 13);
    lblProgress->SetCaption(IdleStatus);
    ProgressBar = PlaceChild<TStatusProgressBar>(this, "ProgressBar", 56, 24, 233, 25);
    btnStart = PlaceButton(this, "btnStart", 112, 64, 75, 25, "Start");
    setTabOrder(ProgressBar, btnStart);
    connect(btnStart, &QPushButton::clicked, this,
            [this] { Application::Guarded([this] { btnStartClick(); }); });
    CenterOnMainForm(this);
    FormCreate(packageBlock);
}

TfrmUserFlash::~TfrmUserFlash() = default;

void TfrmUserFlash::SetForms(TfrmAbout* about, TfrmConnectWiz* wizard, TfrmUsrSerial* usrSerial) {
    FAbout = about;
    FWizard = wizard;
    FUsrSerial = usrSerial;
}

void TfrmUserFlash::FormCreate(const std::uint8_t* packageBlock) {
    AddAboutMenu();
    FIcon = QApplication::windowIcon();
    ShowIcon();
    setWindowTitle(QString::fromLatin1(Application::Title()));
    Busy = false;
    Selection.Port = &SelectionPort;
    Selection.Prompt = nullptr;
    PackageValid = false;
    Selection.Mode = 0;
    Selection.UseDtr = false;
    try {
        LoadPackage(packageBlock);
    } catch (Exception& e) {
        btnStart->setEnabled(false);
        e.SetMessage("No Valid FLASH Image Present! (" + e.Message() + ").");
        Application::HandleException(e);
    } catch (const std::exception& e) {
        // Not one of ours (out of memory, say): shown as it is, and Start stays off, since the
        // flash target may not exist.
        btnStart->setEnabled(false);
        Application::HandleException(e);
    }
}

void TfrmUserFlash::LoadPackage(const std::uint8_t* packageBlock) {
    Flash = std::make_unique<THitachiFlash>(nullptr, lblProgress, ProgressBar,
                                            std::make_unique<TUserPromptDialog>());
    const std::uint8_t* payload = ValidateStoredData(packageBlock);
    Info = std::make_unique<TExeProgrammingInfo>(payload);
    Info->CheckVersion();
    Info->ApplyTo(*Flash);
    if (const std::string title = Info->ImageTitle(); !title.empty()) {
        Application::SetTitle(title);
        setWindowTitle(QString::fromLatin1(title));
    }
    LoadLogo();
    PackageValid = true;
}

void TfrmUserFlash::LoadLogo() {
    // The stored icon replaces the application's; a logo that cannot be read, or that reads
    // as an empty icon, leaves the application's icon and is not reported.
    QIcon logo = FIcon;
    try {
        Info->LoadLogo(logo);
    } catch (...) {
        return;
    }
    if (logo.isNull() || logo.availableSizes().isEmpty())
        return;
    FIcon = logo;
    ShowIcon();
}

void TfrmUserFlash::ShowIcon() {
    ImageIcon->setPixmap(FIcon.pixmap(ImageIcon->size()));
}

bool TfrmUserFlash::WMSysCommand(unsigned command) {
    if (command != AboutMenuCommand)
        return false;
    ShowAbout();
    return true;
}

void TfrmUserFlash::ShowAbout() {
    if (!FAbout)
        return;
    if (PackageValid && !Info->ImageTitle().empty())
        FAbout->SetImageText("Flash Image: " + Info->ImageTitle());
    FAbout->ShowModal();
}

void TfrmUserFlash::SetBusy(bool value) {
    Busy = value;
    btnStart->setEnabled(!value);
}

void TfrmUserFlash::closeEvent(QCloseEvent* event) {
    if (!Busy) {
        event->accept();
        return;
    }
    event->ignore();
    MessageDlg("Programming in Progress. Please wait until programming is complete.",
               TMsgDlgType::mtError, TMsgDlgButtons::Ok);
}

void TfrmUserFlash::btnStartClick() {
    // Without a valid package there is nothing to program (Start is disabled then; this keeps
    // a call from elsewhere from reaching a target that was never set up).
    if (Busy || !PackageValid || !FUsrSerial || !FWizard)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetBusy(true);
    const TScopeGuard restore([this] {
        lblProgress->SetCaption(IdleStatus);
        ProgressBar->SetPosition(0);
        SetBusy(false);
        QApplication::restoreOverrideCursor();
    });
    ConnectUnit();
    try {
        ProgramStoredImage();
    } catch (...) {
        DisconnectAfterFailure();
        throw;
    }
    Flash->Disconnect();
    MessageDlg("Unit Successfully Programmed!", TMsgDlgType::mtInformation, TMsgDlgButtons::Ok);
}

void TfrmUserFlash::DisconnectAfterFailure() noexcept {
    // The failure that got us here is the one to report, not a second one from closing.
    try {
        Flash->Disconnect();
    } catch (...) {
    }
}

void TfrmUserFlash::ConnectUnit() {
    FUsrSerial->SetComPort(&SelectionPort);
    if (FUsrSerial->ShowModal() != mrOk)
        throw EHitachiFlashException(ConnectCancelledText);
    ShowConnectionWizard();

    Selection.UseDtr = true;
    ConnectUserThenBoot(*Flash, Selection, [](const std::string& failure) {
        return MessageDlg("User Connect Method Failed (" + failure + "). Try Boot Method?",
                          TMsgDlgType::mtConfirmation, TMsgDlgButtons::YesNo) == mrYes;
    });
}

void TfrmUserFlash::ShowConnectionWizard() {
    // Either part may be missing; the wizard is skipped only when both are.
    int missing = 0;
    try {
        QImage picture;
        Info->LoadPicture(picture);
        FWizard->SetPicture(picture);
    } catch (const std::exception&) {
        ++missing;
    }
    try {
        std::vector<std::string> lines;
        Info->GetWizardText(lines);
        if (lines.empty())
            ++missing;
        FWizard->SetInstructions(lines);
    } catch (const std::exception&) {
        ++missing;
    }
    if (missing >= 2)
        return;
    if (FWizard->ShowModal() != mrOk)
        throw EHitachiFlashException(ConnectCancelledText);
}

void TfrmUserFlash::ProgramStoredImage() {
    TExistingMemoryStream image(Info->ImageData(), Info->ImageLength());
    FlashSequence(image);
}

void TfrmUserFlash::FlashSequence(TStream& image) {
    Flash->Erase();
    Flash->ProgramImage(image);
    Flash->VerifyImage(image);
    Flash->Run();
}
