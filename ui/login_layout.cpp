#include "ui/login_layout.h"

namespace tavix {

LoginLayout ComputeLoginLayout(QSize client, int boxHeight, QSize labelText, int fontHeight) {
    LoginLayout layout;
    const int h = boxHeight;
    const int pitch = h + 8;
    const int top = (client.height() - 4 * pitch) / 2;
    const int labelWidth = labelText.width() + 8;
    for (int i = 0; i < 4; ++i) {
        layout.labels[i] = QRect(5, top + (h - labelText.height()) / 2 + i * pitch, labelWidth, h);
        layout.boxes[i] =
            QRect(labelWidth + 5, top + i * pitch, client.width() - labelWidth - 10, h);
    }
    layout.headerHeight = fontHeight + 12;
    const int half = client.width() / 2;
    const int keyTop = client.height() - layout.headerHeight;
    layout.loginKey = QRect(0, keyTop, half, layout.headerHeight);
    layout.exitKey = QRect(half, keyTop, client.width() - half, layout.headerHeight);
    return layout;
}

QSize LoginDialogSize(int boxHeight, QSize labelText, int fontHeight) {
    const int bands = 2 * (fontHeight + 12);
    return {labelText.width() + 8 + 10 + 20 * fontHeight,
            bands + 4 * (boxHeight + 8) + 2 * fontHeight};
}

}  // namespace tavix
