// The profile store on real files in a private temporary folder.
#include "profile/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <optional>

#include "tests/profile/test_files.h"

namespace tavix {
namespace {

using namespace std::literals;

const std::u16string kDefault = u"<default>";
const Bytes kByteOrderMark = {0xFF, 0xFE};

mode_t Mode(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(0, stat(path.c_str(), &info)) << path;
    return info.st_mode & 07777;
}

TEST(IniFileTest, FirstWriteCreatesExactlyHeaderAndKeyLine) {
    TempFolder folder;
    std::string path = folder.File("login.ini");
    EXPECT_EQ(kDefault, IniReadString(u"login", u"IP0", kDefault, path));

    EXPECT_EQ(1, IniWriteString(u"login", u"IP0", u"192.168.1.10", path));
    Bytes bytes = ReadBytes(path);
    EXPECT_EQ(54u, bytes.size());
    EXPECT_EQ(Le(u"[login]\r\nIP0=192.168.1.10\r\n"), bytes);
    // It holds a password: private whatever the umask, and no temporary file stays behind.
    EXPECT_EQ(0600u, Mode(path));
    EXPECT_EQ(std::vector<std::string>{"login.ini"}, folder.Names());
    EXPECT_EQ(u"192.168.1.10", IniReadString(u"login", u"IP0", kDefault, path));
}

TEST(IniFileTest, ReadFindsExactlyWhatTheFormatAllows) {
    struct Case {
        const char* name;
        Bytes file;
        std::u16string key;
        std::u16string expected;
    } cases[] = {
        {"empty file", {}, u"IP0", kDefault},
        {"header followed by a lone LF", Le(u"[login]\nIP0=1.2.3.4\r\n"), u"IP0", kDefault},
        {"header differing in case", Le(u"[Login]\r\nIP0=1.2.3.4\r\n"), u"IP0", kDefault},
        {"blanks around =", Le(u"[login]\r\nIP0 = 1.2.3.4\r\n"), u"IP0", kDefault},
        {"empty value", Le(u"[login]\r\nPwd0=\r\nUser0=admin\r\n"), u"Pwd0", u""},
        {"last line without CR LF", Le(u"[login]\r\nIP0=1.2.3.4"), u"IP0", kDefault},
        {"tail of an earlier key", Le(u"[login]\r\nIP0=10.0.0.1\r\nP0=x\r\n"), u"P0", u"10.0.0.1"},
        {"key in a later section", Le(u"[login]\r\n[other]\r\nIP0=b\r\n"), u"IP0", u"b"},
        {"key only before the header", Le(u"IP0=a\r\n[login]\r\n"), u"IP0", kDefault},
        {"header within a line", Le(u"x[login]\r\nIP0=a\r\n"), u"IP0", u"a"},
        {"first of two lines", Le(u"[login]\r\nIP0=1\r\nIP0=2\r\n"), u"IP0", u"1"},
        {"value with = [ ] and lone CR, LF", Le(u"[login]\r\nIP0=a=[b]\rc\nd\r\n"), u"IP0",
         u"a=[b]\rc\nd"},
        {"byte-order mark", kByteOrderMark + Le(u"[login]\r\nIP0=a\r\n"), u"IP0", u"a"},
        {"beyond the basic plane", Le(u"[login]\r\nUser0=用户ş😀\r\n"), u"User0", u"用户ş😀"},
        {"zero unit before the line end", Le(u"[login]\r\nIP0=a\0\r\n"s), u"IP0", kDefault},
        {"zero unit ends the text", Le(u"[login]\r\nIP0=a\r\n\0User0=b\r\n"s), u"User0", kDefault},
        {"text before a zero unit", Le(u"[login]\r\nIP0=a\r\n\0User0=b\r\n"s), u"IP0", u"a"},
        {"key holding a CR LF", Le(u"[login]\r\nA\r\nB=v\r\n"), u"A\r\nB", u"v"},
        {"odd last byte", Le(u"[login]\r\nIP0=a\r\n") + Bytes{'x'}, u"IP0", u"a"},
        {"line end cut by an odd length", Le(u"[login]\r\nIP0=a\r") + Bytes{0x0A}, u"IP0",
         kDefault},
    };
    TempFolder folder;
    std::string path = folder.File("login.ini");
    for (const Case& c : cases) {
        WriteBytes(path, c.file);
        EXPECT_EQ(c.expected, IniReadString(u"login", c.key, kDefault, path)) << c.name;
    }
}

TEST(IniFileTest, WriteChangesOnlyItsOwnValueLineOrBlock) {
    struct Case {
        const char* name;
        Bytes before;
        std::u16string key;
        std::u16string value;
        int result;
        Bytes after;
    } cases[] = {
        {"empty file", {}, u"IP0", u"1.2.3.4", 1, Le(u"[login]\r\nIP0=1.2.3.4\r\n")},
        {"header followed by a lone LF", Le(u"[login]\nIP0=1\r\n"), u"IP0", u"2", 1,
         Le(u"[login]\nIP0=1\r\n[login]\r\nIP0=2\r\n")},
        {"no line end before an appended block", Le(u"[other]\r\nk=v"), u"IP0", u"2", 1,
         Le(u"[other]\r\nk=v[login]\r\nIP0=2\r\n")},
        {"missing key goes first in its section",
         Le(u"[other]\r\nk=1\r\n[login]\r\nUser0=a\r\n[x]\r\ny=2\r\n"), u"Port0", u"34567", 1,
         Le(u"[other]\r\nk=1\r\n[login]\r\nPort0=34567\r\nUser0=a\r\n[x]\r\ny=2\r\n")},
        {"shorter value shrinks the file", Le(u"[login]\r\nIP0=192.168.100.200\r\nUser0=admin\r\n"),
         u"IP0", u"10.0.0.1", 1, Le(u"[login]\r\nIP0=10.0.0.1\r\nUser0=admin\r\n")},
        {"longer value", Le(u"[login]\r\nIP0=1\r\nUser0=admin\r\n"), u"IP0", u"host.example", 1,
         Le(u"[login]\r\nIP0=host.example\r\nUser0=admin\r\n")},
        {"empty value", Le(u"[login]\r\nPwd0=702914\r\n"), u"Pwd0", u"", 1,
         Le(u"[login]\r\nPwd0=\r\n")},
        {"last line without CR LF", Le(u"[login]\r\nIP0=1.2.3.4"), u"IP0", u"x", 0,
         Le(u"[login]\r\nIP0=1.2.3.4")},
        {"key found in a later section", Le(u"[login]\r\n[other]\r\nIP0=1\r\n"), u"IP0", u"2", 1,
         Le(u"[login]\r\n[other]\r\nIP0=2\r\n")},
        {"tail of an earlier key", Le(u"[login]\r\nIP0=1\r\n"), u"P0", u"2", 1,
         Le(u"[login]\r\nIP0=2\r\n")},
        {"byte-order mark stays", kByteOrderMark + Le(u"[login]\r\nIP0=a\r\n"), u"IP0", u"bb", 1,
         kByteOrderMark + Le(u"[login]\r\nIP0=bb\r\n")},
        {"nothing kept beyond a zero unit", Le(u"[login]\r\nIP0=a\r\n\0junk"s), u"User0", u"u", 1,
         Le(u"[login]\r\nUser0=u\r\nIP0=a\r\n")},
        {"odd last byte dropped", Le(u"[login]\r\nIP0=a\r\n") + Bytes{'x'}, u"IP0", u"b", 1,
         Le(u"[login]\r\nIP0=b\r\n")},
    };
    TempFolder folder;
    std::string path = folder.File("login.ini");
    for (const Case& c : cases) {
        WriteBytes(path, c.before);
        EXPECT_EQ(c.result, IniWriteString(u"login", c.key, c.value, path)) << c.name;
        EXPECT_EQ(c.after, ReadBytes(path)) << c.name;
        if (c.result == 1) {
            EXPECT_EQ(c.value, IniReadString(u"login", c.key, kDefault, path)) << c.name;
        }
    }
    EXPECT_EQ(std::vector<std::string>{"login.ini"}, folder.Names());
}

TEST(IniFileTest, FourKeysWrittenIntoANewFileEndInReverseOrder) {
    TempFolder folder;
    std::string path = folder.File("login.ini");
    EXPECT_EQ(1, IniWriteString(u"login", u"IP0", u"0.0.0.0", path));
    EXPECT_EQ(1, IniWriteString(u"login", u"Port0", u"34567", path));
    EXPECT_EQ(1, IniWriteString(u"login", u"User0", u"admin", path));
    EXPECT_EQ(1, IniWriteString(u"login", u"Pwd0", u"702914", path));
    EXPECT_EQ(Le(u"[login]\r\nPwd0=702914\r\nUser0=admin\r\nPort0=34567\r\nIP0=0.0.0.0\r\n"),
              ReadBytes(path));
    EXPECT_EQ(u"0.0.0.0", IniReadString(u"login", u"IP0", kDefault, path));
    EXPECT_EQ(34567, IniReadInt(u"login", u"Port0", 0, path));
    EXPECT_EQ(u"admin", IniReadString(u"login", u"User0", kDefault, path));
    EXPECT_EQ(u"702914", IniReadString(u"login", u"Pwd0", kDefault, path));
}

TEST(IniFileTest, EmptySectionKeyOrPathTouchesNothing) {
    TempFolder folder;
    std::string path = folder.File("login.ini");
    Bytes stored = Le(u"[login]\r\nIP0=a\r\n");
    WriteBytes(path, stored);
    struct Case {
        std::u16string section, key;
        std::string path;
    } cases[] = {{u"", u"IP0", path}, {u"login", u"", path}, {u"login", u"IP0", ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(kDefault, IniReadString(c.section, c.key, kDefault, c.path));
        EXPECT_EQ(0, IniWriteString(c.section, c.key, u"b", c.path));
        EXPECT_EQ(stored, ReadBytes(path));
    }
    EXPECT_EQ(std::vector<std::string>{"login.ini"}, folder.Names());
}

TEST(IniFileTest, WhatIsNoPlainFileReadsAsDefaultAndIsNotWritten) {
    TempFolder folder;
    std::string directory = folder.File("folder.ini");
    std::string pipe = folder.File("pipe.ini");
    std::string huge = folder.File("huge.ini");
    ASSERT_EQ(0, mkdir(directory.c_str(), 0700));
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));  // opening it must not wait for a writer
    // A length beyond 32 bits counts as a short read; sparse, so it costs no disk space.
    WriteBytes(huge, Le(u"[login]\r\nIP0=a\r\n"));
    ASSERT_EQ(0, truncate(huge.c_str(), (1LL << 32) + 2));
    for (const std::string& path : {directory, pipe, huge, folder.File("missing/login.ini")}) {
        EXPECT_EQ(kDefault, IniReadString(u"login", u"IP0", kDefault, path)) << path;
        EXPECT_EQ(0, IniWriteString(u"login", u"IP0", u"b", path)) << path;
    }
    EXPECT_EQ((1LL << 32) + 2, static_cast<long long>(std::filesystem::file_size(huge)));
    EXPECT_EQ(3u, folder.Names().size());
}

TEST(IniFileTest, RewriteKeepsTheModeOfAnExistingFile) {
    TempFolder folder;
    std::string path = folder.File("login.ini");
    for (mode_t mode : {0644, 0640, 0666}) {
        WriteBytes(path, Le(u"[login]\r\nIP0=a\r\n"));
        ASSERT_EQ(0, chmod(path.c_str(), mode));
        EXPECT_EQ(1, IniWriteString(u"login", u"IP0", u"b", path));
        EXPECT_EQ(mode, Mode(path));
    }
    // An existing empty file is written like a new one, but it is still the user's file.
    WriteBytes(path, {});
    ASSERT_EQ(0, chmod(path.c_str(), 0604));
    EXPECT_EQ(1, IniWriteString(u"login", u"IP0", u"c", path));
    EXPECT_EQ(Le(u"[login]\r\nIP0=c\r\n"), ReadBytes(path));
    EXPECT_EQ(0604u, Mode(path));

    if (geteuid() == 0) {  // only root can give the file to someone else to begin with
        ASSERT_EQ(0, chown(path.c_str(), 12345, 23456));
        EXPECT_EQ(1, IniWriteString(u"login", u"IP0", u"d", path));
        struct stat info {};
        ASSERT_EQ(0, stat(path.c_str(), &info));
        EXPECT_EQ(12345u, info.st_uid);
        EXPECT_EQ(23456u, info.st_gid);
    }
}

TEST(IniFileTest, SymbolicLinkStaysAndItsFileIsWritten) {
    TempFolder folder;
    std::string target = folder.File("real.ini");
    std::string link = folder.File("login.ini");
    WriteBytes(target, Le(u"[login]\r\nIP0=a\r\n"));
    ASSERT_EQ(0, symlink("real.ini", link.c_str()));
    EXPECT_EQ(1, IniWriteString(u"login", u"IP0", u"b", link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Le(u"[login]\r\nIP0=b\r\n"), ReadBytes(target));
}

// Sets a limit on the size of any file this process writes, like a disk that fills up.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        EXPECT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previousHandler);
    }

