#include "ui/saved_views.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace tavix {
ViewBook ParseViews(const QByteArray& json) {
    ViewBook book;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    book.last = root.value(QStringLiteral("last")).toString();
    for (const QJsonValue& entry : root.value(QStringLiteral("views")).toArray()) {
        const QJsonObject object = entry.toObject();
        SavedView view;
        view.name = object.value(QStringLiteral("name")).toString().trimmed();
        const int side = object.value(QStringLiteral("side")).toInt(0);
        std::optional<WallLayout> layout =
            ParseLayout(object.value(QStringLiteral("layout")).toString());
        if (!layout && side >= 1 && side <= kMaxWallSide) layout = GridLayout(side, side);
        if (view.name.isEmpty() || !layout || FindView(book, view.name) != nullptr) continue;
        view.layout = *layout;
        for (const QJsonValue& value : object.value(QStringLiteral("tiles")).toArray()) {
            if (static_cast<int>(view.tiles.size()) == view.layout.TileCount()) break;
            const QJsonObject t = value.toObject();
            ViewTile tile;
            tile.recorder = t.value(QStringLiteral("recorder")).toString();
            tile.channel = t.value(QStringLiteral("channel")).toInt(-1);
            tile.stream = t.value(QStringLiteral("stream")).toInt(0);
            if (tile.recorder.isEmpty() || tile.channel < 0) tile = ViewTile{};
            if (tile.stream < 0 || tile.stream > 2) tile.stream = 0;
            view.tiles.push_back(tile);
        }
        book.views.push_back(std::move(view));
    }
    if (FindView(book, book.last) == nullptr) book.last.clear();
    return book;
}

QByteArray FormatViews(const ViewBook& book) {
    QJsonArray views;
    for (const SavedView& view : book.views) {
        QJsonArray tiles;
        for (const ViewTile& tile : view.tiles)
            tiles.append(QJsonObject{{QStringLiteral("recorder"), tile.recorder},
                                     {QStringLiteral("channel"), tile.channel},
                                     {QStringLiteral("stream"), tile.stream}});
        views.append(QJsonObject{{QStringLiteral("name"), view.name},
                                 {QStringLiteral("side"), view.layout.columns},
                                 {QStringLiteral("layout"), FormatLayout(view.layout)},
                                 {QStringLiteral("tiles"), tiles}});
    }
    return QJsonDocument(
               QJsonObject{{QStringLiteral("last"), book.last}, {QStringLiteral("views"), views}})
        .toJson();
}

QString ViewsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tavix/views.json");
}

ViewBook LoadViews() {
    QFile file(ViewsPath());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return ParseViews(file.readAll());
}

bool StoreViews(const ViewBook& book) {
    const QString path = ViewsPath();
    QSaveFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(FormatViews(book)) >= 0 && file.commit();
}

SavedView* FindView(ViewBook& book, const QString& name) {
    auto found = std::find_if(book.views.begin(), book.views.end(),
                              [&](const SavedView& view) { return view.name == name; });
    return found != book.views.end() ? &*found : nullptr;
}

}  // namespace tavix
