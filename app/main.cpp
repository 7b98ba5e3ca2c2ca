// tavix: the live viewer. No command line of its own; Qt's platform options (-platform,
// -display, ...) are taken by Qt.
#include <QApplication>
#include <QString>

#include "app/app_strings.h"
#include "client/device_client.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_main.h"

int main(int argc, char** argv) {
    // The device client comes first and goes last: made here, before any window, and destroyed
    // at the process's exit. Its events reach whichever main window is attached to the relay,
    // which outlives it.
    tavix::DeviceClient& client = tavix::TheDeviceClient();
    client.SetEventSink(&tavix::DeviceEventRelay::Instance());

    // The Qt application object is the shell's one-time initialisation here.
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromUtf8(tavix::kSettingsKey));
    QCoreApplication::setApplicationName(QStringLiteral("tavix"));

    tavix::InitInstance([&client] {
        tavix::CDlgMain mainWindow(client);
        mainWindow.exec();
    });
    return 0;
}
