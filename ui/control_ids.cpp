#include "ui/control_ids.h"

#include <QString>
#include <QVariant>
#include <QWidget>

namespace tavix {

namespace {
constexpr char kControlIdProperty[] = "controlId";
}

void SetControlId(QWidget* widget, int id) {
    widget->setProperty(kControlIdProperty, id);
}

int ControlId(const QWidget* widget) {
    return widget->property(kControlIdProperty).toInt();
}

QList<QWidget*> FindControls(const QWidget* parent, int id) {
    QList<QWidget*> found;
    for (QWidget* child : parent->findChildren<QWidget*>())
        if (ControlId(child) == id) found.append(child);
    return found;
}

QWidget* FindControl(const QWidget* parent, int id) {
    const QList<QWidget*> found = FindControls(parent, id);
    return found.isEmpty() ? nullptr : found.front();
}

QPixmap LoadImage(int id) {
    return QPixmap(QStringLiteral(":/tavix/%1.png").arg(id));
}

}  // namespace tavix
