// dv-screenshots OUTDIR PACKAGE: renders each window and dialog of the program to a PNG file in
// OUTDIR, the way a user meets them: the start-up report of the template, then the sample
// release's window, its About box, and one programming run against a simulated unit (port
// dialog, wizard, the boot question, the reset prompt, the transfer and the success message).
// Each picture gets a plain title bar with the window's caption, since no window manager draws
// one under Xvfb.

#include "app/about.h"
#include "app/messagedlg.h"
#include "app/program.h"
#include "app/user.h"
#include "app/userprompt.h"
#include "package/block.h"
#include "package/layout.h"
#include "package/release_file.h"
#include "platform/application.h"
#include "sim/unit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace {

QString OutDir;
int Failures = 0;

void Save(QWidget* window, const QString& name) {
    const QPixmap content = window->grab();
    const int barHeight = 24;
    QPixmap framed(content.width() + 2, content.height() + barHeight + 1);
    framed.fill(QColor(90, 100, 115));
    QPainter painter(&framed);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(8, 0, framed.width() - 40, barHeight), Qt::AlignVCenter,
                     window->windowTitle());
    if (window->windowFlags() & Qt::WindowCloseButtonHint)
        painter.drawText(QRect(framed.width() - 26, 0, 20, barHeight), Qt::AlignCenter,
                         QStringLiteral("\u2715"));
    painter.drawPixmap(1, barHeight, content);
    painter.end();
    const QString path = QDir(OutDir).filePath(name + QStringLiteral(".png"));
    if (!framed.save(path)) {
        std::fprintf(stderr, "dv-screenshots: cannot write %s\n", qPrintable(path));
        ++Failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Answers the modal windows in the order they come: saves each, then presses its button.
class ModalAnswers : public QObject {
public:
    struct Answer {
        QString picture;
        QString button; // object name, or a message box button's text
    };
    explicit ModalAnswers(std::vector<Answer> answers) : FAnswers(answers.begin(), answers.end()) {
        connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
        FTimer.start(50);
    }

    ~ModalAnswers() override {
        for (const Answer& answer : FAnswers) {
            std::fprintf(stderr, "dv-screenshots: %s never came\n", qPrintable(answer.picture));
            ++Failures;
        }
    }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == FLast || FAnswers.empty())
            return;
        FLast = modal;
        const Answer answer = FAnswers.front();
        FAnswers.pop_front();
        Save(modal, answer.picture);
        Press(modal, answer.button);
    }
    static void Press(QWidget* modal, const QString& button) {
        if (auto* named = modal->findChild<QAbstractButton*>(button)) {
            named->click();
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            for (QAbstractButton* b : box->buttons()) {
                if (b->text().remove(QLatin1Char('&')) == button) {
                    b->click();
                    return;
                }
            }
        }
        std::fprintf(stderr, "dv-screenshots: no button %s on %s\n", qPrintable(button),
                     qPrintable(modal->windowTitle()));
        ++Failures;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }

    std::deque<Answer> FAnswers;
    QPointer<QWidget> FLast;
    QTimer FTimer;
};

// Saves a picture once, the first time the condition holds.
class SaveWhen : public QObject {
public:
    SaveWhen(std::function<QWidget*()> ready, QString picture)
        : FReady(std::move(ready)), FPicture(std::move(picture)) {
        connect(&FTimer, &QTimer::timeout, this, [this] {
            if (QWidget* window = FReady()) {
                FTimer.stop();
                Save(window, FPicture);
            }
        });
        FTimer.start(20);
    }

private:
    std::function<QWidget*()> FReady;
    QString FPicture;
    QTimer FTimer;
};

TdlgUserPrompt* VisiblePrompt() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* prompt = qobject_cast<TdlgUserPrompt*>(w); prompt && prompt->isVisible())
            return prompt;
    return nullptr;
}

void TemplateStartup() {
    const std::vector<std::uint8_t> empty(PackageLayout::BlockSize, 0);
    ModalAnswers answers({{QStringLiteral("startup-no-valid-image"), QStringLiteral("OK")}});
    TProgram program(empty.data(), {});
    program.frmUserFlash().show();
    QApplication::processEvents();
    Save(&program.frmUserFlash(), QStringLiteral("main-window-template"));
}

void SampleRelease(const std::vector<std::uint8_t>& block) {
    SimConfig config;
    config.LoadRelease(block);
    // The user method fails, so the run shows the boot question and the reset prompt too.
    config.NoUserMethod = true;
    config.ResetAfter = 15;
    config.WireTiming = true;
    SimulatedUnit unit(config);
    unit.Start();

    TProgram program(block.data(), {unit.PortName(), "/dev/ttyS0", "/dev/ttyUSB0"});
    TfrmUserFlash& window = program.frmUserFlash();
    window.SelectionPort.SetPort(unit.PortName());
    window.show();
    QApplication::processEvents();
    Save(&window, QStringLiteral("main-window"));

    {
        ModalAnswers answers({{QStringLiteral("about"), QStringLiteral("btnOk")}});
        window.WMSysCommand(AboutMenuCommand);
    }

    ModalAnswers answers({{QStringLiteral("port-dialog"), QStringLiteral("btnOk")},
                          {QStringLiteral("wizard"), QStringLiteral("btnNext")},
                          {QStringLiteral("boot-question"), QStringLiteral("Yes")},
                          {QStringLiteral("success"), QStringLiteral("OK")}});
    SaveWhen prompt([] { return VisiblePrompt(); }, QStringLiteral("reset-prompt"));
    SaveWhen programming(
        [&window]() -> QWidget* {
            const bool halfWay =
                window.lblProgress->text() == QStringLiteral("Programming FLASH...") &&
                window.ProgressBar->value() * 2 >= window.ProgressBar->maximum();
            return halfWay ? &window : nullptr;
        },
        QStringLiteral("programming"));
    window.btnStart->click();
    unit.Stop();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "Usage: dv-screenshots OUTDIR PACKAGE\n");
        return 2;
    }
    OutDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(OutDir)) {
        std::fprintf(stderr, "dv-screenshots: cannot make %s\n", argv[1]);
        return 1;
    }
    Application::SetTitle("Daltoven Flash Programmer");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/daltoven-flash.png")));
    // A failed run shows its message box, which no answer expects: the run's missing
    // pictures are then reported.
    Application::SetExceptionHandler(ShowException);
    try {
        TemplateStartup();
        SampleRelease(ReadPackageBlockFromFile(argv[2]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dv-screenshots: %s\n", e.what());
        return 1;
    }
    return Failures == 0 ? 0 : 1;
}