  private:
    rlimit saved{};
    sighandler_t previousHandler;
};

TEST(IniFileTest, FullDiskLeavesTheOldFileWhole) {
    TempFolder folder;
    std::string path = folder.File("login.ini");
    Bytes stored = Le(u"[login]\r\nIP0=192.168.1.10\r\nUser0=admin\r\n");
    WriteBytes(path, stored);
    {
        FileSizeLimit limit(stored.size());
        EXPECT_EQ(0, IniWriteString(u"login", u"IP0", u"camera-gateway.example.org", path));
    }
    EXPECT_EQ(stored, ReadBytes(path));
    EXPECT_EQ(std::vector<std::string>{"login.ini"}, folder.Names());
}

TEST(IniFileTest, FileWeMayNotChangeStaysAsItIs) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    TempFolder folder;
    std::string path = folder.File("login.ini");
    Bytes stored = Le(u"[login]\r\nIP0=a\r\n");
    WriteBytes(path, stored);

    ASSERT_EQ(0, chmod(path.c_str(), 0400));  // read-only file in a writable folder
    EXPECT_EQ(0, IniWriteString(u"login", u"IP0", u"b", path));
    EXPECT_EQ(stored, ReadBytes(path));

    ASSERT_EQ(0, chmod(path.c_str(), 0600));
    ASSERT_EQ(0, chmod(folder.path.c_str(), 0500));  // no room for the temporary file
    EXPECT_EQ(0, IniWriteString(u"login", u"IP0", u"b", path));
    EXPECT_EQ(0, IniWriteString(u"login", u"IP0", u"b", folder.File("new.ini")));
    ASSERT_EQ(0, chmod(folder.path.c_str(), 0700));
    EXPECT_EQ(stored, ReadBytes(path));
    EXPECT_EQ(std::vector<std::string>{"login.ini"}, folder.Names());
}

TEST(IniFileTest, ReadIntTakesLeadingDigits) {
    TempFolder folder;
    std::string path = folder.File("login.ini");
    WriteBytes(path, Le(u"[login]\r\nEmpty=\r\nWord=abc\r\nNeg= -12x\r\nPlus=+7\r\nTab=\t42\r\n"
                        u"Spaced=4 2\r\nBig=99999999999\r\nSmall=-99999999999\r\n"));
    struct Case {
        std::u16string key;
        int expected;
    } cases[] = {
        {u"Missing", 34567}, {u"Empty", 0},  {u"Word", 0},      {u"Neg", -12},       {u"Plus", 7},
        {u"Tab", 42},        {u"Spaced", 4}, {u"Big", INT_MAX}, {u"Small", INT_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, IniReadInt(u"login", c.key, 34567, path))
            << std::string(c.key.begin(), c.key.end());
    EXPECT_EQ(-5, IniReadInt(u"login", u"Port0", -5, folder.File("missing.ini")));
}

}  // namespace
}  // namespace tavix
