// The tavix program on a real X display (Xvfb): it starts with the login dialog over the whole
// screen, goes on to the channel page, and its EXIT key ends the process; with tavix-sim, at each
// screen size and depth, it logs in with the saved login, plays a channel straight and enlarged,
// and sends the arrow keys by the view. On Wayland, it keeps the password in a keyring.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QSettings>

#include <algorithm>
#include <memory>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_strings.h"
#include "platform/system.h"
#include "profile/ini_file.h"
#include "tests/support/virtual_display.h"
#include "tests/tools/sim_process.h"
#include "tests/ui/pattern_check.h"
#include "ui/desktop_settings.h"

extern char** environ;

namespace tavix {
namespace {

namespace fs = std::filesystem;

// A child process, ended with SIGTERM (then SIGKILL) and reaped when the object goes.
class Child {
  public:
    // `quiet` sends its error output to /dev/null.
    Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
          bool quiet = false) {
        std::vector<char*> argv;
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> env = environment;
        for (char** e = environ; *e != nullptr; ++e)
            env.push_back(*e);
        std::vector<char*> envp;
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { Stop(); }

    bool Running() const { return pid > 0; }

    // The exit status once the process ended by itself within timeoutMs, else -1.
    int WaitExit(int timeoutMs) {
        for (int waited = 0; pid > 0 && waited <= timeoutMs; waited += 20) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    void Stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        if (WaitExit(3000) < 0 && pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }

  private:
    pid_t pid = -1;
};

int RunToEnd(const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment) {
    Child child(arguments, environment, true);
    return child.Running() ? child.WaitExit(10000) : -1;
}

bool IsColour(const QImage& image, int x, int y, QColor colour) {
    const QColor seen = image.pixelColor(x, y);
    return std::abs(seen.red() - colour.red()) <= 2 &&
           std::abs(seen.green() - colour.green()) <= 2 &&
           std::abs(seen.blue() - colour.blue()) <= 2;
}

// A screen reader's press of the login dialog's Login key, through the accessibility bus of the
// session bus given; exit status 0 once it was pressed. The main window has a Login key too
// (beside Camera): while the dialog is still being made (its password read from the keyring)
// that one must not be taken for it.
const char kPressLogin[] = R"(A=org.a11y.atspi.Accessible
a=$(gdbus call -a "$0" -d org.a11y.Bus -o /org/a11y/bus -m org.a11y.Bus.GetAddress | cut -d"'" -f2)
q() { gdbus call -a "$a" -d "$1" -o "$2" -m "$3" $4 $5; }
paths() { grep -o '/org/a11y/atspi/accessible/[0-9]*'; }
for try in $(seq 40); do
  for app in $(q org.freedesktop.DBus / org.freedesktop.DBus.ListNames | grep -o ':[0-9.]*'); do
    for window in $(q $app /org/a11y/atspi/accessible/root $A.GetChildren | paths); do
      login=; main=
      for key in $(q $app "$window" $A.GetChildren | paths); do
        case $(q $app $key org.freedesktop.DBus.Properties.Get $A Name) in
          *"'Login'"*) login=$key ;;
          *"'Camera'"*) main=yes ;;
        esac
      done
      [ -n "$login" ] && [ -z "$main" ] &&
        q $app $login org.a11y.atspi.Action.DoAction 0 | grep -q true && exit
    done
  done
  sleep 0.2
done
exit 1)";

class ViewerOnXTest : public testing::Test {
  protected:
    void SetUp() override {
        binFolder = ProgramDirectory(ModuleFileName());
        // A program folder of the test's own with its configuration folder; no session bus.
        programFolder = fs::temp_directory_path() / ("tavix-x-" + std::to_string(getpid()));
        fs::create_directories(programFolder);
        for (const char* file : {"tavix", "language_eng.ini"})
            fs::copy_file(binFolder + file, programFolder / file,
                          fs::copy_options::overwrite_existing);
        // On a real display Qt talks to the session bus; the bus library keeps a buffer to the
        // end, which the leak checker of a sanitizer build would report as ours.
        const fs::path suppressions = programFolder / "leaks.supp";
        std::ofstream(suppressions) << "leak:libdbus-1.so\n";
        // Under ThreadSanitizer: Qt, not built with it, hands memory between its threads (and an
        // event posted from another thread) with locks it cannot see; only the
        // program's own code is checked (as in the ui tests).
        const fs::path raceSuppressions = programFolder / "races.supp";
        std::ofstream(raceSuppressions) << "race_top:DeviceEvent::DeviceEvent\n";
        const char* raceOptions = std::getenv("TSAN_OPTIONS");
        fs::create_directories(programFolder / "config/tavix");
        viewerEnvironment = {
            "LANG=C.UTF-8", "LC_ALL=C.UTF-8", "QT_QPA_PLATFORM=xcb",
            "LSAN_OPTIONS=suppressions=" + suppressions.string(),
            "TSAN_OPTIONS=" + std::string(raceOptions != nullptr ? raceOptions : "") +
                ":ignore_noninstrumented_modules=1:suppressions=" + raceSuppressions.string()};
        viewerEnvironment.push_back("XDG_CONFIG_HOME=" + (programFolder / "config").string());
        viewerEnvironment.push_back("DBUS_SESSION_BUS_ADDRESS=none:");
    }
    void TearDown() override {
        viewer.reset();
        windowManager.reset();
        display.reset();
        fs::remove_all(programFolder);
    }

