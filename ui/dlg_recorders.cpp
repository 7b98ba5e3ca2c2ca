#include "ui/dlg_recorders.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_strings.h"
#include "ui/dlg_login.h"
#include "ui/ui_text.h"

namespace tavix {

QString LinkStateText(LinkState state) {
    switch (state) {
        case LinkState::kConnecting:
            return Text(u"REC_CONNECTING");
        case LinkState::kConnected:
            return Text(u"REC_CONNECTED");
        case LinkState::kLost:
            return Text(u"REC_LOST");
        case LinkState::kRefused:
            return Text(u"REC_REFUSED");
        case LinkState::kOffline:
            break;
    }
    return Text(u"REC_OFFLINE");
}

bool EditRecorder(QWidget* parent, RecorderEntry& entry, QString& password) {
    QDialog form(parent);
    form.setWindowTitle(Text(u"RECORDERS"));
    auto* name = new QLineEdit(entry.name);
    auto* address = new QLineEdit(entry.login.address);
    auto* port = new QLineEdit(entry.login.port > 0 ? QString::number(entry.login.port)
                                                    : QString::fromUtf16(kDefaultPortText));
    auto* user = new QLineEdit(entry.login.user);
    auto* secret = new QLineEdit(password);
    secret->setEchoMode(QLineEdit::Password);
    for (auto [box, id] : {std::pair{name, "name"},
                           {address, "address"},
                           {port, "port"},
                           {user, "user"},
                           {secret, "password"}})
        box->setObjectName(QString::fromLatin1(id));
    auto* fields = new QFormLayout;
    fields->addRow(Text(u"REC_NAME"), name);
    fields->addRow(Text(u"D_IP"), address);
    fields->addRow(Text(u"D_PORT"), port);
    fields->addRow(Text(u"U_NAME"), user);
    fields->addRow(Text(u"PASSWORD"), secret);
    auto* keys = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* column = new QVBoxLayout(&form);
    column->addLayout(fields);
    column->addWidget(keys);
    QObject::connect(keys, &QDialogButtonBox::rejected, &form, &QDialog::reject);
    QObject::connect(keys, &QDialogButtonBox::accepted, &form, [&] {
        const QString text = address->text().trimmed();
        const char16_t* problem = text.isEmpty()           ? u"IP_ISNULL"
                                  : user->text().isEmpty() ? u"U_NULL"
                                  : !IsPortText(port->text()) || port->text().toInt() < 1
                                      ? u"REC_PORT"
                                      : nullptr;
        if (problem != nullptr) {
            QMessageBox::critical(&form, ToQString(appTitle), Text(problem));
            return;
        }
        form.accept();
    });
    if (form.exec() != QDialog::Accepted) return false;
    entry.login = {address->text().trimmed(), port->text().toInt(), user->text()};
    entry.name = name->text().trimmed().isEmpty() ? entry.Key() : name->text().trimmed();
    password = secret->text();
    return true;
}

CDlgRecorders::CDlgRecorders(RecorderBook& book, Hooks hooks, QWidget* parent)
    : QDialog(parent), book(book), hooks(std::move(hooks)) {
    setWindowTitle(Text(u"RECORDERS"));
    list = new QListWidget;
    auto* add = new QPushButton(Text(u"REC_ADD"));
    editKey = new QPushButton(Text(u"REC_EDIT"));
    removeKey = new QPushButton(Text(u"REC_REMOVE"));
    connectKey = new QPushButton(Text(u"REC_CONNECT"));
    disconnectKey = new QPushButton(Text(u"REC_DISCONNECT"));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    auto* keys = new QVBoxLayout;
    for (auto [key, id] : {std::pair{add, "add"},
                           {editKey, "edit"},
                           {removeKey, "remove"},
                           {connectKey, "connect"},
                           {disconnectKey, "disconnect"}}) {
        key->setObjectName(QString::fromLatin1(id));
        keys->addWidget(key);
    }
    keys->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(list, 1);
    row->addLayout(keys);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(close);
    connect(add, &QPushButton::clicked, this, &CDlgRecorders::Add);
    connect(editKey, &QPushButton::clicked, this, &CDlgRecorders::Edit);
    connect(removeKey, &QPushButton::clicked, this, &CDlgRecorders::Remove);
    connect(connectKey, &QPushButton::clicked, this, [this] { ConnectChosen(true); });
    connect(disconnectKey, &QPushButton::clicked, this, [this] { ConnectChosen(false); });
    connect(list, &QListWidget::currentRowChanged, this, &CDlgRecorders::Refresh);
    connect(list, &QListWidget::itemDoubleClicked, this, &CDlgRecorders::Edit);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(sizeHint().width() * 2, sizeHint().height());
    Refresh();
    list->setCurrentRow(0);
}

int CDlgRecorders::Chosen() const {
    const int row = list->currentRow();
    return row >= 0 && row < static_cast<int>(book.recorders.size()) ? row : -1;
}

void CDlgRecorders::Refresh() {
    const int row = list->currentRow();
    const QSignalBlocker quiet(list);
    list->clear();
    for (const RecorderEntry& entry : book.recorders)
        list->addItem(QStringLiteral("%1   %2   %3   (%4)")
                          .arg(entry.name, entry.Key(), entry.login.user,
                               LinkStateText(hooks.state(entry.Key()))));
    list->setCurrentRow(std::min(row, list->count() - 1));
    const int chosen = Chosen();
    const LinkState state = chosen >= 0
                                ? hooks.state(book.recorders[static_cast<size_t>(chosen)].Key())
                                : LinkState::kOffline;
    editKey->setEnabled(chosen >= 0);
    removeKey->setEnabled(chosen >= 0);
    connectKey->setEnabled(chosen >= 0 && state != LinkState::kConnected &&
                           state != LinkState::kConnecting);
    disconnectKey->setEnabled(chosen >= 0 && state != LinkState::kOffline);
}

void CDlgRecorders::Add() {
    RecorderEntry entry;
    QString password;
    if (!EditRecorder(this, entry, password)) return;
    if (FindRecorder(book, entry.Key()) != nullptr) {
        QMessageBox::critical(this, ToQString(appTitle), Text(u"REC_TWICE") + entry.Key());
        return;
    }
    KeepRecorderPassword(entry, password);
    book.recorders.push_back(entry);
    hooks.changed(QString());
    Refresh();
    list->setCurrentRow(list->count() - 1);
}

void CDlgRecorders::Edit() {
    const int chosen = Chosen();
    if (chosen < 0) return;
    RecorderEntry entry = book.recorders[static_cast<size_t>(chosen)];
    const QString oldKey = entry.Key();
    QString password = RecorderPassword(entry);
    if (!EditRecorder(this, entry, password)) return;
    const RecorderEntry* same = FindRecorder(book, entry.Key());
    if (same != nullptr && same != &book.recorders[static_cast<size_t>(chosen)]) {
        QMessageBox::critical(this, ToQString(appTitle), Text(u"REC_TWICE") + entry.Key());
        return;
    }
    // A connected recorder logs in again with what changed.
    const bool wasOn = hooks.state(oldKey) != LinkState::kOffline;
    if (wasOn) hooks.connect(oldKey, false);
    KeepRecorderPassword(entry, password);
    book.recorders[static_cast<size_t>(chosen)] = entry;
    hooks.changed(oldKey != entry.Key() ? oldKey : QString());
    if (wasOn) hooks.connect(entry.Key(), true);
    Refresh();
}

void CDlgRecorders::Remove() {
    const int chosen = Chosen();
    if (chosen < 0) return;
    const QString key = book.recorders[static_cast<size_t>(chosen)].Key();
    if (hooks.state(key) != LinkState::kOffline) hooks.connect(key, false);
    book.recorders.erase(book.recorders.begin() + chosen);
    hooks.changed(key);
    Refresh();
}

void CDlgRecorders::ConnectChosen(bool on) {
    const int chosen = Chosen();
    if (chosen < 0) return;
    hooks.connect(book.recorders[static_cast<size_t>(chosen)].Key(), on);
    Refresh();
}

}  // namespace tavix
