// screen_watch SIDE SECONDS: watches the X display in $DISPLAY, split into SIDE x SIDE tiles,
// and prints for each tile the milliseconds from its own start until the tile first shows
// something other than black (-1: not within SECONDS). For the figure of a viewer started full
// screen beside it (bench/kiosk_figures.sh).
#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Whether a tile holds a test picture: its colour bars give a grid of points over it strong
// colours of at least three hues (a dialog, a tree or a header band has one at most).
bool ShowsPicture(const QImage& image, const QRect& tile) {
    bool hues[6] = {};
    for (int y = tile.top() + tile.height() / 16; y < tile.bottom(); y += tile.height() / 16)
        for (int x = tile.left() + tile.width() / 16; x < tile.right(); x += tile.width() / 16) {
            const QColor colour(image.pixel(x, y));
            if (colour.hsvSaturation() > 150 && colour.value() > 100)
                hues[colour.hsvHue() / 60 % 6] = true;
        }
    int count = 0;
    for (bool hue : hues)
        count += hue ? 1 : 0;
    return count >= 3;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: screen_watch SIDE SECONDS\n");
        return 2;
    }
    const int side = std::atoi(argv[1]);
    const int64_t limitMs = static_cast<int64_t>(std::atof(argv[2]) * 1000);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    QElapsedTimer clock;
    clock.start();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || side < 1) return 1;
    std::vector<int64_t> first(static_cast<size_t>(side * side), -1);
    int left = side * side;
    while (left > 0 && clock.elapsed() < limitMs) {
        const QImage image = screen->grabWindow(0).toImage();
        const int64_t now = clock.elapsed();
        for (int i = 0; i < side * side; ++i) {
            const QRect tile(i % side * image.width() / side, i / side * image.height() / side,
                             image.width() / side, image.height() / side);
            if (first[static_cast<size_t>(i)] < 0 && ShowsPicture(image, tile)) {
                first[static_cast<size_t>(i)] = now;
                --left;
            }
        }
        QThread::msleep(20);
    }
    for (int64_t ms : first)
        std::printf("%lld ", static_cast<long long>(ms));
    std::printf("\n");
    return left == 0 ? 0 : 1;
}
