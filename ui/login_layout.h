// Where the login dialog's controls go, from the sizes measured at a size change.
#pragma once

#include <QRect>
#include <QSize>

namespace tavix {

struct LoginLayout {
    QRect labels[4];  // address, port, user, password labels (ids 1004 to 1007)
    QRect boxes[4];   // address, port, user, password boxes (ids 1003, 1000, 1001, 1002)
    int headerHeight = 0;
    QRect loginKey;  // the two soft keys, side by side at the bottom, as high as the header
    QRect exitKey;
};

// `client`: the dialog's client size; `boxHeight`: the height of an edit box; `labelText`:
// the size of the port label's text ("D_PORT"), which sets the label column; `fontHeight`: the
// height of the dialog's font. The four rows are centred in the whole client area.
LoginLayout ComputeLoginLayout(QSize client, int boxHeight, QSize labelText, int fontHeight);

// The size of a dialog that holds the header, the four rows with room around them and the soft
// keys, with boxes twenty lines of the font wide: the desktop's login dialog.
QSize LoginDialogSize(int boxHeight, QSize labelText, int fontHeight);

}  // namespace tavix
