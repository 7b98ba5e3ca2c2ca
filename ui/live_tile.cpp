#include "ui/live_tile.h"

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>

#include <algorithm>
#include <utility>

#include "demux/frame_info.h"
#include "platform/thread.h"
#include "ui/picture_fit.h"
#include "ui/ui_text.h"

namespace tavix {

namespace {

// The frame of a tile in a grid: grey, or this blue around the selected one.
constexpr int kFrameWidth = 2;
const QColor kFrameColour(0x30, 0x30, 0x30);
const QColor kSelectedFrameColour(0x2F, 0x8F, 0xFF);

// A caption over the picture, on its palette's translucent window colour. Every picture
// repaints it, and laying out its text each time cost a wall more than drawing the picture:
// it is drawn once into a pixmap, which each paint copies, until its text, size or look
// changes.
class OverlayLabel : public QLabel {
  public:
    explicit OverlayLabel(QWidget* parent) : QLabel(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        if (drawing) {
            QLabel::paintEvent(event);
            return;
        }
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(size()) * ratio).toSize();
        if (cache.isNull() || cache.size() != pixels || cachedText != text()) {
            cache = QPixmap(pixels);
            cache.setDevicePixelRatio(ratio);
            cache.fill(palette().color(QPalette::Window));
            drawing = true;
            render(&cache, QPoint(), QRegion(), RenderFlags());
            drawing = false;
            cachedText = text();
        }
        QPainter(this).drawPixmap(0, 0, cache);
    }

    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
            event->type() == QEvent::StyleChange)
            cache = QPixmap();
        QLabel::changeEvent(event);
    }

  private:
    QPixmap cache;
    QString cachedText;
    bool drawing = false;
};

// The corner overview of a zoomed tile: the whole picture's outline and the part shown.
class ZoomOverview : public QWidget {
  public:
    ZoomOverview(const LiveTile& tile, QWidget* parent) : QWidget(parent), tile(tile) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 0, 0, 170));
        const QRectF whole = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QColor(255, 255, 255, 200));
        painter.drawRect(whole);
        const QRectF part = tile.ShownPart();
        painter.setPen(QPen(QColor(255, 210, 0), 2));
        painter.setBrush(QColor(255, 210, 0, 90));
        painter.drawRect(QRectF(whole.x() + part.x() * whole.width(),
                                whole.y() + part.y() * whole.height(), part.width() * whole.width(),
                                part.height() * whole.height()));
    }

  private:
    const LiveTile& tile;
};

}  // namespace

LiveTile::LiveTile(DeviceClient& client, Post post, QWidget* parent)
    : QWidget(parent), post(std::move(post)), live(client), source{&client, {}, {}} {
    videoArea = new QWidget(this);
    QPalette black = videoArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    videoArea->setPalette(black);
    videoArea->setAutoFillBackground(true);

    caption = new OverlayLabel(videoArea);
    QPalette captionColours = caption->palette();
    captionColours.setColor(QPalette::Window, QColor(0, 0, 0, 150));
    captionColours.setColor(QPalette::WindowText, Qt::white);
    caption->setPalette(captionColours);
    caption->setContentsMargins(4, 1, 4, 1);
    caption->hide();

    statistics = new OverlayLabel(videoArea);
    statistics->setPalette(captionColours);
    statistics->setContentsMargins(4, 1, 4, 1);
    statistics->hide();

    overview = new ZoomOverview(*this, videoArea);

    presenter.Attach(videoArea);
    caption->raise();
    statistics->raise();
    statusTimer.setInterval(kStatusPollMs);
    connect(&statusTimer, &QTimer::timeout, this, &LiveTile::PollStatus);
    live.SetScreen(this);
}

LiveTile::~LiveTile() {
    // The decoding thread is done with the channel before the screen goes.
    live.Close();
    live.SetScreen(nullptr);
    presenter.Release();
}

void LiveTile::Play(int channelIndex, const QString& name) {
    Stop();
    // Another channel starts whole.
    ResetZoom();
    channelName = name;
    generation.fetch_add(1, std::memory_order_relaxed);
    Replace();
    live.Open(channelIndex, WantedStream());
    // The figures count from this channel's own totals.
    before = live.Figures();
    statusTimer.start();
    ShowStatus();
}

void LiveTile::Play(const ChannelSource& from, int channelIndex, const QString& name) {
    Stop();
    source = from;
    live.UseClient(*from.client);
    Play(channelIndex, name);
}

