#include "ui/main_layout.h"

#include <algorithm>

namespace tavix {

MainLayout ComputeMainLayout(QSize client, int fontHeight, QSize modeLabel, QSize screen) {
    MainLayout layout;
    const int cx = client.width();
    const int cy = client.height();
    const int labelWidth = modeLabel.width();
    const int labelHeight = modeLabel.height();

    layout.softKeyHeight = fontHeight + 12;
    const int row = cy - layout.softKeyHeight;
    const int w5 = cx / 5;
    const int w2 = cx / 2;
    for (int i = 0; i < 5; ++i)
        layout.liveKeys[i] = QRect(i * w5, row, w5, layout.softKeyHeight);
    layout.back = QRect(0, row, w2, layout.softKeyHeight);
    layout.channelExit = QRect(w2, row, w2, layout.softKeyHeight);

    layout.headerHeight = fontHeight + 12;
    layout.ptzBandHeight = labelHeight * 5 / 2;

    const int videoTop = layout.headerHeight + labelHeight + 4;
    const int videoBottom = cy - layout.ptzBandHeight - layout.softKeyHeight;
    layout.normalVideo = QRect(0, videoTop, cx, videoBottom - videoTop);
    layout.fullScreen = QRect(QPoint(0, 0), screen);
    layout.status = QRect(0, layout.headerHeight, cx, labelHeight + 4);
    layout.tree = QRect(0, layout.headerHeight, cx, row - layout.headerHeight);

    const int side = labelHeight * 3 / 2;
    const int modeWidth = labelWidth + 10;
    const int y =
        cy - layout.softKeyHeight - layout.ptzBandHeight + (layout.ptzBandHeight - side) / 2;
    const int leftX = cx / 4 - modeWidth / 2;
    layout.panMode = QRect(leftX, y, modeWidth, side);
    layout.arrowA = QRect(leftX - side, y, side, side);
    layout.arrowB = QRect(leftX + modeWidth, y, side, side);
    const int rightX = 3 * cx / 4 - modeWidth / 2;
    layout.lensMode = QRect(rightX, y, modeWidth, side);
    layout.lensPlus = QRect(rightX - side, y, side, side);
    layout.lensMinus = QRect(rightX + modeWidth, y, side, side);
    return layout;
}

bool IsDesktopScreen(QSize screen) {
    return std::min(screen.width(), screen.height()) > kHandheldSide;
}

MainLayout ComputeDesktopLayout(QSize client, int fontHeight, QSize modeLabel, bool treeShown) {
    const int treeWidth = treeShown ? std::clamp(client.width() / 5, 160, 320) : 0;
    const QSize live(client.width() - treeWidth, client.height());
    MainLayout layout = ComputeMainLayout(live, fontHeight, modeLabel, client);
    for (QRect* r :
         {&layout.liveKeys[0], &layout.liveKeys[1], &layout.liveKeys[2], &layout.liveKeys[3],
          &layout.liveKeys[4], &layout.normalVideo, &layout.status, &layout.arrowA, &layout.panMode,
          &layout.arrowB, &layout.lensPlus, &layout.lensMode, &layout.lensMinus})
        r->translate(treeWidth, 0);
    layout.tree = QRect(0, layout.headerHeight, treeWidth, client.height() - layout.headerHeight);
    layout.back = layout.channelExit = QRect();
    const int keyWidth = fontHeight * 3;
    const QRect status = layout.status;
    for (int i = 0; i < 4; ++i)
        layout.layoutKeys[i] =
            QRect(status.right() + 1 - (4 - i) * keyWidth, status.top(), keyWidth, status.height());
    layout.snapshotKey = QRect(layout.layoutKeys[0].left() - 2 * keyWidth, status.top(),
                               2 * keyWidth, status.height());
    layout.status.setWidth(status.width() - 6 * keyWidth);
    return layout;
}

}  // namespace tavix
