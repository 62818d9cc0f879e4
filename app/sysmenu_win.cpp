// The About entry on the window's real system menu: a separator, then "About..." with its
// command identifier; the system-command message brings it back to WMSysCommand.
#include "app/user.h"

#include "platform/application.h"

#include <windows.h>

void TfrmUserFlash::AddAboutMenu() {
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, L"");
    AppendMenuW(menu, MF_STRING, AboutMenuCommand, L"About...");
}

bool TfrmUserFlash::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (eventType == "windows_generic_MSG" && msg->message == WM_SYSCOMMAND) {
        bool handled = false;
        Application::Guarded([&] { handled = WMSysCommand(static_cast<unsigned>(msg->wParam)); });
        if (handled) {
            *result = 0;
            return true;
        }
    }
    return QWidget::nativeEvent(eventType, message, result);
}
