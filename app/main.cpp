// The program entry: the application, its title and icon, the standard exception display, then
// the windows in their order, and the message loop until the main window closes.

#include "app/messagedlg.h"
#include "app/program.h"
#include "app/user.h"
#include "package/block.h"
#include "platform/application.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Application::SetTitle("Daltoven Flash Programmer");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/daltoven-flash.png")));
    Application::SetExceptionHandler(ShowException);

    TProgram program(PackageBlock());
    program.frmUserFlash().show();
    return app.exec();
}