    // The saved login: the simulator's port on this machine.
    std::string LoginIni() const { return (programFolder / "config/tavix/login.ini").string(); }
    void SaveLogin(uint16_t port) {
        const std::string ini = LoginIni();
        IniWriteString(u"login", u"IP0", u"127.0.0.1", ini);
        const std::string text = std::to_string(port);
        IniWriteString(u"login", u"Port0", std::u16string(text.begin(), text.end()), ini);
    }

    // Xvfb at width x height x depth with the viewer on it (any earlier one ended first); what
    // the display shows once the login dialog is up: its dark grey right of the boxes. A null
    // image when something did not start.
    QImage StartViewer(int width, int height, int depth = 24) {
        viewer.reset();
        display = std::make_unique<VirtualDisplay>(width, height, depth);
        if (display->Name().empty()) return {};
        environment = viewerEnvironment;
        environment.push_back("DISPLAY=" + display->Name());
        viewer = std::make_unique<Child>(
            std::vector<std::string>{(programFolder / "tavix").string()}, environment);
        if (!viewer->Running()) return {};
        return WaitForScreen(
            [&](const QImage& s) { return IsColour(s, width - 3, 60, QColor(24, 24, 24)); });
    }

    // What the display shows, or a null image.
    QImage Grab() {
        const std::string file = (programFolder / "screen.png").string();
        if (RunToEnd({binFolder + "x_grab", file}, environment) != 0) return {};
        return QImage(QString::fromStdString(file));
    }

