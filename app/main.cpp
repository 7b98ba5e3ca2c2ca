// tavix: the live viewer. No command line is needed: --help and --version answer (without a
// display); Qt's platform options (-platform, -display, ...) are taken by Qt.
#include <QApplication>
#include <QString>

#include <cstdio>

#include "app/app_strings.h"
#include "app/command_line.h"
#include "client/device_client.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_main.h"

int main(int argc, char** argv) {
    const tavix::StartOptions options = tavix::ParseStartOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "tavix: %s\n", options.error.c_str());
        return 2;
    }
    if (options.help || options.version) {
        std::fputs((options.help ? tavix::StartHelp() : tavix::StartVersion()).c_str(), stdout);
        return 0;
    }
    // Start-up fixes the program's paths first, before any other thread exists. Then the device
    // client, before any window (it is destroyed at the process's exit): its events reach
    // whichever main window is attached to the relay, which outlives it.
    tavix::InitInstance([&argc, argv, &options] {
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
        if (!options.view.empty() || options.fullScreen)
            mainWindow.StartWith(QString::fromStdString(options.view), options.fullScreen);
        mainWindow.exec();
    });
    return 0;
}
