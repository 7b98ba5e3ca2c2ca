// CImageButton: the key used for every soft key and PTZ control. It paints itself from two
// images stretched to its size (normal, and pressed while the pointer holds it), with its label
// centred on top in its own text colour.
//
// The pressed state is its own, not the platform button's: it is set when the pointer goes
// down and cleared when it comes up, and a one-second check clears it once the pointer has left
// the button while held. The click (the command) is the platform button's, on release over the
// button. User-interface thread only.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QPixmap>
#include <QPushButton>

namespace tavix {

class CImageButton : public QPushButton {
    Q_OBJECT

  public:
    CImageButton(int id, QWidget* parent);

    int Id() const { return id; }

    // Replaces the images with the built-in images `normalId` and `pressedId` (0: none), each
    // stretched to the button's present size. Call it after the button got its place.
    void SetImages(int normalId, int pressedId);
    bool HasNormalImage() const { return !normalImage.isNull(); }
    bool HasPressedImage() const { return !pressedImage.isNull(); }

    // Colour of the label; black until set.
    void SetTextColor(const QColor& color);
    QColor TextColor() const { return textColor; }

    bool IsPressed() const { return pressed != 0; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    static constexpr int kHoldCheckMs = 1000;

    QPixmap Stretched(int imageId) const;
    void ClearPressed();

    const int id;
    QPixmap pressedImage;
    QPixmap normalImage;
    int pressed = 0;
    int held = 0;
    QColor textColor{0, 0, 0};
    QBasicTimer holdCheck;
};

}  // namespace tavix
