#include "ui/video_presenter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstring>
#include <vector>

namespace tavix {

// The picture waiting to be drawn; guarded by `mutex` because Present fills it on the caller's
// thread while the surface paints it on the widget's thread.
struct PresentedPicture {
    std::mutex mutex;
    QImage image;                           // guarded by mutex
    ScreenRect destination;                 // guarded by mutex: Present's, in screen coordinates
    QRect local;                            // guarded by mutex: BeginPicture's, in the window's
    bool inWindow = false;                  // guarded by mutex: `local` holds the destination
    bool turned = false;                    // guarded by mutex
    bool presented = false;                 // guarded by mutex: the image holds a picture
    std::atomic<bool> updatePosted{false};  // a paint is asked for and has not begun
    QPointer<QWidget> surface;              // the window's thread's
    QRect painted;  // guarded by mutex: where the surface last drew the picture (empty: none)

    // The part of the surface a new picture changes: its rectangle when it lands where the
    // last one was drawn, else the whole surface (the black around it moves too).
    QRect Changed(const QRect& whole) {
        std::lock_guard<std::mutex> lock(mutex);
        return presented && inWindow && local == painted && !painted.isEmpty() ? painted : whole;
    }
};

// Paints the pictures that decoding threads put into their images, on the window's thread, at
// most once every kMinPaintMs: the first picture after a quiet spell is painted at once, those
// that come within the spell together at its end. A wall of 16 streams then repaints the window
// about 60 times a second instead of 400, each time with every tile that changed.
class PaintPacer : public QObject {
    Q_OBJECT

  public:
    static constexpr int kMinPaintMs = 16;

    // The one of the window's thread, made there (it goes with the application).
    static PaintPacer* Instance() {
        static QPointer<PaintPacer> pacer;
        if (pacer == nullptr) pacer = new PaintPacer(QCoreApplication::instance());
        return pacer;
    }

    // Any thread: `picture` has a new picture to paint.
    void Ready(std::shared_ptr<PresentedPicture> picture) {
        std::lock_guard<std::mutex> hold(lock);
        waiting.push_back(std::move(picture));
        if (posted) return;
        posted = true;
        // Called by name, so that Qt makes the call record itself and `lock` is the only
        // hand-over between the threads.
        QMetaObject::invokeMethod(this, "Paint", Qt::QueuedConnection);
    }

    Q_INVOKABLE void Paint();

  private:
    explicit PaintPacer(QObject* parent) : QObject(parent) {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [this] { Paint(); });
        clock.start();
    }

    std::mutex lock;
    std::vector<std::shared_ptr<PresentedPicture>> waiting;  // guarded by lock
    bool posted = false;                                     // guarded by lock
    QTimer timer;
    QElapsedTimer clock;
    int64_t lastPaintMs = -1;
};

void PaintPacer::Paint() {
    const int64_t since = lastPaintMs < 0 ? kMinPaintMs : clock.elapsed() - lastPaintMs;
    if (since < kMinPaintMs) {
        // Pictures that come meanwhile join these; nothing more is posted until then.
        if (!timer.isActive()) timer.start(static_cast<int>(kMinPaintMs - since));
        return;
    }
    lastPaintMs = clock.elapsed();
    std::vector<std::shared_ptr<PresentedPicture>> now;
    {
        std::lock_guard<std::mutex> hold(lock);
        now.swap(waiting);
        posted = false;
    }
    for (const std::shared_ptr<PresentedPicture>& picture : now)
        if (QWidget* surface = picture->surface) surface->update(picture->Changed(surface->rect()));
}

// A transparent child covering the window: the window paints its own background, the surface
// the picture on top, clipped to the window like the video window's clipper.
class VideoSurface : public QWidget {
  public:
    VideoSurface(QWidget* window, std::shared_ptr<PresentedPicture> shared)
        : QWidget(window), shared(std::move(shared)) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(window->rect());
        show();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        shared->updatePosted.store(false, std::memory_order_release);
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->painted = QRect();
        if (!shared->presented && !shared->inWindow) return;
        QPainter painter(this);
        if (!shared->inWindow) {
            const ScreenRect& d = shared->destination;
            const QPoint topLeft = mapFromGlobal(QPoint(d.left, d.top));
            painter.drawImage(QRect(topLeft, QSize(d.right - d.left, d.bottom - d.top)),
                              shared->image);
            return;
        }
        // Drawn over the whole surface, picture and black around it, so that nothing beneath
        // has to be painted first.
        const QRect& d = shared->local;
        const QRect picture = shared->presented ? d : QRect();
        // A new picture repaints only its own rectangle: the black around it stays.
        for (const QRect& around : event->region().subtracted(picture))
            painter.fillRect(around, Qt::black);
        if (!shared->presented) return;
        shared->painted = d;
        if (shared->turned) {
            // A quarter clockwise: the image's left column becomes the top row.
            painter.translate(d.left() + d.width(), d.top());
            painter.rotate(90);
            painter.drawImage(QPoint(0, 0), shared->image);
        } else {
            painter.drawImage(d.topLeft(), shared->image);
        }
    }

  private:
    std::shared_ptr<PresentedPicture> shared;
};

