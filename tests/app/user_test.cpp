#include "app/about.h"
#include "app/forms.h"
#include "app/program.h"
#include "app/user.h"
#include "tests/app/app_fixture.h"
#include "tests/app/modal.h"
#include "tests/app/release_block.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include <functional>

namespace {

using StartupTest = AppTest;

QRgb ShownIconColour(const TfrmUserFlash& window) {
    return window.ImageIcon->pixmap().toImage().pixel(5, 20);
}

} // namespace

TEST_F(StartupTest, AnUnusablePackageIsReportedOnceAndStartStaysDisabled) {
    struct Case {
        const char* name;
        std::function<TTestBlock()> block;
        const char* reason;
    };
    const Case cases[] = {
        {"wrong checksum",
         [] {
             TTestBlock block = ReleaseBlock();
             block.Payload()[PackageLayout::ImageSlot + 5] ^= 0x40;
             return block;
         },
         "Stored data is not valid"},
        {"structure version 1",
         [] {
             ReleaseOptions options;
             options.Version = 1;
             return ReleaseBlock(options);
         },
         "Structure version does not match"},
        {"template (all zero)", [] { return TTestBlock(); }, "Stored data is not valid"},
    };
    for (const Case& c : cases) {
        TTestBlock block = c.block();
        ModalScript script;
        script.Then(ModalScript::ClickButton(QStringLiteral("OK")));
        TProgram program(block.Data(), {});
        TfrmUserFlash& window = program.frmUserFlash();

        EXPECT_EQ(script.Shown(),
                  QStringList{QStringLiteral("Daltoven Flash Programmer | No Valid FLASH Image "
                                             "Present! (%1).")
                                  .arg(QString::fromLatin1(c.reason))})
            << c.name;
        EXPECT_FALSE(window.btnStart->isEnabled()) << c.name;
        EXPECT_FALSE(window.PackageValid) << c.name;
        EXPECT_EQ(window.windowTitle(), QString::fromLatin1(DefaultTitle)) << c.name;
        EXPECT_EQ(Application::Title(), DefaultTitle) << c.name;
        EXPECT_EQ(program.frmAbout().windowTitle(), QStringLiteral("About ") + DefaultTitle);
        EXPECT_EQ(window.lblProgress->text(), QStringLiteral("Progress"));
        EXPECT_EQ(window.ProgressBar->value(), 0);
        EXPECT_EQ(ShownIconColour(window), ApplicationIconColour()) << c.name;

        // A click on the disabled button, or a call from elsewhere, starts nothing.
        window.btnStartClick();
        EXPECT_EQ(script.Shown().size(), 1) << c.name;
    }
}

TEST_F(StartupTest, AnEmptyTitleKeepsTheDefaultCaptions) {
    ReleaseOptions options;
    options.Title = "";
    TTestBlock block = ReleaseBlock(options);
    ModalScript script;
    TProgram program(block.Data(), {});
    TfrmUserFlash& window = program.frmUserFlash();

    EXPECT_TRUE(script.Shown().isEmpty());
    EXPECT_TRUE(window.PackageValid);
    EXPECT_TRUE(window.btnStart->isEnabled());
    EXPECT_EQ(window.windowTitle(), QString::fromLatin1(DefaultTitle));
    EXPECT_EQ(program.frmAbout().windowTitle(), QStringLiteral("About ") + DefaultTitle);

    script.Then(ModalScript::Inspect(
        [](QWidget* about) {
            EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("lblBinaryImage"))->text(),
                      QStringLiteral("No Flash Image Available"));
        },
        ModalScript::Click("btnOk")));
    window.ShowAbout();
    EXPECT_TRUE(script.Done());
}

