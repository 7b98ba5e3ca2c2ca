// Where the main window's controls go, from the sizes measured at a size change. The same rules
// serve portrait and landscape screens.
#pragma once

#include <QRect>
#include <QSize>

namespace tavix {

struct MainLayout {
    int softKeyHeight = 0;
    int headerHeight = 0;
    int ptzBandHeight = 0;
    QRect liveKeys[5];  // LOGIN, CAMERA, FULL, ABOUT, EXIT
    QRect back;         // channel page: BACK and the second EXIT
    QRect channelExit;
    QRect normalVideo;  // the video window on the live page
    QRect fullScreen;   // the whole screen
    QRect status;
    QRect tree;
    QRect arrowA;  // left group, centred on a quarter of the width
    QRect panMode;
    QRect arrowB;
    QRect lensPlus;  // right group, centred on three quarters of the width
    QRect lensMode;
    QRect lensMinus;
    QRect layoutKeys[4];  // desktop: 1, 2x2, 3x3, 4x4 at the right of the status line
    QRect snapshotKey;    // desktop: left of them
};

// `client`: the window's client size; `fontHeight`: the height of the keys' and the window's
// font; `modeLabel`: the size of the "LEFT_RIGHT" text in that font; `screen`: the screen size.
// Every halving rounds toward zero.
MainLayout ComputeMainLayout(QSize client, int fontHeight, QSize modeLabel, QSize screen);

// A screen whose smaller side is above this many pixels is a desktop's.
constexpr int kHandheldSide = 480;
bool IsDesktopScreen(QSize screen);

// The desktop's live page: the tree (when `treeShown`) as a column at the left, as high as the
// window below the header; beside it the live page as on a handheld screen of the rest of the
// width, with the layout keys at the right of its status line. The enlarged video covers the
// whole window.
MainLayout ComputeDesktopLayout(QSize client, int fontHeight, QSize modeLabel, bool treeShown);

}  // namespace tavix
