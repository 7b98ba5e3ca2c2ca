// The video window of the main window's live page: a black area that the presenter draws the
// pictures into, and that reports a tap (a click released over it) as its command.
// User-interface thread only.
#pragma once

#include <QWidget>

namespace tavix {

class VideoWindow : public QWidget {
    Q_OBJECT

  public:
    explicit VideoWindow(QWidget* parent);

  signals:
    void Tapped();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressedInside = false;
};

}  // namespace tavix
