// The header band at the top of both dialogs: the header image (stretched to the band) with the
// application's title and, smaller, its version beside it.
#pragma once

#include <QColor>
#include <QPixmap>

class QPainter;
class QWidget;

namespace tavix {

// Colours of the dialogs, as the platform's 0x00BBGGRR colour values.
QColor ColorFromRef(unsigned colorRef);
constexpr unsigned kDarkBackground = 0x181818;
constexpr unsigned kBlackBackground = 0x000000;
constexpr unsigned kLightText = 0xC8C8C8;
constexpr unsigned kWhiteText = 0xFFFFFF;

// Height of the band for `window`: the height of its font plus 12.
int HeaderHeight(const QWidget& window);

// The header image stretched to width x height for `window`'s screen.
QPixmap MakeHeaderImage(const QWidget& window, int width, int height);

// Draws the band into `painter` at (0, 0): the image, then the title in a font of 3/4 of the
// band's height and the version after it in one of 2/3, both in light grey, centred vertically,
// starting 5 pixels from the left.
void PaintHeaderBand(QPainter& painter, const QPixmap& headerImage, int width, int headerHeight);

}  // namespace tavix
