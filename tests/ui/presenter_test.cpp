// The presenter on real Qt widgets: the offscreen platform (32 bits per pixel), and a real
// 16-bit X display from Xvfb, which this program starts for one test and runs itself under.
#include "ui/video_presenter.h"

#include "tests/support/virtual_display.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdio.h>
#include <string.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tavix {
namespace {

constexpr char kXvfbChild[] = "TAVIX_PRESENTER_XVFB_CHILD";
constexpr int kWidth = 64;  // the picture
constexpr int kHeight = 48;

// One pixel of the display format, stored as the decoder stores it.
std::vector<uint8_t> Pixel(int bits, uint8_t r, uint8_t g, uint8_t b) {
    if (bits == 16) {
        const uint16_t p = static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
        return {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8)};
    }
    if (bits == 24) return {b, g, r};
    return {b, g, r, 255};
}

// A picture whose top half is red and bottom half blue, rows in the decoder's order: 16-bit
// top row first, 24- and 32-bit bottom row first.
std::vector<uint8_t> TopRedPicture(int bits) {
    std::vector<uint8_t> picture;
    for (int stored = 0; stored < kHeight; ++stored) {
        const int row = bits == 16 ? stored : kHeight - 1 - stored;
        const std::vector<uint8_t> p =
            row < kHeight / 2 ? Pixel(bits, 255, 0, 0) : Pixel(bits, 0, 0, 255);
        for (int x = 0; x < kWidth; ++x)
            picture.insert(picture.end(), p.begin(), p.end());
    }
    return picture;
}

// The live view's quarter turn: output row i is picture column i from the bottom edge to the
// top edge, written top row first.
std::vector<uint8_t> Turned(const std::vector<uint8_t>& picture, int bits) {
    const int bytes = bits / 8;
    std::vector<uint8_t> out;
    for (int i = 0; i < kWidth; ++i) {
        for (int j = 0; j < kHeight; ++j) {
            // 16-bit: source row h - 1 up to 0; 24/32-bit (bottom-up storage): row 0 down.
            const int stored = bits == 16 ? kHeight - 1 - j : j;
            const uint8_t* p = &picture[(stored * kWidth + i) * bytes];
            out.insert(out.end(), p, p + bytes);
        }
    }
    return out;
}

bool IsRed(QRgb c) {
    return qRed(c) > 200 && qBlue(c) < 60;
}
bool IsBlue(QRgb c) {
    return qBlue(c) > 200 && qRed(c) < 60;
}

struct Shown {
    QImage grabbed;
    ScreenRect destination;
};

// Presents on a 200 x 150 window, from another thread as the live view's timer does, and grabs
// the window once the widget's thread has drawn.
Shown PresentAndGrab(int bits, bool turned, bool forceBits) {
    QWidget window;
    window.resize(200, 150);
    window.setStyleSheet("background: black");
    window.show();
    QApplication::processEvents();
    VideoPresenter presenter;
    int reported = 0;
    const int w = turned ? kHeight : kWidth;
    const int h = turned ? kWidth : kHeight;
    int created = forceBits ? presenter.CreateWithBits(&window, w, h, bits)
                            : presenter.Create(&window, w, h, reported);
    EXPECT_EQ(1, created);
    if (!forceBits) {
        EXPECT_EQ(bits, reported);
    }
    EXPECT_EQ(bits / 8 * w * h, presenter.FrameBytes());

    std::vector<uint8_t> picture = TopRedPicture(bits);
    RowOrder order = bits == 16 ? RowOrder::kTopRowFirst : RowOrder::kBottomRowFirst;
    if (turned) {
        picture = Turned(picture, bits);
        order = RowOrder::kTopRowFirst;
    }
    const QPoint origin = window.mapToGlobal(QPoint(20, 10));
    const ScreenRect destination{origin.x(), origin.y(), origin.x() + 160, origin.y() + 120};
    std::thread timer([&] { presenter.Present(picture.data(), destination, order); });
    timer.join();
    QApplication::processEvents();
    return {window.grab().toImage(), destination};
}

