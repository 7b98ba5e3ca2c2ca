#include "ui/recorder_book.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include <algorithm>

#include "ui/dlg_login.h"
#include "ui/keyring.h"

namespace tavix {

RecorderBook ParseRecorders(const QByteArray& json) {
    RecorderBook book;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    for (const QJsonValue& value : root.value(QStringLiteral("recorders")).toArray()) {
        const QJsonObject object = value.toObject();
        RecorderEntry entry;
        entry.login.address = object.value(QStringLiteral("address")).toString().trimmed();
        entry.login.port = object.value(QStringLiteral("port")).toInt(0);
        entry.login.user = object.value(QStringLiteral("user")).toString();
        entry.name = object.value(QStringLiteral("name")).toString().trimmed();
        entry.filePassword = object.value(QStringLiteral("password")).toString();
        if (entry.login.address.isEmpty() || entry.login.user.isEmpty() || entry.login.port < 1 ||
            entry.login.port > 65535 || FindRecorder(book, entry.Key()) != nullptr)
            continue;
        if (entry.name.isEmpty()) entry.name = entry.Key();
        book.recorders.push_back(std::move(entry));
    }
    return book;
}

QByteArray FormatRecorders(const RecorderBook& book) {
    QJsonArray recorders;
    for (const RecorderEntry& entry : book.recorders) {
        QJsonObject object{{QStringLiteral("name"), entry.name},
                           {QStringLiteral("address"), entry.login.address},
                           {QStringLiteral("port"), entry.login.port},
                           {QStringLiteral("user"), entry.login.user}};
        if (!entry.filePassword.isEmpty())
            object.insert(QStringLiteral("password"), entry.filePassword);
        recorders.append(object);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("recorders"), recorders}}).toJson();
}

QString RecordersPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tavix/recorders.json");
}

RecorderBook LoadRecorders() {
    QFile file(RecordersPath());
    if (file.open(QIODevice::ReadOnly)) return ParseRecorders(file.readAll());
    RecorderBook book;
    RecorderEntry first;
    if (LoadSavedLogin(first.login, first.filePassword)) {
        first.name = first.Key();
        book.recorders.push_back(std::move(first));
    }
    return book;
}

bool StoreRecorders(const RecorderBook& book) {
    const QString path = RecordersPath();
    QSaveFile file(path);
    // It may hold passwords: the user's alone, from the start.
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0 &&
           file.write(FormatRecorders(book)) >= 0 && file.commit();
}

RecorderEntry* FindRecorder(RecorderBook& book, const QString& key) {
    auto found = std::find_if(book.recorders.begin(), book.recorders.end(),
                              [&](const RecorderEntry& entry) { return entry.Key() == key; });
    return found != book.recorders.end() ? &*found : nullptr;
}

QString RecorderPassword(const RecorderEntry& entry) {
    if (!entry.filePassword.isEmpty()) return entry.filePassword;
    return ReadKeyringPassword(KeyringAccount(entry.login)).value_or(QString());
}

void KeepRecorderPassword(RecorderEntry& entry, const QString& password) {
    const bool kept = WriteKeyringPassword(KeyringAccount(entry.login), password);
    entry.filePassword = kept ? QString() : password;
}

}  // namespace tavix
