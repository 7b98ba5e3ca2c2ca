#include "app/command_line.h"

#include <cstring>

#include "app/app_strings.h"

namespace tavix {

StartOptions ParseStartOptions(int argc, const char* const* argv) {
    StartOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            options.help = true;
        else if (std::strcmp(argv[i], "--version") == 0)
            options.version = true;
        else if (std::strcmp(argv[i], "--fullscreen") == 0)
            options.fullScreen = true;
        else if (std::strcmp(argv[i], "--view") == 0 && i + 1 < argc && argv[i + 1][0] != '\0')
            options.view = argv[++i];
        else if (std::strcmp(argv[i], "--view") == 0)
            options.error = "--view needs the name of a saved view";
    }
    return options;
}

std::string StartHelp() {
    return "Usage: tavix [--view NAME] [--fullscreen] [--help] [--version] [QT-OPTION]...\n"
           "Shows the live cameras of a networked video recorder: log in with the recorder's\n"
           "address, port, user name and password, pick a layout and the cameras to play.\n"
           "F1 in the window lists every key. No option is needed.\n\n"
           "  --view NAME  start in the saved view NAME (F2 saves the wall as a view), logged\n"
           "               in to its recorders with their saved passwords\n"
           "  --fullscreen start full screen (F11 or Esc leave it)\n"
           "  --help       show this text and exit\n"
           "  --version    show the version and exit\n"
           "Qt's own options (-platform NAME, -display DISPLAY, ...) are passed on to Qt.\n";
}

std::string StartVersion() {
    std::string version;
    for (char16_t c : appVersion)
        version += static_cast<char>(c);
    return "tavix " + version + "\n";
}

}  // namespace tavix
