// tavix: the live viewer. No command line of its own; Qt's platform options (-platform,
// -display, ...) are taken by Qt.
#include <QApplication>
#include <QString>

#include "app/app_strings.h"
#include "client/device_client.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_main.h"

int main(int argc, char** argv) {
    // Start-up fixes the program's paths first, before any other thread exists. Then the device
    // client, before any window (it is destroyed at the process's exit): its events reach
    // whichever main window is attached to the relay, which outlives it.
    tavix::InitInstance([&argc, argv] {
        tavix::DeviceClient& client = tavix::TheDeviceClient();
        client.SetEventSink(&tavix::DeviceEventRelay::Instance());
        // A viewer watched on a wall brings its lost links back by itself.
        client.SetReconnect(true);

        // The Qt application object is the shell's one-time initialisation here.
        QApplication application(argc, argv);
        QCoreApplication::setOrganizationName(QString::fromUtf8(tavix::kSettingsKey));
        QCoreApplication::setApplicationName(QStringLiteral("tavix"));
        // The desktop entry's name: how a Wayland compositor finds the program's icon and name.
        QGuiApplication::setDesktopFileName(QString::fromUtf8(tavix::kApplicationId));

        tavix::CDlgMain mainWindow(client);
        mainWindow.exec();
    });
    return 0;
}
