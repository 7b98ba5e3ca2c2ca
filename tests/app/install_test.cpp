// `cmake --install` of this build: the programs with their language files in one folder, the
// links a user starts them by, and a desktop entry, AppStream file and icons that desktops accept;
// and the Debian package of it, installed into a scratch root.
#include <unistd.h>

#include <QImageReader>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace tavix {
namespace {

namespace fs = std::filesystem;

int ExitCode(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstallTest, PutsProgramsLanguagesDesktopEntryMetainfoAndIconsInTheirPlaces) {
    const fs::path prefix =
        fs::temp_directory_path() / ("tavix-install-" + std::to_string(getpid()));
    fs::remove_all(prefix);
    ASSERT_EQ(0, ExitCode("'" TAVIX_CMAKE "' --install '" TAVIX_BUILD_DIR "' --prefix '" +
                          prefix.string() + "' >/dev/null"));

    const fs::path programs = prefix / "libexec/tavix";
    for (const char* program : {"tavix", "tavix-probe", "tavix-sim"}) {
        const fs::path link = prefix / "bin" / program;
        ASSERT_TRUE(fs::is_symlink(link)) << link;
        // Relative, so that the installed tree can be moved as a whole.
        EXPECT_TRUE(fs::read_symlink(link).is_relative()) << link;
        EXPECT_TRUE(fs::equivalent(link, programs / program)) << link;
        EXPECT_EQ(0, access(link.c_str(), X_OK)) << link;
    }
    // Start-up looks for them beside the program that the link leads to.
    for (const char* language : {"chn", "eng", "tur"})
        EXPECT_TRUE(fs::is_regular_file(programs / ("language_" + std::string(language) + ".ini")))
            << language;
    EXPECT_EQ(0, ExitCode("'" + (prefix / "bin/tavix-probe").string() + "' --help >/dev/null"));

    const std::string id = "org.tavix.Tavix";
    const fs::path entry = prefix / "share/applications" / (id + ".desktop");
    ASSERT_TRUE(fs::is_regular_file(entry));
    EXPECT_EQ(0, ExitCode("desktop-file-validate '" + entry.string() + "'"));
    const fs::path metainfo = prefix / "share/metainfo" / (id + ".metainfo.xml");
    EXPECT_EQ(0, ExitCode("appstreamcli validate --no-net '" + metainfo.string() + "' >/dev/null"));
    const fs::path icons = prefix / "share/icons/hicolor";
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        QImageReader icon(
            QString::fromStdString((icons / folder / "apps" / (id + ".png")).string()));
        EXPECT_EQ("png", icon.format()) << folder;
        EXPECT_EQ(QSize(size, size), icon.size()) << folder;
    }
    EXPECT_TRUE(fs::is_regular_file(icons / "scalable/apps" / (id + ".svg")));

    fs::remove_all(prefix);
}

TEST(InstallTest, TheDebianPackageInstallsTheSameTreeAndNamesWhatItNeeds) {
#ifdef TAVIX_SANITIZED
    // Users install the plain build; packing a sanitizer build's large programs only takes the
    // machine from the timed tests running beside it.
    GTEST_SKIP() << "packaged from the plain build only";
#endif
    const fs::path work = fs::temp_directory_path() / ("tavix-deb-" + std::to_string(getpid()));
    fs::remove_all(work);
    ASSERT_EQ(0,
              ExitCode("'" TAVIX_CPACK "' --config '" TAVIX_BUILD_DIR "/CPackConfig.cmake' -B '" +
                       work.string() + "' >/dev/null"));
    fs::path package;
    for (const auto& entry : fs::directory_iterator(work))
        if (entry.path().extension() == ".deb") package = entry.path();
    ASSERT_FALSE(package.empty());
    const std::string deb = "'" + package.string() + "'";

    // dpkg's own install into a root of its own, with a database of its own.
    const fs::path root = work / "root";
    fs::create_directories(root / "var/lib/dpkg/updates");
    fs::create_directories(root / "var/lib/dpkg/info");
    std::ofstream(root / "var/lib/dpkg/status").close();
    ASSERT_EQ(0, ExitCode("dpkg --root='" + root.string() + "' --force-depends --force-not-root " +
                          "--log=/dev/null -i " + deb + " >/dev/null 2>&1"));
    const fs::path programs = root / "usr/libexec/tavix";
    for (const char* program : {"tavix", "tavix-probe", "tavix-sim"}) {
        EXPECT_TRUE(fs::equivalent(root / "usr/bin" / program, programs / program)) << program;
        EXPECT_EQ(0, access((programs / program).c_str(), X_OK)) << program;
    }
    for (const char* language : {"chn", "eng", "tur"})
        EXPECT_TRUE(fs::is_regular_file(programs / ("language_" + std::string(language) + ".ini")));
    const std::string id = "org.tavix.Tavix";
    EXPECT_TRUE(fs::is_regular_file(root / "usr/share/applications" / (id + ".desktop")));
    EXPECT_TRUE(fs::is_regular_file(root / "usr/share/metainfo" / (id + ".metainfo.xml")));
    EXPECT_TRUE(fs::is_regular_file(root / "usr/share/icons/hicolor/256x256/apps" / (id + ".png")));
    EXPECT_EQ(0, ExitCode("'" + (root / "usr/bin/tavix-probe").string() + "' --help >/dev/null"));
    // Answered without a display.
    EXPECT_EQ(0,
              ExitCode("env -u DISPLAY -u WAYLAND_DISPLAY '" + (root / "usr/bin/tavix").string() +
                       "' --version | grep -q '^tavix 1.00.4$'"));

    // What it needs: the libraries it links, and the platform plugins Qt loads.
    const fs::path fields = work / "depends";
    ASSERT_EQ(0, ExitCode("dpkg-deb -f " + deb + " Depends >'" + fields.string() + "'"));
    std::ifstream in(fields);
    const std::string depends((std::istreambuf_iterator<char>(in)), {});
    for (const char* needed : {"libqt6widgets6", "libavcodec", "qt6-qpa-plugins", "libc6"})
        EXPECT_NE(std::string::npos, depends.find(needed)) << needed << " in " << depends;
    fs::remove_all(work);
}

}  // namespace
}  // namespace tavix