    // Waits until `test` accepts what the display shows; that picture (null at the deadline).
    template <typename Test>
    QImage WaitForScreen(Test test, int timeoutMs = 15000) {
        for (int waited = 0; waited <= timeoutMs; waited += 200) {
            QImage screen = Grab();
            if (!screen.isNull() && test(screen)) return screen;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return {};
    }

    // A tap (left click) at x, y of the display.
    void Tap(int x, int y) {
        RunToEnd({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"},
                 environment);
    }

    // What a command printed, its last line end cut.
    std::string Output(const std::vector<std::string>& command) {
        std::string line;
        for (size_t i = 0; i < command.size(); ++i)
            line += (i > 0 ? " " : "") + command[i];
        std::string prefix;
        for (const std::string& e : environment)
            if (e.rfind("DISPLAY=", 0) == 0) prefix = e + " ";
        std::string text;
        if (FILE* pipe = popen((prefix + line + " 2>/dev/null").c_str(), "r")) {
            char piece[256];
            while (fgets(piece, sizeof piece, pipe) != nullptr)
                text += piece;
            pclose(pipe);
        }
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

    void Keys(std::initializer_list<const char*> keys) {
        std::vector<std::string> command = {"xdotool", "key"};
        command.insert(command.end(), keys.begin(), keys.end());
        RunToEnd(command, environment);
    }

    std::string binFolder;
    fs::path programFolder;
    std::vector<std::string> viewerEnvironment;
    // The display outlives the viewer on it.
    std::unique_ptr<VirtualDisplay> display;
    std::vector<std::string> environment;  // the viewer's, with its display
    std::unique_ptr<Child> viewer;
    std::unique_ptr<Child> windowManager;  // where a test runs one
};

TEST_F(ViewerOnXTest, StartsWithTheLoginThenShowsTheChannelPageAndExits) {
    const int width = 240, height = 320;
    // The login dialog: the band's light top line, its dark grey body to the bottom keys.
    const QImage login = StartViewer(width, height);
    ASSERT_FALSE(login.isNull()) << "no login dialog; Xvfb said:\n" << display->Log();
    EXPECT_GT(login.pixelColor(width / 2, 0).red(), 120);

    // The platform's cancel key leaves the dialog without logging in: the channel page, whose
    // tree fills the middle of the screen.
    Keys({"Escape"});
    const QImage channels = WaitForScreen(
        [&](const QImage& s) { return IsColour(s, width / 2, height / 2, QColor(255, 255, 255)); });
    ASSERT_FALSE(channels.isNull()) << "no channel page";

    // The channel page's EXIT, the right half of the bottom row, ends the program.
    Tap(width * 3 / 4, height - 6);
    EXPECT_EQ(0, viewer->WaitExit(10000));
}

// Dark pixels (text) in the top rows of the tree, where its items are.
int TreeTextPixels(const QImage& screen, int width) {
    int dark = 0;
    for (int y = 30; y < 110; ++y)
        for (int x = 0; x < width; ++x)
            if (screen.pixelColor(x, y).lightness() < 100) ++dark;
    return dark;
}

// The middle of the tree's second row (the first channel) on the channel page, or -1: the rows
// are the bands of lines with text below the tree's white top edge.
int FirstChannelRow(const QImage& screen) {
    const int x0 = screen.width() / 2;
    int y = 0;
    while (y < screen.height() && screen.pixelColor(x0, y) != QColor(255, 255, 255))
        ++y;
    int band = 0, bandTop = -1;
    for (; y < screen.height() / 2; ++y) {
        bool text = false;
        // Inside the tree's frame.
        for (int x = 4; x < screen.width() - 4 && !text; ++x)
            text = screen.pixelColor(x, y).lightness() < 100;
        if (text && bandTop < 0) bandTop = y;
        if (!text && bandTop >= 0) {
            if (++band == 2) return (bandTop + y) / 2;
            bandTop = -1;
        }
    }
    return -1;
}

bool IsBlack(const QImage& screen, int x, int y) {
    return IsColour(screen, x, y, QColor(0, 0, 0));
}

// The header band's light top line shows: the window's own controls are not covered.
bool ShowsHeader(const QImage& screen) {
    return screen.pixelColor(screen.width() / 2, 0).red() > 120;
}

TEST_F(ViewerOnXTest, PlaysAChannelUprightAndEnlargedAtEachScreenSizeAndDepth) {
    struct Screen {
        int width, height, depth;
        QRect enlarged;  // where the 352 x 288 picture lands enlarged
        bool turned;
        QPoint letterbox;  // a point beside it
    } screens[] = {
        {240, 320, 16, {0, 13, 240, 293}, true, {120, 6}},
        {320, 240, 24, {13, 0, 293, 240}, false, {6, 120}},
    };
    for (const Screen& s : screens) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) + "x" +
                     std::to_string(s.depth));
        SimProcess sim;
        ASSERT_NE(0, sim.Port());
        SaveLogin(sim.Port());
        ASSERT_FALSE(StartViewer(s.width, s.height, s.depth).isNull())
            << "no login dialog; Xvfb said:\n"
            << display->Log();
        Tap(s.width / 4, s.height - 6);
        int row = -1;
        WaitForScreen([&](const QImage& g) {
            return TreeTextPixels(g, s.width) > 200 && (row = FirstChannelRow(g)) > 0;
        });
        ASSERT_GT(row, 0) << "no channel list";

        // The first channel, straight on the live page.
        Tap(s.width / 3, row);
        const QRect screen(0, 0, s.width, s.height);
        EXPECT_FALSE(
            WaitForScreen([&](const QImage& g) { return ShowsPattern(g, screen, false); }).isNull())
            << "no upright picture";
        // Up, then Down: the camera looks where it did.
        Keys({"Up", "Down"});

        // FULL: the picture alone on the screen, turned on the portrait one.
        Tap(s.width / 2, s.height - 6);
        EXPECT_FALSE(WaitForScreen([&](const QImage& g) {
                         return ShowsPattern(g, s.enlarged, s.turned) && !ShowsHeader(g) &&
                                IsBlack(g, s.letterbox.x(), s.letterbox.y());
                     }).isNull())
            << "no enlarged picture";
        Keys({"Up", "Down"});

        // A tap on the video: back to the live page, then its EXIT.
        Tap(s.width / 2, s.height / 2);
        EXPECT_FALSE(WaitForScreen([&](const QImage& g) {
                         return ShowsPattern(g, screen, false) && ShowsHeader(g);
                     }).isNull())
            << "not back to the live page";
        Tap(s.width * 9 / 10, s.height - 6);
        EXPECT_EQ(0, viewer->WaitExit(10000));

        // The arrow keys as the view was: straight, then enlarged.
        const auto ptz = sim.WaitForRequests("ptz", 4);
        std::vector<int> codes;
        for (const SimLine& line : ptz)
            codes.push_back(static_cast<int>(line.Number("code")));
        EXPECT_EQ(s.turned ? std::vector<int>({0, 1, 3, 2}) : std::vector<int>({0, 1, 0, 1}),
                  codes);
    }
}

