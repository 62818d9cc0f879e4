// The programming run against the simulated unit on a pseudo-terminal: the real window and
// dialogs, answered by a ModalScript.
#include "app/forms.h"
#include "app/program.h"
#include "app/user.h"
#include "app/userprompt.h"
#include "app/wizard.h"
#include "sim/unit.h"
#include "tests/app/app_fixture.h"
#include "tests/app/modal.h"
#include "tests/app/release_block.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

using namespace std::chrono_literals;

namespace {

const QString PortDialog = QStringLiteral("Select Serial Port");
const QString Wizard = QStringLiteral("Connecting the Unit to the PC");
const QString Success = QStringLiteral("Information | Unit Successfully Programmed!");
const QString Cancelled = QStringLiteral("Widget 3000 Release 7 | Connect Cancelled by User.");

QString Question(const QString& failure) {
    return QStringLiteral("Confirm | User Connect Method Failed (%1). Try Boot Method?")
        .arg(failure);
}

// The user picks the unit's port and reads the instructions.
ModalScript& ThroughWizard(ModalScript& script) {
    return script.Then(ModalScript::PickNextPortAndOk()).Then(ModalScript::Click("btnNext"));
}

// What the window looks like between runs.
void ExpectRestored(TfrmUserFlash& window, const char* when) {
    EXPECT_EQ(window.lblProgress->text(), QStringLiteral("Progress")) << when;
    EXPECT_EQ(window.ProgressBar->value(), 0) << when;
    EXPECT_TRUE(window.btnStart->isEnabled()) << when;
    EXPECT_FALSE(window.Busy) << when;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << when;
}

bool HourglassShown() {
    return QApplication::overrideCursor() &&
           QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

// Watches the modeless reset prompt: records its text while shown, and cancels it on request.
class PromptWatch : public QObject {
public:
    explicit PromptWatch(bool cancel = false) : FCancel(cancel) {
        connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
        FTimer.start(10);
    }
    QStringList texts;

private:
    void Poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* prompt = qobject_cast<TdlgUserPrompt*>(w);
            if (!prompt || !prompt->isVisible())
                continue;
            if (texts.isEmpty() || texts.back() != prompt->lblDialogText->text())
                texts << prompt->lblDialogText->text();
            if (FCancel)
                QApplication::postEvent(
                    prompt, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        }
    }
    bool FCancel;
    QTimer FTimer;
};

class RunTest : public AppTest {
protected:
    // A unit that holds the release's definition, and the program on its pty.
    void Start(const ReleaseOptions& options = {},
               const std::function<void(SimConfig&)>& adjust = {}) {
        FProgram.reset();
        FUnit.reset();
        FRelease = options;
        FBlock = std::make_unique<TTestBlock>(ReleaseBlock(options));
        SimConfig config;
        config.LoadRelease(FBlock->Bytes());
        if (adjust)
            adjust(config);
        FUnit = std::make_unique<SimulatedUnit>(config);
        FUnit->Start();
        FProgram = std::make_unique<TProgram>(FBlock->Data(),
                                              std::vector<std::string>{FUnit->SlavePath()});
        Window().show();
    }
    void TearDown() override {
        FProgram.reset();
        if (FUnit)
            FUnit->Stop();
        AppTest::TearDown();
    }

    TfrmUserFlash& Window() { return FProgram->frmUserFlash(); }
    SimulatedUnit& Unit() { return *FUnit; }

    // Presses Start as the user does and waits for the run to end.
    void PressStart() {
        Window().btnStart->click();
        ASSERT_FALSE(Window().Busy);
    }

    bool FlashHoldsTheImage() {
        const std::vector<std::uint8_t> flash = FUnit->Flash();
        return flash.size() >= FRelease.Image.size() &&
               std::equal(FRelease.Image.begin(), FRelease.Image.end(), flash.begin());
    }

    ReleaseOptions FRelease;
    std::unique_ptr<TTestBlock> FBlock;
    std::unique_ptr<SimulatedUnit> FUnit;
    std::unique_ptr<TProgram> FProgram;
};

} // namespace

