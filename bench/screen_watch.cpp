// screen_watch SIDE SECONDS [--gaps]: watches the X display in $DISPLAY, split into SIDE x SIDE
// tiles, and prints for each tile the milliseconds from its own start until the tile first shows
// a picture (-1: not within SECONDS). For the figure of a viewer started full screen beside it
// (bench/kiosk_figures.sh). With --gaps it watches for SECONDS and prints for each tile the
// longest time its pixels did not change, as "GAP@FROM-TO" (ms since its start): a frozen tile
// (bench/outage_figures.sh).
#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHashFunctions>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// A tile's pixels, hashed row by row.
size_t TileHash(const QImage& image, const QRect& tile) {
    size_t hash = 0;
    const int bytes = tile.width() * image.depth() / 8;
    for (int y = tile.top(); y <= tile.bottom(); ++y)
        hash = hash * 31 + qHashBits(image.constScanLine(y) + tile.left() * image.depth() / 8,
                                     static_cast<size_t>(bytes));
    return hash;
}

int WatchGaps(QScreen& screen, int side, int64_t limitMs, const QElapsedTimer& clock) {
    const size_t count = static_cast<size_t>(side * side);
    std::vector<size_t> hashes(count, 0);
    std::vector<int64_t> changed(count, 0), longest(count, 0), from(count, 0);
    int64_t now = 0;
    int64_t grabs = 0;
    while ((now = clock.elapsed()) < limitMs) {
        ++grabs;
        const QImage image = screen.grabWindow(0).toImage();
        for (size_t i = 0; i < count; ++i) {
            const int n = static_cast<int>(i);
            const QRect tile(n % side * image.width() / side, n / side * image.height() / side,
                             image.width() / side, image.height() / side);
            const size_t hash = TileHash(image, tile);
            if (hash == hashes[i]) continue;
            hashes[i] = hash;
            if (now - changed[i] > longest[i]) {
                longest[i] = now - changed[i];
                from[i] = changed[i];
            }
            changed[i] = now;
        }
        QThread::msleep(10);
    }
    for (size_t i = 0; i < count; ++i) {
        // Still frozen at the end: that counts too.
        if (now - changed[i] > longest[i]) {
            longest[i] = now - changed[i];
            from[i] = changed[i];
        }
        std::printf("%lld@%lld-%lld ", static_cast<long long>(longest[i]),
                    static_cast<long long>(from[i]), static_cast<long long>(from[i] + longest[i]));
    }
    // What a gap can be told from: the time between two grabs.
    std::printf("\n%lld\n", static_cast<long long>(now / std::max<int64_t>(grabs, 1)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool gaps = argc == 4 && std::strcmp(argv[3], "--gaps") == 0;
    if (argc != 3 && !gaps) {
        std::fprintf(stderr, "usage: screen_watch SIDE SECONDS [--gaps]\n");
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
    if (gaps) return WatchGaps(*screen, side, limitMs, clock);
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
