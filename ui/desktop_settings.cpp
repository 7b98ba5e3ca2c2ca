#include "ui/desktop_settings.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <memory>

namespace tavix {

namespace {

std::unique_ptr<QSettings> Store() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("tavix"), QStringLiteral("tavix"));
}

// Settings keys may not hold '/' or '\\', which groups use.
QString WallKey(const QString& recorder, const QString& group = QStringLiteral("walls/")) {
    QString key = recorder;
    key.replace(u'/', u'_').replace(u'\\', u'_');
    return group + key;
}

// The tiles' stream choices live beside the wall, so that a wall saved before them reads
// as it did.
QString StreamsKey(const QString& recorder) {
    return WallKey(recorder, QStringLiteral("streams/"));
}

// Tiles of other recorders than the wall's own ("address:port" by tile, empty for its own).
QString RecordersKey(const QString& recorder) {
    return WallKey(recorder, QStringLiteral("tile-recorders/"));
}

}  // namespace

QString RecorderKey(const QString& address, int port) {
    return address + u':' + QString::number(port);
}

SavedWall LoadSavedWall(const QString& recorder) {
    SavedWall wall;
    const QStringList saved = Store()->value(WallKey(recorder)).toStringList();
    if (saved.isEmpty()) return wall;
    // Untrusted: a file edited by hand gets a valid wall or an empty one.
    // The layout's own text; a wall saved before layouts had one is a grid of its first number.
    const std::optional<WallLayout> layout =
        ParseLayout(Store()->value(WallKey(recorder, QStringLiteral("layouts/"))).toString());
    const int side = std::clamp(saved[0].toInt(), 1, kMaxWallSide);
    wall.layout = layout.value_or(GridLayout(side, side));
    const int count = wall.layout.TileCount();
    for (int i = 1; i < saved.size() && i <= count; ++i) {
        bool number = false;
        const int channel = saved[i].toInt(&number);
        wall.channels.push_back(number && channel >= 0 ? channel : -1);
    }
    const QStringList streams = Store()->value(StreamsKey(recorder)).toStringList();
    for (int i = 0; i < streams.size() && i < count; ++i) {
        const int choice = streams[i].toInt();
        wall.streams.push_back(choice >= 0 && choice <= 2 ? choice : 0);
    }
    const QStringList recorders = Store()->value(RecordersKey(recorder)).toStringList();
    for (int i = 0; i < recorders.size() && i < count; ++i)
        wall.recorders.push_back(recorders[i]);
    return wall;
}

void StoreWall(const QString& recorder, const SavedWall& wall) {
    QStringList saved{QString::number(wall.layout.columns)};
    for (int channel : wall.channels)
        saved << QString::number(channel);
    QStringList streams;
    for (int choice : wall.streams)
        streams << QString::number(choice);
    const auto store = Store();
    store->setValue(WallKey(recorder), saved);
    store->setValue(StreamsKey(recorder), streams);
    store->setValue(WallKey(recorder, QStringLiteral("layouts/")), FormatLayout(wall.layout));
    store->setValue(RecordersKey(recorder),
                    QStringList(wall.recorders.begin(), wall.recorders.end()));
}

std::vector<RecorderLogin> LoadRecentRecorders() {
    std::vector<RecorderLogin> recorders;
    const auto store = Store();
    // Untrusted: entries edited by hand without an address or a port are left out.
    const int count =
        std::min(store->beginReadArray(QStringLiteral("recorders")), kMaxRecentRecorders);
    for (int i = 0; i < count; ++i) {
        store->setArrayIndex(i);
        RecorderLogin login{store->value(QStringLiteral("address")).toString(),
                            store->value(QStringLiteral("port")).toInt(),
                            store->value(QStringLiteral("user")).toString()};
        if (!login.address.isEmpty() && login.port > 0 && login.port <= 65535)
            recorders.push_back(login);
    }
    store->endArray();
    return recorders;
}

void RememberRecorder(const RecorderLogin& login) {
    std::vector<RecorderLogin> recorders = LoadRecentRecorders();
    std::erase(recorders, login);
    recorders.insert(recorders.begin(), login);
    if (recorders.size() > kMaxRecentRecorders) recorders.resize(kMaxRecentRecorders);
    const auto store = Store();
    store->remove(QStringLiteral("recorders"));
    store->beginWriteArray(QStringLiteral("recorders"), static_cast<int>(recorders.size()));
    for (size_t i = 0; i < recorders.size(); ++i) {
        store->setArrayIndex(static_cast<int>(i));
        store->setValue(QStringLiteral("address"), recorders[i].address);
        store->setValue(QStringLiteral("port"), recorders[i].port);
        store->setValue(QStringLiteral("user"), recorders[i].user);
    }
    store->endArray();
}

bool PasswordNoteShown() {
    return Store()->value(QStringLiteral("login/passwordNoteShown")).toBool();
}

void SetPasswordNoteShown() {
    Store()->setValue(QStringLiteral("login/passwordNoteShown"), true);
}

QByteArray LoadWindowGeometry() {
    return Store()->value(QStringLiteral("window/geometry")).toByteArray();
}

void SaveWindowGeometry(const QByteArray& geometry) {
    Store()->setValue(QStringLiteral("window/geometry"), geometry);
}

}  // namespace tavix
