// Draws the program's bitmaps and icons as PNG files named by their resource ids, into the
// folder given on the command line. Run at build time; the files are built into the program as
// Qt resources (":/tavix/<id>.png"). The application icon is drawn from the SVG file given:
// resource 128, and icon-<size>.png at each size given after it, for the desktop's icon theme.
//
// The keys are stretched to whatever size the layout gives them, so the artwork avoids detail
// that stretching would distort: key faces are gradients with a highlight line at the top, the
// PTZ symbols sit on rounded squares that are drawn nearly square.
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

const QColor kKeyTop(62, 64, 69);
const QColor kKeyBottom(24, 25, 28);
const QColor kAccentTop(46, 124, 210);
const QColor kAccentBottom(18, 66, 132);
const QColor kSymbol(236, 238, 242);

QImage Canvas(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A soft key: a flat-topped face the full size of the image, light top edge, dark right edge
// so that neighbouring keys stay apart.
QImage SoftKey(const QColor& top, const QColor& bottom) {
    QImage image = Canvas(160, 40);
    QPainter painter(&image);
    QLinearGradient face(0, 0, 0, image.height());
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);
    painter.fillRect(image.rect(), face);
    painter.fillRect(QRect(0, 0, image.width(), 1), top.lighter(150));
    painter.fillRect(QRect(image.width() - 1, 0, 1, image.height()), QColor(0, 0, 0));
    painter.fillRect(QRect(0, 1, 1, image.height() - 1), top.lighter(115));
    return image;
}

// A rounded button face with a thin rim, for the PTZ band.
QImage RoundedFace(int width, int height, const QColor& top, const QColor& bottom,
                   const std::function<void(QPainter&, const QRectF&)>& symbol = {}) {
    QImage image = Canvas(width, height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(image.rect()).adjusted(1, 1, -1, -1);
    const qreal radius = height * 0.28;
    QLinearGradient face(0, 0, 0, height);
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);
    painter.setPen(QPen(top.lighter(160), 1.5));
    painter.setBrush(face);
    painter.drawRoundedRect(box, radius, radius);
    if (symbol) symbol(painter, box);
    return image;
}

void Triangle(QPainter& painter, const QRectF& box, bool pointsLeft) {
    const QPointF c = box.center();
    const qreal s = box.height() * 0.22;
    QPolygonF shape;
    if (pointsLeft)
        shape << QPointF(c.x() - s, c.y()) << QPointF(c.x() + s * 0.8, c.y() - s * 1.1)
              << QPointF(c.x() + s * 0.8, c.y() + s * 1.1);
    else
        shape << QPointF(c.x() + s, c.y()) << QPointF(c.x() - s * 0.8, c.y() - s * 1.1)
              << QPointF(c.x() - s * 0.8, c.y() + s * 1.1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kSymbol);
    painter.drawPolygon(shape);
}

void Bar(QPainter& painter, const QRectF& box, bool vertical) {
    const QPointF c = box.center();
    const qreal half = box.height() * 0.24;
    const qreal thick = box.height() * 0.085;
    painter.setPen(Qt::NoPen);
    painter.setBrush(kSymbol);
    const QRectF bar = vertical ? QRectF(c.x() - thick, c.y() - half, 2 * thick, 2 * half)
                                : QRectF(c.x() - half, c.y() - thick, 2 * half, 2 * thick);
    painter.drawRoundedRect(bar, thick * 0.5, thick * 0.5);
}

void Plus(QPainter& painter, const QRectF& box) {
    Bar(painter, box, false);
    Bar(painter, box, true);
}

void Minus(QPainter& painter, const QRectF& box) {
    Bar(painter, box, false);
}

// The header band: 50 x 44, a light top row, 21 rows falling from grey 98 to 17, then black.
QImage Header() {
    QImage image(50, 44, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int x = 0; x < image.width(); ++x)
        image.setPixelColor(x, 0, QColor(147, 148, 150));
    for (int row = 1; row <= 21; ++row) {
        const int grey = 98 - ((98 - 17) * (row - 1) + 10) / 20;
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, row, QColor(grey, grey, grey));
    }
    return image;
}

