// CDlgRecorders: the desktop's recorder list (Ctrl+R, or the tree's and a tile's menu): every
// recorder with its address, user and state; Add and Edit open a form (the login dialog's boxes
// and a name), Remove forgets one, Connect and Disconnect log in and out. What connecting means
// is the main window's: the dialog asks it through Hooks and shows the states it reports.
// User-interface thread only.
#pragma once

#include <QDialog>

#include <functional>

#include "ui/recorder_book.h"
#include "ui/recorder_link.h"

class QListWidget;
class QPushButton;

namespace tavix {

// The form for one recorder: true when the user accepted it. `password` holds the password
// kept so far and then the one given; the entry is checked (address, user, a port a device
// can have) before the form closes.
bool EditRecorder(QWidget* parent, RecorderEntry& entry, QString& password);

class CDlgRecorders : public QDialog {
    Q_OBJECT

  public:
    struct Hooks {
        std::function<LinkState(const QString& key)> state;
        // Log in to, or out of, the recorder with key `key`.
        std::function<void(const QString& key, bool connect)> connect;
        // The book changed; `gone` is a key no entry has any more (or empty).
        std::function<void(const QString& gone)> changed;
    };

    CDlgRecorders(RecorderBook& book, Hooks hooks, QWidget* parent);

    // The states changed: the rows say so.
    void Refresh();

  private:
    void Add();
    void Edit();
    void Remove();
    void ConnectChosen(bool connect);
    int Chosen() const;

    RecorderBook& book;
    Hooks hooks;
    QListWidget* list = nullptr;
    QPushButton* editKey = nullptr;
    QPushButton* removeKey = nullptr;
    QPushButton* connectKey = nullptr;
    QPushButton* disconnectKey = nullptr;
};

// The state as the tree and the list say it.
QString LinkStateText(LinkState state);

}  // namespace tavix
