#include "ui/desktop_settings.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <memory>

namespace tavix {

namespace {

constexpr int kMaxSide = 4;

std::unique_ptr<QSettings> Store() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("tavix"), QStringLiteral("tavix"));
}

// Settings keys may not hold '/' or '\\', which groups use.
QString WallKey(const QString& recorder) {
    QString key = recorder;
    key.replace(u'/', u'_').replace(u'\\', u'_');
    return QStringLiteral("walls/") + key;
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
    wall.side = std::clamp(saved[0].toInt(), 1, kMaxSide);
    for (int i = 1; i < saved.size() && i <= wall.side * wall.side; ++i) {
        bool number = false;
        const int channel = saved[i].toInt(&number);
        wall.channels.push_back(number && channel >= 0 ? channel : -1);
    }
    return wall;
}

void StoreWall(const QString& recorder, const SavedWall& wall) {
    QStringList saved{QString::number(wall.side)};
    for (int channel : wall.channels)
        saved << QString::number(channel);
    Store()->setValue(WallKey(recorder), saved);
}

QByteArray LoadWindowGeometry() {
    return Store()->value(QStringLiteral("window/geometry")).toByteArray();
}

void SaveWindowGeometry(const QByteArray& geometry) {
    Store()->setValue(QStringLiteral("window/geometry"), geometry);
}

}  // namespace tavix
