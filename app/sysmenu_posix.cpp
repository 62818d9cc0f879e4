// The About entry where the window manager owns the title bar's menu (X11, Wayland): the same
// two entries on the window's own context menu, reaching the same command handler.
#include "app/user.h"

#include "platform/application.h"

#include <QAction>

void TfrmUserFlash::AddAboutMenu() {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    separator->setData(0u);
    auto* about = new QAction(QStringLiteral("About..."), this);
    about->setObjectName(QStringLiteral("actAbout"));
    about->setData(AboutMenuCommand);
    connect(about, &QAction::triggered, this,
            [this] { Application::Guarded([this] { WMSysCommand(AboutMenuCommand); }); });
    addAction(separator);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

bool TfrmUserFlash::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    return QWidget::nativeEvent(eventType, message, result);
}
