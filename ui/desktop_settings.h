// What the viewer remembers between runs, in Qt's settings store in the user's configuration
// folder ($XDG_CONFIG_HOME/tavix/tavix.ini): the main window's place and size, per recorder
// (address and port) its wall: the layout, which channel plays in which tile and which stream
// the user chose for a tile, and the
// recorders logged in to last. The saved login keeps its own file. User-interface thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "ui/wall_layout.h"

namespace tavix {

struct SavedWall {
    WallLayout layout;
    std::vector<int> channels;       // by tile; -1 for an empty one
    std::vector<int> streams;        // by tile: 0 the wall's choice, 1 main, 2 sub
    std::vector<QString> recorders;  // by tile: another recorder's "address:port", else empty
};

// A recorder's key: "address:port".
QString RecorderKey(const QString& address, int port);

// The wall saved for `recorder`; side 1 and no channels when none was.
SavedWall LoadSavedWall(const QString& recorder);
void StoreWall(const QString& recorder, const SavedWall& wall);

// A recorder the user logged in to, and as whom.
struct RecorderLogin {
    QString address;
    int port = 0;
    QString user;

    bool operator==(const RecorderLogin&) const = default;
};

inline constexpr int kMaxRecentRecorders = 10;

// The recorders logged in to last, the most recent first; at most kMaxRecentRecorders.
std::vector<RecorderLogin> LoadRecentRecorders();
// Puts `login` first, once, and forgets the oldest beyond kMaxRecentRecorders.
void RememberRecorder(const RecorderLogin& login);

// Whether the user was told once that the password is kept in a file.
bool PasswordNoteShown();
void SetPasswordNoteShown();

QByteArray LoadWindowGeometry();
void SaveWindowGeometry(const QByteArray& geometry);

}  // namespace tavix
