// The desktop's named views: a layout and what each of its tiles shows (the recorder, the
// channel, the stream chosen), and which view was shown last. They live in views.json in the
// user's configuration folder ($XDG_CONFIG_HOME/tavix), written whole under a temporary name
// and then renamed, so that a crash or a full disk leaves the file before. User-interface
// thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "ui/wall_layout.h"

namespace tavix {

struct ViewTile {
    QString recorder;  // "address:port" (RecorderKey); empty for an empty tile
    int channel = -1;
    int stream = 0;  // 0 the wall's choice, 1 main, 2 sub
};

struct SavedView {
    QString name;
    WallLayout layout;
    std::vector<ViewTile> tiles;
};

struct ViewBook {
    std::vector<SavedView> views;  // in the order they were first saved
    QString last;                  // the view shown last, or empty
};

// The file's bytes read, untrusted: what cannot be a view (no name, a name twice, a layout that
// is none) is left out, a tile that cannot be one is empty. A view's layout is its "layout"
// text, or for views saved before layouts had one, a grid of "side" x "side".
ViewBook ParseViews(const QByteArray& json);
QByteArray FormatViews(const ViewBook& book);

QString ViewsPath();
ViewBook LoadViews();
// False when the file could not be written (the old one stays).
bool StoreViews(const ViewBook& book);

// The view named `name`, or null.
SavedView* FindView(ViewBook& book, const QString& name);

}  // namespace tavix
