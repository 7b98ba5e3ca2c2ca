#include "ui/keyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace tavix {

namespace {

const QString kService = QStringLiteral("tavix");

// Runs `job` (which deletes itself once finished) and waits for it: whether it succeeded in
// time. A read job's password goes to `text`.
bool RunAndWait(QKeychain::Job* job, QString* text = nullptr) {
    QEventLoop loop;
    bool finished = false;
    bool succeeded = false;
    // The loop is the receiver: a job that answers after the time-out finds nobody waiting.
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        finished = true;
        succeeded = done->error() == QKeychain::NoError;
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done); read && text)
            *text = read->textData();
        loop.quit();
    });
    QTimer::singleShot(kKeyringTimeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return succeeded;
}

}  // namespace

bool KeyringAvailable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusConnectionInterface* daemon = bus.interface();
    if (daemon == nullptr) return false;
    // The freedesktop name is the one service GNOME Keyring and recent KWallets share; older
    // KWallets answer under their own.
    const QStringList names = {QStringLiteral("org.freedesktop.secrets"),
                               QStringLiteral("org.kde.kwalletd5"),
                               QStringLiteral("org.kde.kwalletd6")};
    const QDBusReply<QStringList> startable = daemon->activatableServiceNames();
    for (const QString& name : names) {
        if (daemon->isServiceRegistered(name).value()) return true;
        if (startable.isValid() && startable.value().contains(name)) return true;
    }
    return false;
}

std::optional<QString> ReadKeyringPassword(const QString& account) {
    if (!KeyringAvailable()) return std::nullopt;
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(account);
    QString password;
    if (!RunAndWait(job, &password)) return std::nullopt;
    return password;
}

bool WriteKeyringPassword(const QString& account, const QString& password) {
    if (!KeyringAvailable()) return false;
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(account);
    job->setTextData(password);
    return RunAndWait(job);
}

}  // namespace tavix
