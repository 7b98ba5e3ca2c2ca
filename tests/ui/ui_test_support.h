// What the ui tests share: the screen and font they run with, a program folder of their own
// (their configuration folder too: login.ini goes there), the built language files.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/app_strings.h"
#include "client/device_client.h"
#include "platform/system.h"

namespace tavix {

// 12 pixels is the handheld's, but the usual fonts here jump from 11 to 13.
constexpr int kTestFontHeight = 13;
constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;

// Sizes the application font so that its line height is `height` pixels.
inline bool UseTestFont(int height) {
    QFont font = QApplication::font();
    for (int pixels = 4; pixels < 4 * height; ++pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).height() == height) {
            QApplication::setFont(font);
            return true;
        }
    }
    return false;
}

// Where the settings and login.ini go: $XDG_CONFIG_HOME, and Qt's settings store with it.
inline void UseConfigFolder(const QString& folder) {
    setenv("XDG_CONFIG_HOME", folder.toLocal8Bit().constData(), 1);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

// A test with its own program folder, the English language file and a device client of its own
// (no event sink: its events are dropped until a test sets one).
class ProgramFolderTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_EQ(kTestFontHeight, QFontMetrics(QApplication::font()).height());
        const std::string programFolder = ProgramDirectory(ModuleFileName());
        appDirectory = folder.path().toStdString() + "/";
        languageFile = programFolder + "language_eng.ini";
        UseConfigFolder(folder.path());
        ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("tavix")));
    }

    std::string LoginIni() const { return appDirectory + "tavix/login.ini"; }

    // login.ini as text (UTF-16LE), or empty when there is none.
    std::u16string LoginIniText() const {
        QFile file(QString::fromStdString(LoginIni()));
        if (!file.open(QIODevice::ReadOnly)) return {};
        const QByteArray bytes = file.readAll();
        return std::u16string(reinterpret_cast<const char16_t*>(bytes.constData()),
                              static_cast<size_t>(bytes.size() / 2));
    }

    QTemporaryDir folder;
    DeviceClient client;
};

}  // namespace tavix