void LiveTile::ForgetClient(DeviceClient& gone, DeviceClient& fallback) {
    if (&live.Client() != &gone) return;
    Stop();
    source = ChannelSource{&fallback, {}, {}};
    live.UseClient(fallback);
}

QRectF LiveTile::ShownPart() const {
    const double side = 1 / zoom;
    return QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side);
}

QRectF LiveTile::PictureRect() const {
    const QSize picture(pictureWidth.load(std::memory_order_relaxed),
                        pictureHeight.load(std::memory_order_relaxed));
    if (picture.isEmpty() || videoArea->size().isEmpty()) return QRectF(videoArea->rect());
    return QRectF(FitPicture(videoArea->size(), picture, false).destination);
}

void LiveTile::ZoomAt(QPointF at, double factor) {
    const double to = std::clamp(zoom * factor, 1.0, kMaxZoom);
    const QRectF picture = PictureRect();
    const QPointF inArea = at - QPointF(videoArea->pos());
    // The point under the cursor, as a fraction of the tile's picture and of the whole picture.
    const double fx = std::clamp((inArea.x() - picture.x()) / picture.width(), 0.0, 1.0);
    const double fy = std::clamp((inArea.y() - picture.y()) / picture.height(), 0.0, 1.0);
    const QRectF part = ShownPart();
    const QPointF fixed(part.x() + fx * part.width(), part.y() + fy * part.height());
    centre = QPointF(fixed.x() + (0.5 - fx) / to, fixed.y() + (0.5 - fy) / to);
    zoom = to;
    PublishZoom();
}

void LiveTile::PanBy(QPointF pixels) {
    const QRectF picture = PictureRect();
    centre -= QPointF(pixels.x() / picture.width() / zoom, pixels.y() / picture.height() / zoom);
    PublishZoom();
}

void LiveTile::ResetZoom() {
    zoom = 1;
    centre = QPointF(0.5, 0.5);
    PublishZoom();
}

void LiveTile::PublishZoom() {
    // The part shown stays inside the picture.
    const double half = 0.5 / zoom;
    centre =
        QPointF(std::clamp(centre.x(), half, 1 - half), std::clamp(centre.y(), half, 1 - half));
    centreX.store(static_cast<int>(centre.x() * 65536), std::memory_order_relaxed);
    centreY.store(static_cast<int>(centre.y() * 65536), std::memory_order_relaxed);
    zoomPermille.store(static_cast<int>(zoom * 1000), std::memory_order_relaxed);
    const QSize area = videoArea->size();
    overview->setGeometry(area.width() - area.width() / 5 - 4,
                          area.height() - area.height() / 5 - 4, area.width() / 5,
                          area.height() / 5);
    overview->setVisible(zoom > 1);
    overview->raise();
    overview->update();
    // A zoomed picture needs the main stream's pixels.
    FollowStream();
}

void LiveTile::Stop() {
    if (live.Channel() == -1) return;
    live.Close();
    statusTimer.stop();
    // A snapshot asked for is of this stream: the next channel's pictures are not it.
    live.Decoder().TakeSnapshot(false);
    snapshotAsked.store(false, std::memory_order_relaxed);
    {
        // The picture goes with the channel: the tile is black again, in every view.
        std::lock_guard<std::mutex> hold(screenLock);
        generation.fetch_add(1, std::memory_order_relaxed);
        presenter.Clear();
    }
    pictureWidth.store(0, std::memory_order_relaxed);
    pictureHeight.store(0, std::memory_order_relaxed);
    videoArea->update();
    ShowStatus();
}

void LiveTile::Close() {
    statusTimer.stop();
    live.Close();
}

void LiveTile::OnStreamResult(int code) {
    if (live.OnStreamResult(code)) ShowStatus();
    // A main stream opened for a snapshot that cannot be had gives the tile its stream back.
    if (code != 0) GiveUpSnapshot();
    // The decoder starts with the result, before the window hears it: a picture may be on
    // screen already.
    PollStatus();
}

void LiveTile::SetReconnecting() {
    if (live.OnReconnecting()) ShowStatus();
}

void LiveTile::PollStatus() {
    if (live.Poll()) ShowStatus();
    if (snapshotAsked.load(std::memory_order_relaxed) &&
        MonotonicMs() - snapshotAskedMs > kSnapshotWaitMs)
        GiveUpSnapshot();
}

void LiveTile::GiveUpSnapshot() {
    if (!snapshotAsked.exchange(false, std::memory_order_acq_rel)) return;
    live.Decoder().TakeSnapshot(false);
    FollowStream();
    // No picture: the window says the snapshot was not saved.
    emit SnapshotTaken(this, QImage());
}

