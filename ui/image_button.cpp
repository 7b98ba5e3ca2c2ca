#include "ui/image_button.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

#include "ui/control_ids.h"

namespace tavix {

namespace {
const QColor kMissingImage(0x64, 0x64, 0x64);
}

CImageButton::CImageButton(int id, QWidget* parent) : QPushButton(parent), id(id) {
    SetControlId(this, id);
    // Keys act on a tap only; Return in the window must not press whichever key has focus.
    setAutoDefault(false);
    setFocusPolicy(Qt::NoFocus);
}

QPixmap CImageButton::Stretched(int imageId) const {
    const QPixmap image = LoadImage(imageId);
    if (image.isNull() || width() <= 0 || height() <= 0) return {};
    // Drawn at the screen's pixel density so that the keys stay sharp on dense screens.
    const qreal ratio = devicePixelRatioF();
    QPixmap stretched =
        image.scaled(size() * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    stretched.setDevicePixelRatio(ratio);
    return stretched;
}

void CImageButton::SetImages(int normalId, int pressedId) {
    normalImage = Stretched(normalId);
    pressedImage = pressedId != 0 ? Stretched(pressedId) : QPixmap();
    update();
}

void CImageButton::SetTextColor(const QColor& color) {
    textColor = color;
    update();
}

void CImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap& image = pressed ? pressedImage : normalImage;
    if (!image.isNull()) {
        painter.drawPixmap(rect(), image);
    } else if (pressed) {
        // No pressed image: the grey stand-in, inverted.
        painter.fillRect(rect(), QColor(255 - kMissingImage.red(), 255 - kMissingImage.green(),
                                        255 - kMissingImage.blue()));
    } else {
        painter.fillRect(rect(), kMissingImage);
    }
    // The label shifts by two pixels while held, like a key going down.
    const int shift = pressed ? 2 : 0;
    painter.setPen(textColor);
    painter.drawText(QRect(shift, shift, width() - shift, height() - shift), Qt::AlignCenter,
                     text());
}

void CImageButton::mousePressEvent(QMouseEvent* event) {
    pressed = 1;
    held = 1;
    holdCheck.start(kHoldCheckMs, this);
    update();
    QPushButton::mousePressEvent(event);
}

void CImageButton::mouseReleaseEvent(QMouseEvent* event) {
    ClearPressed();
    QPushButton::mouseReleaseEvent(event);
}

void CImageButton::timerEvent(QTimerEvent* event) {
    if (event->timerId() != holdCheck.timerId()) {
        QPushButton::timerEvent(event);
        return;
    }
    if (!QRect(mapToGlobal(QPoint(0, 0)), size()).contains(QCursor::pos())) ClearPressed();
}

void CImageButton::ClearPressed() {
    holdCheck.stop();
    pressed = 0;
    held = 0;
    update();
}

}  // namespace tavix