TEST_F(RunTest, SuccessIsReportedBeforeTheWindowIsRestoredAndTheFlashHoldsTheImage) {
    Start();
    TfrmUserFlash& window = Window();
    bool hourglassInDialogs = true;
    int dialogsAfterSecondClick = -1;
    ModalScript script;
    script
        .Then(ModalScript::Inspect(
            [&](QWidget*) {
                hourglassInDialogs = hourglassInDialogs && HourglassShown();
                // A second click while the run is under way starts nothing.
                window.btnStart->click();
                window.btnStartClick();
                dialogsAfterSecondClick = static_cast<int>(script.Shown().size());
            },
            ModalScript::PickNextPortAndOk()))
        .Then(ModalScript::Inspect([&](QWidget*) { hourglassInDialogs &= HourglassShown(); },
                                   ModalScript::Click("btnNext")))
        .Then(ModalScript::Inspect(
            [&](QWidget*) {
                hourglassInDialogs &= HourglassShown();
                EXPECT_NE(window.lblProgress->text(), QStringLiteral("Progress"))
                    << "the last status text stays while the message is shown";
                EXPECT_FALSE(window.lblProgress->text().isEmpty());
                EXPECT_FALSE(window.btnStart->isEnabled());
                EXPECT_FALSE(window.Flash->Device.Port.Connected()) << "closed before the message";
            },
            ModalScript::ClickButton(QStringLiteral("OK"))));
    PressStart();

    EXPECT_EQ(script.Shown(), (QStringList{PortDialog, Wizard, Success}));
    EXPECT_EQ(dialogsAfterSecondClick, 1);
    EXPECT_TRUE(hourglassInDialogs);
    ExpectRestored(window, "after the run");
    EXPECT_TRUE(FlashHoldsTheImage());
    EXPECT_TRUE(Unit().WaitFor([](const SimStatus& s) { return s.Runs == 1; }, 5s));
    const SimStatus status = Unit().Status();
    EXPECT_EQ(status.UserConnects, 1);
    EXPECT_EQ(status.BootAttempts, 0);
    EXPECT_EQ(status.Erases, 1);
    EXPECT_EQ(status.Programs, 1);
    EXPECT_EQ(status.Verifies, 1);
    EXPECT_EQ(window.SelectionPort.Port(), Unit().SlavePath());
}

TEST_F(RunTest, CancelInThePortDialogOrTheWizardEndsTheRunWithoutAByteOnTheWire) {
    struct Case {
        const char* where;
        std::vector<ModalScript::Step> steps;
        QStringList shown;
    };
    const Case cases[] = {
        {"port dialog, Cancel", {ModalScript::Click("btnCancel")}, {PortDialog, Cancelled}},
        {"port dialog, Escape", {ModalScript::Key(Qt::Key_Escape)}, {PortDialog, Cancelled}},
        {"port dialog, close box", {ModalScript::CloseBox()}, {PortDialog, Cancelled}},
        {"wizard, Cancel",
         {ModalScript::PickNextPortAndOk(), ModalScript::Click("btnCancel")},
         {PortDialog, Wizard, Cancelled}},
        {"wizard, close box",
         {ModalScript::PickNextPortAndOk(), ModalScript::CloseBox()},
         {PortDialog, Wizard, Cancelled}},
    };
    Start();
    for (const Case& c : cases) {
        ModalScript script;
        for (const ModalScript::Step& step : c.steps)
            script.Then(step);
        // The failure is shown after the window is restored.
        script.Then(ModalScript::Inspect([&](QWidget*) { ExpectRestored(Window(), c.where); },
                                         ModalScript::ClickButton(QStringLiteral("OK"))));
        PressStart();
        EXPECT_EQ(script.Shown(), c.shown) << c.where;
    }
    EXPECT_TRUE(Unit().Trace().empty()) << "no byte may reach the unit";
    EXPECT_EQ(Unit().Status().UserConnects + Unit().Status().BootAttempts, 0);
}

