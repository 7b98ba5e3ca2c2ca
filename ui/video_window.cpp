#include "ui/video_window.h"

#include <QMouseEvent>
#include <QPalette>

#include "ui/control_ids.h"

namespace tavix {

VideoWindow::VideoWindow(QWidget* parent) : QWidget(parent) {
    SetControlId(this, kIdVideoWindow);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
}

void VideoWindow::mousePressEvent(QMouseEvent* event) {
    pressedInside = event->button() == Qt::LeftButton;
}

void VideoWindow::mouseReleaseEvent(QMouseEvent* event) {
    const bool tap = pressedInside && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
    pressedInside = false;
    if (tap) emit Tapped();
}

}  // namespace tavix
