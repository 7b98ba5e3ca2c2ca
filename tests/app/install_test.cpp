// `cmake --install` of this build: the programs with their language files in one folder, the
// links a user starts them by, and a desktop entry and icon that desktops accept.
#include <unistd.h>

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

TEST(InstallTest, PutsProgramsLanguagesDesktopEntryAndIconInTheirPlaces) {
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

    const fs::path entry = prefix / "share/applications/tavix.desktop";
    ASSERT_TRUE(fs::is_regular_file(entry));
    EXPECT_EQ(0, ExitCode("desktop-file-validate '" + entry.string() + "'"));
    std::ifstream icon(prefix / "share/icons/hicolor/64x64/apps/tavix.png", std::ios::binary);
    std::string magic(8, '\0');
    icon.read(magic.data(), 8);
    EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8), magic);

    fs::remove_all(prefix);
}

}  // namespace
}  // namespace tavix
