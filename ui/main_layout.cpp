#include "ui/main_layout.h"

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

}  // namespace tavix