// A camera seen from the side: body, lens hood, and a status lamp in `lamp`.
QImage Camera(int size, const QColor& body, const QColor& lamp) {
    QImage image = Canvas(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    QLinearGradient face(0, 9, 0, 23);
    face.setColorAt(0, body.lighter(130));
    face.setColorAt(1, body.darker(130));
    painter.setPen(QPen(body.darker(200), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(3.5, 10.5, 18, 12), 2.5, 2.5);
    QPolygonF hood;
    hood << QPointF(21.5, 13.5) << QPointF(29.5, 9.5) << QPointF(29.5, 23.5) << QPointF(21.5, 19.5);
    painter.drawPolygon(hood);
    painter.setPen(Qt::NoPen);
    painter.setBrush(lamp);
    painter.drawEllipse(QPointF(8, 14.5), 2.2, 2.2);
    return image;
}

// The recorder: a flat box with a row of lamps and a disk slot.
QImage Recorder(int size) {
    QImage image = Canvas(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    QLinearGradient face(0, 8, 0, 25);
    face.setColorAt(0, QColor(120, 126, 136));
    face.setColorAt(1, QColor(52, 56, 62));
    painter.setPen(QPen(QColor(30, 32, 36), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(2.5, 9.5, 27, 14), 2.5, 2.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(20, 22, 26));
    painter.drawRoundedRect(QRectF(14, 14.5, 12, 3), 1, 1);
    const QColor lamps[] = {QColor(80, 220, 110), QColor(80, 220, 110), QColor(250, 180, 60)};
    for (int i = 0; i < 3; ++i) {
        painter.setBrush(lamps[i]);
        painter.drawEllipse(QPointF(6 + 3.2 * i, 16), 1.3, 1.3);
    }
    return image;
}

// The application icon drawn from its SVG at size x size.
QImage ApplicationIcon(QSvgRenderer& source, int size) {
    QImage image = Canvas(size, size);
    QPainter painter(&image);
    source.render(&painter, QRectF(0, 0, size, size));
    return image;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_artwork OUTPUT_FOLDER ICON_SVG [SIZE...]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QSvgRenderer icon(QString::fromLocal8Bit(argv[2]));
    if (!icon.isValid()) {
        std::fprintf(stderr, "make_artwork: cannot read %s\n", argv[2]);
        return 1;
    }
    const int side = 48;
    const struct {
        int id;
        QImage image;
    } artwork[] = {
        {128, ApplicationIcon(icon, 64)},
        {132, SoftKey(kKeyTop, kKeyBottom)},
        {133, SoftKey(kAccentTop, kAccentBottom)},
        {134, Header()},
        {136, RoundedFace(120, 40, kKeyTop, kKeyBottom)},
        {137, RoundedFace(side, side, kAccentTop, kAccentBottom, Minus)},
        {138, RoundedFace(side, side, kAccentTop, kAccentBottom, Plus)},
        {139, RoundedFace(side, side, kAccentTop, kAccentBottom,
                          [](QPainter& p, const QRectF& b) { Triangle(p, b, true); })},
        {140, RoundedFace(side, side, kAccentTop, kAccentBottom,
                          [](QPainter& p, const QRectF& b) { Triangle(p, b, false); })},
        {141, RoundedFace(120, 40, kAccentTop, kAccentBottom)},
        {142, RoundedFace(side, side, kKeyTop, kKeyBottom, Minus)},
        {143, RoundedFace(side, side, kKeyTop, kKeyBottom,
                          [](QPainter& p, const QRectF& b) { Triangle(p, b, false); })},
        {144, RoundedFace(side, side, kKeyTop, kKeyBottom,
                          [](QPainter& p, const QRectF& b) { Triangle(p, b, true); })},
        {145, RoundedFace(side, side, kKeyTop, kKeyBottom, Plus)},
        {146, Camera(32, QColor(150, 156, 166), QColor(90, 96, 104))},
        {147, Recorder(32)},
        {148, Camera(32, QColor(60, 140, 230), QColor(90, 230, 110))},
    };
    for (const auto& [id, image] : artwork)
        if (!Save(image, folder + QStringLiteral("/%1.png").arg(id))) return 1;
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 ||
            !Save(ApplicationIcon(icon, size), folder + QStringLiteral("/icon-%1.png").arg(size)))
            return 1;
    }
    return 0;
}
