// Drives modal dialogs from inside their own loops: each step waits for a modal window that
// its test accepts to be on top, then acts on it. A step that does not come within its deadline
// fails the test and closes every modal window, so that no test can hang in exec().
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace tavix {

class ModalDriver {
  public:
    using Match = std::function<bool(QWidget*)>;
    using Action = std::function<void(QWidget*)>;

    ModalDriver() {
        QObject::connect(&poll, &QTimer::timeout, [this] { Poll(); });
        poll.start(5);
    }
    ~ModalDriver() { EXPECT_TRUE(steps.empty()) << steps.size() << " steps never ran"; }

    // When a modal window that `match` accepts is on top, run `action` on it.
    ModalDriver& When(std::string name, Match match, Action action, int deadlineMs = 5000) {
        steps.push_back({std::move(name), std::move(match), std::move(action), deadlineMs, -1});
        return *this;
    }

    template <typename T>
    ModalDriver& WhenShown(std::string name, std::function<void(T*)> action) {
        return When(
            std::move(name), [](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
            [action](QWidget* w) { action(qobject_cast<T*>(w)); });
    }

    // A message box on top: its text is recorded and it is dismissed.
    ModalDriver& DismissMessage(std::string name, QString* text, QString* title = nullptr,
                                QMessageBox::Icon* icon = nullptr) {
        return WhenShown<QMessageBox>(std::move(name), [text, title, icon](QMessageBox* box) {
            if (text != nullptr) *text = box->text();
            if (title != nullptr) *title = box->windowTitle();
            if (icon != nullptr) *icon = box->icon();
            box->accept();
        });
    }

    bool Done() const { return steps.empty(); }

  private:
    struct Step {
        std::string name;
        Match match;
        Action action;
        int deadlineMs;
        qint64 startedMs;
    };

    void Poll() {
        if (steps.empty()) return;
        Step& step = steps.front();
        const qint64 now = clock.isValid() ? clock.elapsed() : (clock.start(), 0);
        if (step.startedMs < 0) step.startedMs = now;
        QWidget* top = QApplication::activeModalWidget();
        if (top != nullptr && top->isVisible() && step.match(top)) {
            // Run from a timer of its own: an action that opens another modal window blocks
            // until that closes, and the polling must go on meanwhile.
            QPointer<QWidget> target(top);
            Action action = std::move(step.action);
            steps.pop_front();
            QTimer::singleShot(0, [target, action] {
                if (target) action(target);
            });
            return;
        }
        if (now - step.startedMs > step.deadlineMs) {
            ADD_FAILURE() << "modal step '" << step.name << "' did not come in time";
            steps.clear();
            while (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->reject();
                else
                    modal->close();
                if (QApplication::activeModalWidget() == modal) break;
            }
        }
    }

    std::deque<Step> steps;
    QTimer poll;
    QElapsedTimer clock;
};

}  // namespace tavix
