// The ui tests run real widgets on Qt's offscreen platform, with the application font sized to a
// height of 13 pixels: on a 240 x 320 screen, the handheld's portrait one, or on the screen the
// build gives (the desktop's tests: 1280 x 720).
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QTemporaryDir>

#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/ui/ui_test_support.h"

// Qt is not built with ThreadSanitizer and hands memory between threads with locks it cannot
// see: its own threads (the painter works on large images in pieces on a thread pool), and an
// event posted from another thread (made there, read on the window's thread). Only what
// instrumented code does is checked, and what a posted event was made with is taken as handed
// over.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
extern "C" const char* __tsan_default_suppressions() {
    return "race_top:DeviceEvent::DeviceEvent\n";
}

#ifndef TAVIX_TEST_SCREEN_WIDTH
#define TAVIX_TEST_SCREEN_WIDTH 240
#define TAVIX_TEST_SCREEN_HEIGHT 320
#endif

int main(int argc, char** argv) {
    QTemporaryDir configFolder;
    const QString screens = configFolder.filePath(QStringLiteral("screens.json"));
    {
        QFile file(screens);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        file.write(QStringLiteral(R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": %1,
                       "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                       .arg(TAVIX_TEST_SCREEN_WIDTH)
                       .arg(TAVIX_TEST_SCREEN_HEIGHT)
                       .toUtf8());
    }
    const QByteArray platform = "offscreen:configfile=" + screens.toLocal8Bit();
    setenv("QT_QPA_PLATFORM", platform.constData(), 1);
    tavix::UseConfigFolder(configFolder.path());
    setenv("DBUS_SESSION_BUS_ADDRESS", "none:", 1);  // no keyring: passwords stay in login.ini
    QApplication application(argc, argv);
    if (!tavix::UseTestFont(tavix::kTestFontHeight)) return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