// How many places the pattern's bars show at, on rows 4 pixels apart (a run of the six bars
// close under one seen before is the same place), and the box around them.
int PatternPlaces(const QImage& screen, QRect& box) {
    std::vector<QPoint> lastOfPlace;
    box = QRect();
    for (int y = 0; y < screen.height(); y += 4) {
        const PatternRuns runs = RunsAlong(screen, QPoint(0, y), QPoint(1, 0), screen.width());
        for (size_t at = runs.classes.find("YCGMRB"); at != std::string::npos;
             at = runs.classes.find("YCGMRB", at + 1)) {
            const QPoint bar(runs.middles[at], y);
            box |= QRect(bar, QSize(1, 1));
            auto same = std::find_if(lastOfPlace.begin(), lastOfPlace.end(), [&](QPoint last) {
                return std::abs(last.x() - bar.x()) < 20 && bar.y() - last.y() <= 8;
            });
            if (same != lastOfPlace.end())
                *same = bar;
            else
                lastOfPlace.push_back(bar);
        }
    }
    return static_cast<int>(lastOfPlace.size());
}

TEST_F(ViewerOnXTest, ADesktopWindowPlaysItsWallAndGoesFullScreenAtEachPixelDensity) {
    SimProcess sim;
    ASSERT_NE(0, sim.Port());
    SaveLogin(sim.Port());
    // The wall the user left for this recorder: 2x2, channels 0 to 3.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((programFolder / "config").string()));
    StoreWall(RecorderKey(QStringLiteral("127.0.0.1"), sim.Port()),
              {GridLayout(2, 2), {0, 1, 2, 3}, {}, {}});

    // A 1280 x 720 desktop, also with two pixels a point: everything is measured in pixels.
    for (int scale : {1, 2}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const int width = 1280 * scale, height = 720 * scale;
        viewer.reset();
        windowManager.reset();
        display = std::make_unique<VirtualDisplay>(width, height, 24);
        ASSERT_FALSE(display->Name().empty());
        environment = viewerEnvironment;
        environment.push_back("DISPLAY=" + display->Name());
        environment.push_back("QT_SCALE_FACTOR=" + std::to_string(scale));
        // A window manager, as a desktop has: it frames the window and makes it full screen.
        windowManager =
            std::make_unique<Child>(std::vector<std::string>{"openbox"}, environment, true);
        for (int waited = 0;
             waited < 5000 &&
             Output({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") ==
                 std::string::npos;
             waited += 100)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        viewer = std::make_unique<Child>(
            std::vector<std::string>{(programFolder / "tavix").string()}, environment);
        // A login dialog over the middle of the screen, not over all of it, in the desktop's
        // colours (light here) over the dark wall: Return logs in.
        ASSERT_FALSE(WaitForScreen([&](const QImage& s) {
                         return IsColour(s, width / 2, 2, QColor(0, 0, 0)) &&
                                IsColour(s, width / 2, height / 2 - 130 * scale, Qt::black) &&
                                s.pixelColor(width / 2, height / 2 + 60 * scale).lightness() > 200;
                     }).isNull())
            << "no login dialog; Xvfb said:\n"
            << display->Log();
        Keys({"Return"});

        // The wall comes back: four pictures inside the window, which takes two thirds of the
        // screen in its middle.
        QRect inWindow;
        ASSERT_FALSE(WaitForScreen([&](const QImage& s) {
                         return PatternPlaces(s, inWindow) == 4;
                     }).isNull())
            << "no wall of four";
        // Its frame may move it a little.
        const QRect window =
            QRect((width - 853 * scale) / 2, (height - 480 * scale) / 2, 853 * scale, 480 * scale)
                .adjusted(-10, -40, 10, 40);
        EXPECT_TRUE(window.contains(inWindow)) << inWindow.x() << "," << inWindow.y();

        // The window manager framed it, and does not keep it above others.
        std::string id = Output({"xdotool", "search", "--onlyvisible", "--name", "^Tavix$"});
        id = id.substr(0, id.find('\n'));
        const std::string frame = Output({"xprop", "-id", id, "_NET_FRAME_EXTENTS"});
        int left = 0, right = 0, top = 0, bottom = 0;
        EXPECT_EQ(
            4, std::sscanf(frame.c_str(), "%*[^=]= %d, %d, %d, %d", &left, &right, &top, &bottom))
            << frame;
        EXPECT_GT(top, 0) << frame;
        const std::string state = Output({"xprop", "-id", id, "_NET_WM_STATE"});
        EXPECT_EQ(std::string::npos, state.find("ABOVE")) << state;

        // F11: the wall over the whole screen; F11 again: back in the window.
        Keys({"F11"});
        QRect full;
        EXPECT_FALSE(WaitForScreen([&](const QImage& s) {
                         return PatternPlaces(s, full) == 4 && !window.contains(full);
                     }).isNull())
            << "not full screen";
        Keys({"F11"});
        EXPECT_FALSE(WaitForScreen([&](const QImage& s) {
                         return PatternPlaces(s, inWindow) == 4 && window.contains(inWindow);
                     }).isNull())
            << "not back in the window";
        // Closed through the window manager (Alt+F4): the program ends as by EXIT.
        Keys({"alt+F4"});
        EXPECT_EQ(0, viewer->WaitExit(10000));
    }
}

TEST_F(ViewerOnXTest, OnWaylandWithAKeyringItPlaysItsWallAndKeepsThePasswordThere) {
    // weston without a screen; a session bus of the test's own with GNOME Keyring (unlocked
    // unprompted) and the accessibility bus, by which a screen reader presses keys where the
    // compositor has no input devices. All they keep stays in the test's folder.
    const fs::path home = programFolder / "session";
    fs::create_directories(home);
    fs::permissions(home, fs::perms::owner_all, fs::perm_options::replace);
    const std::string bus = "unix:path=" + (home / "bus").string();
    environment = {"QT_QPA_PLATFORM=wayland",          "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1",
                   "DBUS_SESSION_BUS_ADDRESS=" + bus,  "WAYLAND_DISPLAY=tavix-test",
                   "XDG_RUNTIME_DIR=" + home.string(), "XDG_DATA_HOME=" + home.string()};
    Child compositor({"weston", "--backend=headless-backend.so", "--socket=tavix-test"},
                     environment, true);
    Child sessionBus({"dbus-daemon", "--session", "--nofork", "--address=" + bus}, environment,
                     true);
    Child keyring({"sh", "-c", "exec gnome-keyring-daemon -f --unlock -c secrets <<E\nunlock\nE"},
                  environment, true);
    const fs::path sockets[] = {home / "tavix-test", home / "keyring/control"};
    for (int waited = 0; waited < 5000 && (!fs::exists(sockets[0]) || !fs::exists(sockets[1]));
         waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!fs::exists(sockets[0]) || !fs::exists(sockets[1]))
        GTEST_SKIP() << "no headless Wayland compositor or keyring daemon could be started here";
    environment.insert(environment.end(), viewerEnvironment.begin(), viewerEnvironment.end());

    // An earlier version's login.ini with the password; the wall left for the recorder.
    SimProcess sim({"--password", "kept-in-keyring"});
    SaveLogin(sim.Port());
    IniWriteString(u"login", u"Pwd0", u"kept-in-keyring", LoginIni());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((programFolder / "config").string()));
    StoreWall(RecorderKey(QStringLiteral("127.0.0.1"), sim.Port()),
              {GridLayout(2, 2), {0, 1, 2, 3}, {}, {}});
    // The first login moves the password to the keyring, emptying the file's; the second takes
    // it from there. Each plays the wall: its four channels are asked for.
    for (size_t run = 1; run <= 2; ++run) {
        viewer = std::make_unique<Child>(
            std::vector<std::string>{(programFolder / "tavix").string()}, environment);
        ASSERT_EQ(0, RunToEnd({"sh", "-c", kPressLogin, bus}, {})) << "no login dialog";
        // The second login waits for the keyring's answer over the session bus, which a
        // sanitizer build on a busy machine has seen take longer than 10 s.
        const auto logins = sim.WaitForRequests("login", run, 30000);
        ASSERT_EQ(run, logins.size());
        EXPECT_EQ("kept-in-keyring", logins.back().Get("password"));
        EXPECT_EQ(u"", IniReadString(u"login", u"Pwd0", u"unset", LoginIni()));
        EXPECT_EQ(4 * run, sim.WaitForRequests("stream", 4 * run).size());
        viewer.reset();
    }
}

}  // namespace
}  // namespace tavix
