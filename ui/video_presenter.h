// Puts converted pictures on the screen: an off-screen image in the display's own pixel format,
// drawn into a destination rectangle of a Qt widget. Either a caller's picture is copied into
// it (Create, Present), or a decoder converts each picture straight into it at the size it is
// shown (Attach, BeginPicture, EndPicture), and it is drawn as it is.
//
// Threads: Create, Attach, Clear and Release on the widget's thread. Present, BeginPicture and
// EndPicture on any one thread, but not while Create, Attach or Release runs; the widget's
// thread draws the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include <QPointer>
#include <QRect>

#include "video/picture_screen.h"

class QWidget;

namespace tavix {

// Screen coordinates; right and bottom are one past the last pixel.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// How the rows of a picture handed to Present are stored.
enum class RowOrder { kTopRowFirst, kBottomRowFirst };

class VideoSurface;
struct PresentedPicture;
class PaintPacer;

class VideoPresenter {
  public:
    VideoPresenter();
    virtual ~VideoPresenter();
    VideoPresenter(const VideoPresenter&) = delete;
    VideoPresenter& operator=(const VideoPresenter&) = delete;

    // Makes the off-screen image for pictures of width x height on `window`, releasing what an
    // earlier Create made. `bitsOut` receives the bits per pixel of the window's backing store:
    // 16 on a 16-bit display, 32 on a 24- or 32-bit one. 1 on success; 0 for a null window or a
    // size of 0 or less (nothing is kept then).
    int Create(QWidget* window, int width, int height, int& bitsOut);

    // The bits per pixel Create would report for `window` (32 for a null one).
    static int WindowBits(QWidget* window);

    // Create for a display of `bits` per pixel (16, 24 or 32) whatever the window's own depth is.
    // For tests and for callers that know the depth.
    int CreateWithBits(QWidget* window, int width, int height, int bits);

    // `picture` holds width x height pixels in the format Create reported, rows packed, stored
    // as `order` says: RGB565 little-endian (16), B, G, R bytes (24), B, G, R, A bytes (32).
    // `destination` is where the picture is drawn, scaled, in screen coordinates; the window
    // clips it. Does nothing before a successful Create.
    void Present(const uint8_t* picture, const ScreenRect& destination, RowOrder order);

    // Draws on `window` from now on, over all of it (again after the window's size changed).
    void Attach(QWidget* window);
    // Locks the image for the next picture: `size` pixels of `bits` per pixel (16, 24 or 32),
    // drawn at `destination` (window coordinates), turned a quarter clockwise when `turned`
    // (the image then has the destination's height as its width). The image is made anew when
    // its size or format changes. false (nothing locked) before Attach or for a bad size.
    bool BeginPicture(QSize size, int bits, const QRect& destination, bool turned,
                      ScreenImage& image);
    // Unlocks the image and has the widget's thread draw it; a picture not drawn yet is
    // replaced, never queued.
    void EndPicture();
    // The window shows no picture until the next one.
    void Clear();

    // Drops the image and stops drawing on the window.
    void Release();

    int Width() const { return width; }
    int Height() const { return height; }
    int Bits() const { return bits; }
    int FrameBytes() const { return frameBytes; }  // bits / 8 x height x width

  private:
    std::shared_ptr<PresentedPicture> shared;  // the image and destination, shared with the surface
    QPointer<VideoSurface>
        surface;                  // child of the window (which may delete it), drawn on its thread
    PaintPacer* pacer = nullptr;  // for BeginPicture's pictures, from Attach on
    int width = 0;
    int height = 0;
    int bits = 0;
    int frameBytes = 0;
};

}  // namespace tavix