void LiveTile::ShowStatus() {
    const QString key = QString::fromLatin1(StatusKey(live.Status()));
    // Until it plays, the next picture has the status looked at at once.
    pollOnPicture.store(live.Status() != LiveStatus::kPlaying, std::memory_order_release);
    SetStatus(reinterpret_cast<const char16_t*>(key.utf16()));
}

void LiveTile::TakeSnapshot() {
    if (live.Channel() == -1) return;
    snapshotAsked.store(true, std::memory_order_relaxed);
    snapshotAskedMs = MonotonicMs();
    live.SnapshotFromMain();
}

void LiveTile::SetStreamChoice(StreamChoice to) {
    choice = to;
    FollowStream();
}

void LiveTile::SetAutoStream(int streamType) {
    autoStream = streamType;
    FollowStream();
}

int LiveTile::WantedStream() const {
    if (choice == StreamChoice::kAuto) return zoom > 1 ? kMainStream : autoStream;
    return static_cast<int>(choice);
}

void LiveTile::FollowStream() {
    // A snapshot being taken from the main stream keeps it until the snapshot is here.
    if (snapshotAsked.load(std::memory_order_relaxed)) return;
    live.SwitchStream(WantedStream());
}

namespace {

QString CodecName(int codec) {
    switch (codec) {
        case kCodecMpeg4:
            return QStringLiteral("MPEG-4");
        case kCodecH264:
        case kCodecH264Announced:
            return QStringLiteral("H.264");
        default:
            return QStringLiteral("-");
    }
}

}  // namespace

void LiveTile::SetStatisticsShown(bool on) {
    statisticsShown = on;
    live.SetStampsWanted(on);
    if (!on) statistics->hide();
}

void LiveTile::UpdateStatistics(int64_t periodMs) {
    const LiveFigures now = live.Figures();
    const LiveFigures last = std::exchange(before, now);
    const int64_t stamped = now.delayCount - last.delayCount;
    const int64_t delayMean = stamped > 0 ? (now.delaySumMs - last.delaySumMs) / stamped : -1;
    if (!statisticsShown || live.Channel() == -1 || periodMs <= 0) {
        statistics->hide();
        return;
    }
    const QString text =
        QStringLiteral("%1 %2\u00d7%3 %11\n%4 fps  %5 kbit/s\n%6 %7 ms\n%8 %9 / %10")
            .arg(CodecName(now.codec))
            .arg(pictureWidth.load(std::memory_order_relaxed))
            .arg(pictureHeight.load(std::memory_order_relaxed))
            .arg(static_cast<double>(now.pictures - last.pictures) * 1000 /
                     static_cast<double>(periodMs),
                 0, 'f', 1)
            .arg((now.bytes - last.bytes) * 8 / periodMs)
            .arg(Text(u"STAT_DECODE"))
            .arg(now.decodeMicroseconds / 1000.0, 0, 'f', 1)
            .arg(Text(u"STAT_DROPPED"))
            .arg(now.refusedChunks)
            .arg(now.keyWaits)
            .arg(live.StreamType() == kSubStream ? QStringLiteral("sub") : QStringLiteral("main"));
    // Which recorder: a wall may show several.
    const QString named = source.name.isEmpty() ? text : source.name + u'\n' + text;
    statistics->setText(
        delayMean < 0
            ? named
            : named + QStringLiteral("\n%1 %2 ms").arg(Text(u"STAT_DELAY")).arg(delayMean));
    statistics->adjustSize();
    statistics->move(0, videoArea->height() - statistics->height());
    statistics->raise();
    statistics->show();
}

void LiveTile::SetStatus(const char16_t* key) {
    statusText = Text(key);
    UpdateCaption();
    emit StatusChanged(this, statusText);
}

void LiveTile::UpdateCaption() {
    const bool show = captioned && !statusText.isEmpty();
    caption->setVisible(show);
    if (!show) return;
    const bool playing = live.Channel() != -1;
    caption->setText(playing ? channelName + QStringLiteral("  ") + statusText : statusText);
    caption->adjustSize();
    caption->move(0, 0);
    caption->raise();
}

void LiveTile::SetCaptioned(bool on) {
    if (captioned == on) return;
    captioned = on;
    videoArea->setGeometry(VideoRect());
    Replace();
    UpdateCaption();
    update();
}

