// Text lookup, and the three language files the build puts beside the programs.
#include "profile/language_text.h"

#include <gtest/gtest.h>

#include <set>

#include "app/app_strings.h"
#include "platform/system.h"
#include "profile/ini_file.h"
#include "tests/profile/test_files.h"

namespace tavix {
namespace {

TEST(LoadTextTest, MissingFileSectionOrKeyGivesEmptyText) {
    TempFolder folder;
    std::string path = folder.File("language_eng.ini");
    EXPECT_EQ(u"", LoadText(u"STOP", path));  // no file

    WriteBytes(path, Le(u"[login]\r\nSTOP=Stopped\r\n"));
    EXPECT_EQ(u"", LoadText(u"STOP", path));  // no section

    WriteBytes(path, Le(u"[language]\nSTOP=Stopped\r\n"));
    EXPECT_EQ(u"", LoadText(u"STOP", path));  // a header with a lone LF is none

    WriteBytes(path, Le(u"[language]\r\nPLAYING=Playing\r\nSTOP=Stopped"));
    EXPECT_EQ(u"Playing", LoadText(u"PLAYING", path));
    EXPECT_EQ(u"", LoadText(u"STOP", path));  // last line without a line end
    EXPECT_EQ(u"", LoadText(u"BUFFERING", path));

    EXPECT_EQ(u"", LoadText(u"PLAYING", ""));  // start-up could not find the program
}

TEST(LoadTextTest, AnEditShowsAtTheNextLookup) {
    TempFolder folder;
    std::string path = folder.File("language_eng.ini");
    WriteBytes(path, Le(u"[language]\r\nSTOP=Stopped\r\n"));
    EXPECT_EQ(u"Stopped", LoadText(u"STOP", path));
    WriteBytes(path, Le(u"[language]\r\nSTOP=Halted\r\n"));
    EXPECT_EQ(u"Halted", LoadText(u"STOP", path));
}

// The first 27 keys, then those of the desktop viewer.
// clang-format off
const char16_t* const kKeys[] = {
    u"D_IP", u"D_PORT", u"U_NAME", u"PASSWORD", u"IP_ISNULL", u"U_NULL", u"LOGIN_ERR",
    u"LOGIN", u"CAMERA", u"FULL", u"ABOUT", u"EXIT", u"BACK", u"VERSION",
    u"BUILD", u"DEVICE", u"OPENING_V", u"BUFFERING", u"PLAYING", u"STOP", u"OPEN_ERR",
    u"D_DIS", u"UP_DOWN", u"LEFT_RIGHT", u"ZOOM", u"IRIS", u"FOCUS",
    u"TILE_CLOSE", u"RECONNECTING", u"SNAPSHOT", u"SNAPSHOT_SAVED", u"SNAPSHOT_FAILED",
    u"STAT_DECODE", u"STAT_DROPPED", u"STAT_DELAY", u"KEYS", u"LOGIN_KEY", u"LAYOUT_KEY",
    u"FULL_KEY", u"TILE_KEY", u"STOP_KEY", u"SNAPSHOT_KEY", u"STATS_KEY", u"PTZ_KEY",
    u"ZOOM_KEY", u"TREE_KEY", u"EXIT_KEY", u"HELP_KEY", u"PWD_FILE", u"STREAM_AUTO",
    u"STREAM_MAIN", u"STREAM_SUB", u"VIEWS", u"VIEW_SAVE", u"VIEW_RENAME", u"VIEW_DELETE",
    u"VIEW_NAME", u"VIEW_SAVED", u"VIEW_NOT_SAVED", u"VIEW_SHOWN", u"VIEW_OTHER", u"VIEW_UNKNOWN",
    u"VIEW_KEY", u"RECORDERS", u"REC_ADD", u"REC_EDIT", u"REC_REMOVE", u"REC_CONNECT",
    u"REC_DISCONNECT", u"REC_NAME", u"REC_PORT", u"REC_TWICE", u"REC_NOT_SAVED", u"REC_CONNECTED",
    u"REC_CONNECTING", u"REC_LOST", u"REC_REFUSED", u"REC_OFFLINE", u"REC_KEY", u"LAYOUTS",
    u"ZOOM_RESET", u"TILES_MERGE", u"TILE_SPLIT", u"SNAPSHOT_WHOLE", u"LAYOUT_STEP_KEY", u"MERGE_KEY",
    u"DIGITAL_KEY", u"DIGITAL_MOUSE_KEY",
};
// clang-format on

const char* const kLanguageFiles[] = {"language_chn.ini", "language_eng.ini", "language_tur.ini"};

// Where start-up looks for them: beside the running program.
std::string ProgramFolder() {
    return ProgramDirectory(ModuleFileName());
}

TEST(LanguageFilesTest, EveryFileHoldsEveryKeyInTheStoreLayout) {
    ASSERT_EQ(88u, std::size(kKeys));
    for (const char* name : kLanguageFiles) {
        SCOPED_TRACE(name);
        std::string path = ProgramFolder() + name;
        Bytes bytes = ReadBytes(path);
        ASSERT_EQ(0u, bytes.size() % 2);
        std::u16string text;
        for (size_t i = 0; i < bytes.size(); i += 2)
            text += ReadLe16(&bytes[i]);

        // What the store writes into a new file: the header, then KEY=value CR LF lines; no
        // byte-order mark, no blank line, no zero unit, nothing after the last line end.
        const std::u16string header = u"[language]\r\n";
        ASSERT_EQ(0u, text.rfind(header, 0));
        ASSERT_EQ(u"\r\n", text.substr(text.size() - 2));
        EXPECT_EQ(std::u16string::npos, text.find(u'\0'));
        std::set<std::u16string> seen;
        for (size_t start = header.size(); start < text.size();) {
            size_t end = text.find(u"\r\n", start);
            std::u16string line = text.substr(start, end - start);
            start = end + 2;
            size_t equals = line.find(u'=');
            ASSERT_NE(std::u16string::npos, equals);
            std::u16string key = line.substr(0, equals), value = line.substr(equals + 1);
            std::string keyName(key.begin(), key.end());
            EXPECT_NE(std::end(kKeys), std::find(std::begin(kKeys), std::end(kKeys), key))
                << keyName << " is no key of ours";
            EXPECT_TRUE(seen.insert(key).second) << keyName << " twice";
            EXPECT_FALSE(value.empty()) << keyName;
            // Read back through the store: no value may hide another key.
            EXPECT_EQ(value, IniReadString(u"language", key, u"\r\n", path)) << keyName;
        }
        EXPECT_EQ(std::size(kKeys), seen.size());
    }
}

TEST(LanguageFilesTest, LoginCaptionMatchesTheLoginDialogSoftKey) {
    struct Case {
        const char* file;
        std::u16string login;
    } cases[] = {{"language_chn.ini", u"登录"},
                 {"language_eng.ini", u"Login"},
                 {"language_tur.ini", u"Giriş"}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.login, LoadText(u"LOGIN", ProgramFolder() + c.file)) << c.file;
    }
}

TEST(LanguageFilesTest, AboutBoxLabelsStandApartFromTheirValues) {
    for (const char* name : kLanguageFiles) {
        const std::string path = ProgramFolder() + name;
        // The version number follows the VERSION text directly; " : 2011-08-25" follows BUILD.
        std::u16string version = LoadText(u"VERSION", path), build = LoadText(u"BUILD", path);
        ASSERT_FALSE(version.empty()) << name;
        ASSERT_FALSE(build.empty()) << name;
        EXPECT_NE(std::u16string::npos, std::u16string(u" :：").find(version.back())) << name;
        EXPECT_NE(u' ', build.back()) << name;
    }
}

}  // namespace
}  // namespace tavix
