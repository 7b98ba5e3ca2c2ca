#include <gtest/gtest.h>

#include "app/app_strings.h"

namespace tavix {
namespace {

TEST(StartupPathsTest, ProgramDirectoryKeepsItsTrailingSeparator) {
    struct Case {
        const char* file;
        const char* directory;
    } cases[] = {
        {"\\Program Files\\Viewer\\viewer.exe", "\\Program Files\\Viewer\\"},
        {"\\viewer.exe", "\\"},
        {"viewer.exe", ""},
        {"/usr/local/bin/tavix", "/usr/local/bin/"},
        {"/tavix", "/"},
        // On Linux a backslash is an ordinary character of a file name.
        {"/opt/odd\\name/tavix", "/opt/odd\\name/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.directory, ProgramDirectory(c.file)) << c.file;
}

TEST(StartupPathsTest, PrimaryLanguageChoosesTheFile) {
    struct Case {
        int id;
        const char* file;
    } cases[] = {
        {0x0804, "language_chn.ini"}, {0x0404, "language_chn.ini"}, {0x041F, "language_tur.ini"},
        {0x0409, "language_eng.ini"}, {0x0411, "language_eng.ini"}, {0x0000, "language_eng.ini"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.file, LanguageFileName(c.id)) << c.id;
}

TEST(StartupPathsTest, LanguageFileLiesInTheProgramDirectory) {
    FindPaths("\\Program Files\\Viewer\\viewer.exe", 0x0409);
    EXPECT_EQ("\\Program Files\\Viewer\\", appDirectory);
    EXPECT_EQ("\\Program Files\\Viewer\\language_eng.ini", languageFile);

    FindPaths("viewer.exe", 0x041F);
    EXPECT_EQ("", appDirectory);
    EXPECT_EQ("language_tur.ini", languageFile);

    FindPaths("", 0x0804);  // the system did not tell the program's name
    EXPECT_EQ("", appDirectory);
    EXPECT_EQ("", languageFile);
}

TEST(StartupPathsTest, StartUpFindsTheRunningProgramThenRunsTheWindow) {
    bool ran = false;
    EXPECT_FALSE(InitInstance([&] {
        ran = true;
        EXPECT_NE(std::string::npos, appDirectory.find('/'));
        EXPECT_EQ('/', appDirectory.back());
        EXPECT_EQ(0u, languageFile.rfind(appDirectory, 0));
    }));
    EXPECT_TRUE(ran);
}

TEST(StartupPathsTest, FixedStrings) {
    EXPECT_EQ(u"Tavix", appTitle);
    EXPECT_EQ(u"1.00.4", appVersion);
}

}  // namespace
}  // namespace tavix