void LiveTile::SetSelected(bool on) {
    if (selected == on) return;
    selected = on;
    update();
}

void LiveTile::SetEnlarged(bool on) {
    enlarged.store(on, std::memory_order_relaxed);
    Replace();
}

void LiveTile::UseDisplayBits(int bits) {
    forcedBits = bits;
    Replace();
}

void LiveTile::Replace() {
    displayBits.store(forcedBits != 0 ? forcedBits : VideoPresenter::WindowBits(videoArea),
                      std::memory_order_relaxed);
    areaWidth.store(videoArea->width(), std::memory_order_relaxed);
    areaHeight.store(videoArea->height(), std::memory_order_relaxed);
    presenter.Attach(videoArea);
    placement.fetch_add(1, std::memory_order_release);
    // Around the picture the video area shows its own black.
    videoArea->update();
}

QRect LiveTile::VideoRect() const {
    const int frame = captioned ? kFrameWidth : 0;
    return rect().adjusted(frame, frame, -frame, -frame);
}

void LiveTile::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    videoArea->setGeometry(VideoRect());
    Replace();
    if (zoom > 1) PublishZoom();
}

void LiveTile::paintEvent(QPaintEvent*) {
    if (!captioned) return;
    QPainter painter(this);
    painter.fillRect(rect(), selected ? kSelectedFrameColour : kFrameColour);
}

ScreenReady LiveTile::BeginPicture(int width, int height, ScreenImage& image) {
    if (!shown.load(std::memory_order_relaxed)) return ScreenReady::kSkip;
    screenLock.lock();
    const int now = placement.load(std::memory_order_acquire);
    if (now != placedFor || width != placedWidth || height != placedHeight) {
        // Placed here, from what the window's thread published: the window waits for nothing.
        const QSize area(areaWidth.load(std::memory_order_relaxed),
                         areaHeight.load(std::memory_order_relaxed));
        if (area.isEmpty() || width <= 0 || height <= 0) {
            screenLock.unlock();
            return ScreenReady::kSkip;
        }
        const PictureFit fit =
            FitPicture(area, QSize(width, height), enlarged.load(std::memory_order_relaxed));
        placedFor = now;
        placedWidth = width;
        placedHeight = height;
        turned = fit.turned;
        // The conversion writes row and column pairs: the image's sides are even. A turned
        // picture is converted upright and drawn turned.
        const QSize shown(fit.destination.width() & ~1, fit.destination.height() & ~1);
        destination = QRect(fit.destination.topLeft(), shown);
        imageSize = turned ? shown.transposed() : shown;
        pictureWidth.store(width, std::memory_order_relaxed);
        pictureHeight.store(height, std::memory_order_relaxed);
    }
    if (!presenter.BeginPicture(imageSize, displayBits.load(std::memory_order_relaxed), destination,
                                turned, image)) {
        screenLock.unlock();
        return ScreenReady::kSkip;
    }
    const int permille = zoomPermille.load(std::memory_order_relaxed);
    if (permille > 1000) {
        image.cropWidth = static_cast<int>(int64_t{width} * 1000 / permille);
        image.cropHeight = static_cast<int>(int64_t{height} * 1000 / permille);
        image.cropX =
            static_cast<int>(int64_t{centreX.load(std::memory_order_relaxed)} * width / 65536) -
            image.cropWidth / 2;
        image.cropY =
            static_cast<int>(int64_t{centreY.load(std::memory_order_relaxed)} * height / 65536) -
            image.cropHeight / 2;
    }
    return ScreenReady::kConvert;
}

void LiveTile::EndPicture(const PictureFacts&) {
    presenter.EndPicture();
    screenLock.unlock();
    if (pollOnPicture.exchange(false, std::memory_order_acq_rel)) {
        const int gen = generation.load(std::memory_order_relaxed);
        post([this, gen] {
            if (generation.load(std::memory_order_relaxed) == gen) PollStatus();
        });
    }
}

void LiveTile::SnapshotReady(std::vector<uint8_t> picture, int width, int height) {
    if (!snapshotAsked.exchange(false, std::memory_order_acq_rel)) return;
    const QImage image =
        QImage(picture.data(), width, height, width * 4, QImage::Format_RGB32).copy();
    if (image.isNull()) return;
    const int gen = generation.load(std::memory_order_relaxed);
    post([this, image, gen] {
        if (generation.load(std::memory_order_relaxed) != gen) return;
        FollowStream();
        emit SnapshotTaken(this, image);
    });
}

}  // namespace tavix