TEST_F(RunTest, TheWizardIsSkippedOnlyWhenPictureAndInstructionsAreBothMissing) {
    struct Case {
        const char* name;
        QByteArray picture;
        std::uint8_t pictureType;
        std::string text;
        bool wizardShown;
    };
    const Case cases[] = {
        {"both missing", QByteArray(), 0, "", false},
        {"unsupported picture type, no text", EncodeTestImage("BMP"), 2, "", false},
        {"only the picture", EncodeTestImage("JPG", 64, 48), 1, "", true},
        {"only the instructions", QByteArray(), 0, "Plug in the cable.", true},
    };
    for (const Case& c : cases) {
        ReleaseOptions options;
        options.Picture = c.picture;
        options.PictureType = c.pictureType;
        options.WizardText = c.text;
        Start(options);
        ModalScript script;
        script.Then(ModalScript::PickNextPortAndOk());
        if (c.wizardShown)
            script.Then(ModalScript::Click("btnNext"));
        script.Then(ModalScript::ClickButton(QStringLiteral("OK")));
        PressStart();
        const QStringList expected = c.wizardShown ? QStringList{PortDialog, Wizard, Success}
                                                   : QStringList{PortDialog, Success};
        EXPECT_EQ(script.Shown(), expected) << c.name;
    }
}

TEST_F(RunTest, TwentyOneInstructionLinesShowThePictureWithoutInstructions) {
    ReleaseOptions options;
    for (int i = 1; i <= 21; ++i)
        options.WizardText += "Line " + std::to_string(i) + "\r\n";
    Start(options);
    TfrmConnectWiz& wizard = FProgram->frmConnectWiz();
    bool pictureShown = false;
    int labels = -1;
    ModalScript script;
    script.Then(ModalScript::PickNextPortAndOk())
        .Then(ModalScript::Inspect(
            [&](QWidget*) {
                pictureShown = !wizard.Image->pixmap().isNull();
                labels = static_cast<int>(wizard.PanelText->findChildren<QLabel*>().size());
            },
            ModalScript::Click("btnNext")))
        .Then(ModalScript::ClickButton(QStringLiteral("OK")));
    PressStart();
    EXPECT_EQ(script.Shown(), (QStringList{PortDialog, Wizard, Success}));
    EXPECT_TRUE(pictureShown);
    EXPECT_EQ(labels, 0);
    EXPECT_EQ(wizard.Image->size(), QSize(200, 149));
}

TEST_F(RunTest, WhenTheUserMethodFailsNoCancelsTheRun) {
    Start({}, [](SimConfig& c) { c.NoUserMethod = true; });
    ModalScript script;
    ThroughWizard(script)
        .Then(ModalScript::Inspect(
            [&](QWidget*) {
                EXPECT_FALSE(Window().Flash->Device.Port.Connected()) << "closed before asking";
            },
            ModalScript::ClickButton(QStringLiteral("No"))))
        .Then(ModalScript::ClickButton(QStringLiteral("OK")));
    PressStart();
    EXPECT_EQ(script.Shown(),
              (QStringList{PortDialog, Wizard,
                           Question(QStringLiteral("No reply to start command")), Cancelled}));
    EXPECT_EQ(Unit().Status().BootAttempts, 0);
    ExpectRestored(Window(), "after No");
}

TEST_F(RunTest, YesTriesTheBootMethodWithTheResetPromptAndEveryRunAsksAgain) {
    Start({}, [](SimConfig& c) {
        c.NoUserMethod = true;
        c.ResetAfter = 2;
    });
    for (int run = 1; run <= 2; ++run) {
        PromptWatch prompt;
        ModalScript script;
        ThroughWizard(script)
            .Then(ModalScript::ClickButton(QStringLiteral("Yes")))
            .Then(ModalScript::ClickButton(QStringLiteral("OK")));
        PressStart();
        ASSERT_EQ(script.Shown().size(), 4) << "run " << run;
        EXPECT_EQ(script.Shown()[2], Question(QStringLiteral("No reply to start command")));
        EXPECT_EQ(script.Shown()[3], Success) << "run " << run;
        EXPECT_EQ(prompt.texts, QStringList{QStringLiteral("Reset the Unit")}) << "run " << run;
        EXPECT_EQ(Window().Selection.Mode, ConnectModeBoot);
    }
    EXPECT_TRUE(FlashHoldsTheImage());
    EXPECT_EQ(Unit().Status().BootConnects, 2);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<TdlgUserPrompt*>(w)) {
            EXPECT_FALSE(w->isVisible()) << "the prompt is put away after the run";
        }
    }
}