namespace {

QImage::Format FormatForBits(int bits) {
    switch (bits) {
        case 16:
            return QImage::Format_RGB16;
        case 24:
            return QImage::Format_BGR888;
        default:
            return QImage::Format_RGB32;  // B, G, R, A in memory on little-endian
    }
}

// Bits per pixel of what the window is drawn into: 16 on a 16-bit display, else 32 (a 24-bit
// display's images store 32 bits a pixel). From the window's depth, not from its backing
// store: that has a paint device only while it paints on Wayland and on a scaled screen, and
// asking for it before the first paint crashes there.
int BackingStoreBits(QWidget* window) {
    return window->depth() == 16 ? 16 : 32;
}

}  // namespace

VideoPresenter::VideoPresenter() = default;

int VideoPresenter::WindowBits(QWidget* window) {
    return window != nullptr ? BackingStoreBits(window) : 32;
}

VideoPresenter::~VideoPresenter() {
    Release();
}

int VideoPresenter::Create(QWidget* window, int width, int height, int& bitsOut) {
    if (window == nullptr) {
        Release();
        return 0;
    }
    bitsOut = BackingStoreBits(window);
    return CreateWithBits(window, width, height, bitsOut);
}

int VideoPresenter::CreateWithBits(QWidget* window, int width, int height, int bits) {
    Release();
    if (window == nullptr || width <= 0 || height <= 0 || (bits != 16 && bits != 24 && bits != 32))
        return 0;
    auto created = std::make_shared<PresentedPicture>();
    created->image = QImage(width, height, FormatForBits(bits));
    if (created->image.isNull()) return 0;
    shared = std::move(created);
    surface = new VideoSurface(window, shared);
    this->width = width;
    this->height = height;
    this->bits = bits;
    frameBytes = bits / 8 * height * width;
    return 1;
}

void VideoPresenter::Present(const uint8_t* picture, const ScreenRect& destination,
                             RowOrder order) {
    std::shared_ptr<PresentedPicture> target = shared;
    if (picture == nullptr || !target || surface == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(target->mutex);
        QImage& image = target->image;
        // Image rows may be padded (24 bits): copy row by row, turning bottom-up pictures
        // upright on the way.
        const size_t rowBytes = static_cast<size_t>(width) * (bits / 8);
        for (int row = 0; row < height; ++row) {
            const int source = order == RowOrder::kBottomRowFirst ? height - 1 - row : row;
            std::memcpy(image.scanLine(row), picture + source * rowBytes, rowBytes);
        }
        target->destination = destination;
        target->inWindow = false;
        target->presented = true;
    }
    // Posting is safe from any thread; the call is dropped if the surface is gone by then. It
    // is called by name, so that Qt makes the call record itself and the picture's lock is the
    // only hand-over between the threads.
    QMetaObject::invokeMethod(surface.data(), "update", Qt::QueuedConnection);
}

void VideoPresenter::Attach(QWidget* window) {
    if (window == nullptr) return;
    if (!shared) shared = std::make_shared<PresentedPicture>();
    if (surface == nullptr) {
        surface = new VideoSurface(window, shared);
        surface->setAttribute(Qt::WA_OpaquePaintEvent);
        pacer = PaintPacer::Instance();
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->inWindow = true;
        shared->surface = surface.data();
    } else {
        surface->setGeometry(window->rect());
    }
}

bool VideoPresenter::BeginPicture(QSize size, int bitsPerPixel, const QRect& destination,
                                  bool turned, ScreenImage& image) {
    if (!shared || surface == nullptr || size.isEmpty()) return false;
    shared->mutex.lock();
    QImage& target = shared->image;
    const QImage::Format format = FormatForBits(bitsPerPixel);
    if (target.size() != size || target.format() != format) {
        target = QImage(size, format);
        if (target.isNull()) {
            shared->presented = false;
            shared->mutex.unlock();
            return false;
        }
    }
    shared->local = destination;
    shared->inWindow = true;
    shared->turned = turned;
    width = size.width();
    height = size.height();
    bits = bitsPerPixel == 16 || bitsPerPixel == 24 ? bitsPerPixel : 32;
    frameBytes = bits / 8 * height * width;
    image = {target.bits(), width, height, static_cast<int>(target.bytesPerLine()), bits};
    return true;
}

void VideoPresenter::EndPicture() {
    shared->presented = true;
    shared->mutex.unlock();
    // One paint asked for at a time: a slow window draws the newest picture, once.
    if (!shared->updatePosted.exchange(true, std::memory_order_acq_rel)) pacer->Ready(shared);
}

void VideoPresenter::Clear() {
    if (!shared) return;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->presented = false;
    }
    if (surface != nullptr) surface->update();
}

void VideoPresenter::Release() {
    delete surface.data();
    surface = nullptr;
    shared.reset();
    width = height = bits = frameBytes = 0;
}

}  // namespace tavix

#include "video_presenter.moc"
