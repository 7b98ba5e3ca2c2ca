// tavix: the live viewer. No command line of its own; Qt's platform options (-platform,
// -display, ...) are taken by Qt.
#include <QApplication>
#include <QString>

#include "app/app_strings.h"
#include "ui/dlg_main.h"

int main(int argc, char** argv) {
    // The Qt application object is the shell's one-time initialisation here.
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromUtf8(tavix::kSettingsKey));
    QCoreApplication::setApplicationName(QStringLiteral("tavix"));

    tavix::InitInstance([] {
        tavix::CDlgMain mainWindow;
        mainWindow.exec();
    });
    return 0;
}
