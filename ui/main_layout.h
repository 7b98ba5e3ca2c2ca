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
};

// `client`: the window's client size; `fontHeight`: the height of the keys' and the window's
// font; `modeLabel`: the size of the "LEFT_RIGHT" text in that font; `screen`: the screen size.
// Every halving rounds toward zero.
MainLayout ComputeMainLayout(QSize client, int fontHeight, QSize modeLabel, QSize screen);

}  // namespace tavix