void ExpectUpright(int bits, bool turned, bool forceBits = false) {
    SCOPED_TRACE(std::to_string(bits) + (turned ? " bits, turned" : " bits, straight"));
    const Shown shown = PresentAndGrab(bits, turned, forceBits);
    const QImage& image = shown.grabbed;
    ASSERT_FALSE(image.isNull());
    // Destination (20, 10) - (180, 130) in the window.
    const QRgb top = image.pixel(100, 30), bottom = image.pixel(100, 110);
    const QRgb left = image.pixel(40, 70), right = image.pixel(160, 70);
    if (!turned) {
        EXPECT_TRUE(IsRed(top)) << std::hex << top;
        EXPECT_TRUE(IsBlue(bottom)) << std::hex << bottom;
    } else {
        // The picture's top edge lies along the screen's right.
        EXPECT_TRUE(IsRed(right)) << std::hex << right;
        EXPECT_TRUE(IsBlue(left)) << std::hex << left;
    }
    // Outside the destination the window's own black shows.
    EXPECT_EQ(0, qRed(image.pixel(5, 5)) + qGreen(image.pixel(5, 5)) + qBlue(image.pixel(5, 5)));
}

TEST(PresenterTest, PicturesLandUprightAt32And24Bits) {
    if (getenv(kXvfbChild) != nullptr) GTEST_SKIP() << "runs on the offscreen platform";
    for (bool turned : {false, true}) {
        ExpectUpright(32, turned);
        // No display here stores 24 bits per pixel; the surface is made for it explicitly.
        ExpectUpright(24, turned, true);
    }
}

TEST(PresenterTest, CreateRefusesANullWindowAndKeepsNothing) {
    if (getenv(kXvfbChild) != nullptr) GTEST_SKIP();
    QWidget window;
    VideoPresenter presenter;
    int bits = 0;
    ASSERT_EQ(1, presenter.Create(&window, 352, 288, bits));
    EXPECT_EQ(1, window.children().size());
    EXPECT_EQ(0, presenter.Create(nullptr, 352, 288, bits));
    EXPECT_EQ(0, presenter.FrameBytes());
    EXPECT_EQ(0, window.children().size());
    // A second Create releases the first set.
    ASSERT_EQ(1, presenter.Create(&window, 352, 288, bits));
    ASSERT_EQ(1, presenter.Create(&window, 176, 144, bits));
    EXPECT_EQ(1, window.children().size());
    EXPECT_EQ(0, presenter.Create(&window, 0, 144, bits));
    presenter.Present(std::vector<uint8_t>(176 * 144 * 4).data(), {0, 0, 10, 10},
                      RowOrder::kTopRowFirst);  // nothing created: ignored
}

int Spawn(const std::vector<std::string>& arguments, char** environment) {
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environment) != 0) return -1;
    return pid;
}

// A 16-bit X display: Xvfb on a free display number, this program run again under it.
TEST(PresenterTest, PicturesLandUprightOnA16BitDisplay) {
    if (getenv(kXvfbChild) != nullptr) {
        ExpectUpright(16, false);
        ExpectUpright(16, true);
        return;
    }
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    const VirtualDisplay display(240, 320, 16);
    ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";

    // Under LeakSanitizer: the X platform's system libraries (D-Bus, fonts) keep memory to the
    // end of the process; that is theirs, not ours.
    const std::string suppressions = "/tmp/tavix-presenter-lsan-" + std::to_string(getpid());
    if (FILE* f = fopen(suppressions.c_str(), "w")) {
        fputs("leak:libdbus-1\nleak:libfontconfig\nleak:libxcb\nleak:libX11\n", f);
        fclose(f);
    }
    std::vector<std::string> environment{std::string(kXvfbChild) + "=1",
                                         "DISPLAY=" + display.Name(), "QT_QPA_PLATFORM=xcb",
                                         "LSAN_OPTIONS=suppressions=" + suppressions};
    for (char** e = environ; *e != nullptr; ++e)
        if (strncmp(*e, "DISPLAY=", 8) != 0 && strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0 &&
            strncmp(*e, "LSAN_OPTIONS=", 13) != 0)
            environment.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const int child =
        Spawn({"/proc/self/exe", "--gtest_filter=PresenterTest.PicturesLandUprightOnA16BitDisplay"},
              envp.data());
    int status = -1;
    if (child > 0) waitpid(child, &status, 0);
    unlink(suppressions.c_str());
    ASSERT_GT(child, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run under Xvfb failed";
}

}  // namespace
}  // namespace tavix

int main(int argc, char** argv) {
    if (getenv(tavix::kXvfbChild) == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
