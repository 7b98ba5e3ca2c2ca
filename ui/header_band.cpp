#include "ui/header_band.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include "app/app_strings.h"
#include "ui/control_ids.h"
#include "ui/ui_text.h"

namespace tavix {

QColor ColorFromRef(unsigned colorRef) {
    return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

int HeaderHeight(const QWidget& window) {
    return window.fontMetrics().height() + 12;
}

QPixmap MakeHeaderImage(const QWidget& window, int width, int height) {
    const QPixmap image = LoadImage(kImageHeader);
    if (image.isNull() || width <= 0 || height <= 0) return {};
    const qreal ratio = window.devicePixelRatioF();
    QPixmap stretched =
        image.scaled(QSize(width, height) * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    stretched.setDevicePixelRatio(ratio);
    return stretched;
}

namespace {

// The band's fonts: the application's font at a pixel height and weight.
QFont BandFont(int pixelHeight, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(qMax(1, pixelHeight));
    font.setWeight(weight);
    return font;
}

}  // namespace

void PaintHeaderBand(QPainter& painter, const QPixmap& headerImage, int width, int headerHeight) {
    if (!headerImage.isNull()) painter.drawPixmap(QRect(0, 0, width, headerHeight), headerImage);
    const QFont titleFont = BandFont(headerHeight * 3 / 4, QFont::Medium);
    const QFont versionFont = BandFont(headerHeight * 2 / 3, QFont::Light);
    const QString title = ToQString(appTitle);
    painter.setPen(ColorFromRef(kLightText));
    painter.setFont(titleFont);
    painter.drawText(QRect(5, 0, width - 5, headerHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(title);
    painter.setFont(versionFont);
    painter.drawText(QRect(5 + titleWidth, 0, width - 5 - titleWidth, headerHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, ToQString(appVersion));
}

}  // namespace tavix