TEST_F(RunTest, ABootFailureIsShownOnceWithNoSecondQuestion) {
    struct Case {
        const char* name;
        bool cancelPrompt;
        QString question;
        QString failure;
    };
    const Case cases[] = {
        // The unit reports another flash length: both methods meet the same mismatch.
        {"identity mismatch", false, Question(QStringLiteral("Flash uP does not match definition")),
         QStringLiteral("Widget 3000 Release 7 | Flash uP does not match definition.")},
        {"reset prompt cancelled", true, QString(), Cancelled},
    };
    for (const Case& c : cases) {
        Start({}, [&](SimConfig& config) {
            if (c.cancelPrompt) {
                config.NoUserMethod = true;
            } else {
                config.FlashLength = 0x3D000;
                config.ResetAfter = 1;
            }
        });
        PromptWatch prompt(c.cancelPrompt);
        ModalScript script;
        ThroughWizard(script)
            .Then(ModalScript::ClickButton(QStringLiteral("Yes")))
            .Then(ModalScript::ClickButton(QStringLiteral("OK")));
        PressStart();
        ASSERT_EQ(script.Shown().size(), 4) << c.name;
        if (!c.question.isEmpty()) {
            EXPECT_EQ(script.Shown()[2], c.question) << c.name;
        }
        EXPECT_EQ(script.Shown()[3], c.failure) << c.name;
        EXPECT_FALSE(Window().Flash->Device.Port.Connected()) << c.name;
        EXPECT_EQ(Unit().Status().Erases, 0) << c.name;
        ExpectRestored(Window(), c.name);
    }
}

TEST_F(RunTest, AnImageOfNoWholeBlocksIsErasedThenRefused) {
    ReleaseOptions options;
    options.Image = ReleaseOptions::DefaultImage(1000);
    Start(options);
    ModalScript script;
    ThroughWizard(script).Then(ModalScript::ClickButton(QStringLiteral("OK")));
    PressStart();
    EXPECT_EQ(script.Shown(),
              (QStringList{PortDialog, Wizard,
                           QStringLiteral("Widget 3000 Release 7 | Buffer size is not a multiple "
                                          "of the programming block size.")}));
    EXPECT_EQ(Unit().Status().Erases, 1);
    EXPECT_EQ(Unit().Status().Programs, 0);
    EXPECT_FALSE(Window().Flash->Device.Port.Connected());
}

TEST_F(RunTest, ACloseDuringTheRunIsRefusedAndTheRunGoesOn) {
    Start();
    TfrmUserFlash& window = Window();
    std::optional<bool> closed;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!closed && Unit().Status().Switches >= 1) {
            closer.stop();
            closed = window.close();
        }
    });
    closer.start(5);
    ModalScript script;
    ThroughWizard(script)
        .Then(ModalScript::ClickButton(QStringLiteral("OK")))
        .Then(ModalScript::ClickButton(QStringLiteral("OK")));
    PressStart();

    ASSERT_TRUE(closed.has_value()) << "the run never handled messages while connected";
    EXPECT_FALSE(*closed);
    EXPECT_EQ(script.Shown(),
              (QStringList{PortDialog, Wizard,
                           QStringLiteral("Error | Programming in Progress. Please wait until "
                                          "programming is complete."),
                           Success}));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(FlashHoldsTheImage());
    EXPECT_TRUE(window.close()) << "after the run, closing works at once";
}