TEST_F(StartupTest, TheTitleReachesTheWindowTheApplicationAndTheAboutBox) {
    TTestBlock block = ReleaseBlock();
    TProgram program(block.Data(), {});
    TfrmUserFlash& window = program.frmUserFlash();

    EXPECT_TRUE(window.btnStart->isEnabled());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Widget 3000 Release 7"));
    EXPECT_EQ(Application::Title(), "Widget 3000 Release 7");
    EXPECT_EQ(program.frmAbout().windowTitle(), QStringLiteral("About Widget 3000 Release 7"));
    EXPECT_EQ(program.frmAbout().lblBinaryImage->text(),
              QStringLiteral("No Flash Image Available"));

    // Twice: the text is set again each time and stays the same.
    for (int i = 0; i < 2; ++i) {
        QString imageText;
        ModalScript script;
        script.Then(ModalScript::Inspect(
            [&](QWidget* about) {
                imageText = about->findChild<QLabel*>(QStringLiteral("lblBinaryImage"))->text();
            },
            ModalScript::Click("btnOk")));
        EXPECT_TRUE(window.WMSysCommand(AboutMenuCommand));
        EXPECT_EQ(imageText, QStringLiteral("Flash Image: Widget 3000 Release 7"));
    }
}

TEST_F(StartupTest, TheStoredLogoReplacesTheIconOnlyWhenItLoads) {
    struct Case {
        const char* name;
        QByteArray logo;
        QRgb shown;
    };
    const Case cases[] = {
        {"icon file", EncodeTestImage("ICO", 32, 32), QColor(Qt::darkCyan).rgb()},
        {"empty slot", QByteArray(), ApplicationIconColour()},
        {"not an icon", QByteArray("this is no icon file at all"), ApplicationIconColour()},
        {"a bitmap file", EncodeTestImage("BMP", 32, 32), ApplicationIconColour()},
    };
    for (const Case& c : cases) {
        ReleaseOptions options;
        options.Logo = c.logo;
        TTestBlock block = ReleaseBlock(options);
        ModalScript script;
        TProgram program(block.Data(), {});
        EXPECT_TRUE(script.Shown().isEmpty()) << c.name << ": nothing is reported";
        EXPECT_TRUE(program.frmUserFlash().PackageValid) << c.name;
        EXPECT_EQ(ShownIconColour(program.frmUserFlash()), c.shown) << c.name;
    }
}

using MainWindowTest = AppTest;

TEST_F(MainWindowTest, ClosingIsRefusedWhileBusy) {
    TTestBlock block = ReleaseBlock();
    TProgram program(block.Data(), {});
    TfrmUserFlash& window = program.frmUserFlash();
    window.show();

    window.SetBusy(true);
    EXPECT_FALSE(window.btnStart->isEnabled());
    ModalScript script;
    script.Then(ModalScript::ClickButton(QStringLiteral("OK")));
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(script.Shown(),
              QStringList{QStringLiteral("Error | Programming in Progress. Please wait until "
                                         "programming is complete.")});

    window.SetBusy(false);
    EXPECT_TRUE(window.btnStart->isEnabled());
    EXPECT_TRUE(window.close());
    EXPECT_EQ(script.Shown().size(), 1);
}

TEST_F(MainWindowTest, TheContextMenuCarriesASeparatorAndAboutWhichOpensTheBox) {
    TTestBlock block = ReleaseBlock();
    TProgram program(block.Data(), {});
    TfrmUserFlash& window = program.frmUserFlash();

    EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
    const QList<QAction*> actions = window.actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("About..."));
    EXPECT_EQ(actions[1]->data().toUInt(), AboutMenuCommand);

    ModalScript script;
    script.Then(ModalScript::Click("btnOk"));
    actions[1]->trigger();
    EXPECT_EQ(script.Shown(), QStringList{QStringLiteral("About Widget 3000 Release 7")});
}

TEST_F(MainWindowTest, OtherCommandsAreNotTheAboutCommand) {
    TTestBlock block = ReleaseBlock();
    TProgram program(block.Data(), {});
    ModalScript script;
    // Compared whole: a value that only shares the low bits is another command.
    for (unsigned command : {0u, 1024u, 1026u, 0xF060u, 0x10000u | AboutMenuCommand})
        EXPECT_FALSE(program.frmUserFlash().WMSysCommand(command)) << command;
    Application::ProcessMessages();
    EXPECT_TRUE(script.Shown().isEmpty());
}
