// The desktop's list of recorders: a name for each, its address, port and the user who logs in,
// kept in recorders.json in the user's configuration folder ($XDG_CONFIG_HOME/tavix), written
// whole under a temporary name and then renamed, readable by the user alone. The password lives
// in the keyring under the same account as the login dialog's (so the saved login shares it);
// only where no keyring keeps it, the file holds it. On the first start the login saved by the
// login dialog is the first entry. User-interface thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "ui/desktop_settings.h"

namespace tavix {

struct RecorderEntry {
    QString name;  // as the tree shows it
    RecorderLogin login;
    QString filePassword;  // only where no keyring took the password

    QString Key() const { return RecorderKey(login.address, login.port); }
};

struct RecorderBook {
    std::vector<RecorderEntry> recorders;  // in the order the user added them
};

// The file's bytes read, untrusted: an entry without an address or user, with a port no device
// can have, or with the address and port of one before, is left out; an empty name is the key.
RecorderBook ParseRecorders(const QByteArray& json);
QByteArray FormatRecorders(const RecorderBook& book);

QString RecordersPath();
// The file's recorders; before it was first written, the saved login where there is one.
RecorderBook LoadRecorders();
// False when the file could not be written (the old one stays).
bool StoreRecorders(const RecorderBook& book);

// The entry of recorder `key` ("address:port"), or null.
RecorderEntry* FindRecorder(RecorderBook& book, const QString& key);

// The password kept for `entry`: the file's where it holds one, else the keyring's.
QString RecorderPassword(const RecorderEntry& entry);
// Keeps `password` in the keyring, or where none takes it in the entry (stored with the book).
void KeepRecorderPassword(RecorderEntry& entry, const QString& password);

}  // namespace tavix
