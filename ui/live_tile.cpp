#include "ui/live_tile.h"

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>

#include <chrono>
#include <future>
#include <new>

#include "client/device_client.h"
#include "demux/frame_info.h"
#include "platform/thread.h"
#include "ui/picture_fit.h"
#include "ui/ui_text.h"
#include "video/decoder.h"
#include "video/frame_stamp.h"

namespace tavix {

namespace {

// How long the tick waits for a placement before it looks whether the window is going.
constexpr int kPlacementWaitMs = 33;
// The frame of a tile in a grid: grey, or this blue around the selected one.
constexpr int kFrameWidth = 2;
const QColor kFrameColour(0x30, 0x30, 0x30);
const QColor kSelectedFrameColour(0x2F, 0x8F, 0xFF);

// A rotate buffer of this many pixels or more is not made: the view stays unturned.
constexpr int64_t kMaxTurnedPixels = int64_t{1} << 30;

}  // namespace

LiveTile::LiveTile(DeviceClient& client, Post post, QWidget* parent)
    : QWidget(parent), client(client), post(std::move(post)) {
    videoArea = new QWidget(this);
    QPalette black = videoArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    videoArea->setPalette(black);
    videoArea->setAutoFillBackground(true);

    caption = new QLabel(videoArea);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption->setAutoFillBackground(true);
    QPalette captionColours = caption->palette();
    captionColours.setColor(QPalette::Window, QColor(0, 0, 0, 150));
    captionColours.setColor(QPalette::WindowText, Qt::white);
    caption->setPalette(captionColours);
    caption->setContentsMargins(4, 1, 4, 1);
    caption->hide();

    statistics = new QLabel(videoArea);
    statistics->setAttribute(Qt::WA_TransparentForMouseEvents);
    statistics->setAutoFillBackground(true);
    statistics->setPalette(captionColours);
    statistics->setContentsMargins(4, 1, 4, 1);
    statistics->hide();
}

LiveTile::~LiveTile() {
    closing.store(true, std::memory_order_release);
    presenter.Release();
}

void LiveTile::Play(int channelIndex, const QString& name) {
    Stop();
    CDecoder& channelDecoder = client.Decoder(channelIndex);
    const int bits = forcedBits != 0 ? forcedBits : VideoPresenter::WindowBits(videoArea);
    displayBits.store(bits, std::memory_order_relaxed);
    channelDecoder.SetDisplayBits(bits);
    channelName = name;
    // The figures count from this channel's own totals.
    presentedBefore = presented.load(std::memory_order_relaxed);
    bytesBefore = client.MediaBytes(channelIndex);
    reconnecting = false;
    generation.fetch_add(1, std::memory_order_relaxed);
    opened.store(false, std::memory_order_relaxed);
    bufferingShown.store(0, std::memory_order_relaxed);
    geometryDirty.store(true, std::memory_order_relaxed);
    decoder.store(&channelDecoder, std::memory_order_relaxed);
    channel.store(channelIndex, std::memory_order_release);
    client.OpenChannel(channelIndex, 1);
    SetStatus(u"OPENING_V");
}

void LiveTile::Stop() {
    const int playing = channel.load(std::memory_order_relaxed);
    if (playing == -1) return;
    client.CloseChannel(playing);
    {
        // The picture goes with the channel: the tile is black again, in every view.
        std::lock_guard<std::mutex> hold(presentLock);
        generation.fetch_add(1, std::memory_order_relaxed);
        opened.store(false, std::memory_order_relaxed);
        channel.store(-1, std::memory_order_release);
        presenter.Release();
    }
    // A snapshot asked for is of this stream: the next channel's pictures are not it.
    snapshotWanted.store(false, std::memory_order_release);
    reconnecting = false;
    pictureWidth.store(0, std::memory_order_relaxed);
    pictureHeight.store(0, std::memory_order_relaxed);
    videoArea->update();
    SetStatus(u"STOP");
}

void LiveTile::OnStreamResult(int code) {
    if (channel.load(std::memory_order_relaxed) == -1) return;
    // Statuses the tick found before the result are not this stream's.
    generation.fetch_add(1, std::memory_order_relaxed);
    if (code != 0) {
        // Nothing streams: the decoder's waiting must not read as buffering.
        opened.store(false, std::memory_order_relaxed);
        reconnecting = false;
        SetStatus(u"OPEN_ERR");
        return;
    }
    bufferingShown.store(1, std::memory_order_relaxed);
    opened.store(true, std::memory_order_release);
    // A stream opened again while the link is brought back is still reconnecting until its
    // first picture says "playing".
    if (!reconnecting) SetStatus(u"BUFFERING");
}

namespace {

// The decoder's picture (rows packed, 16 bits top row first, 24 and 32 bits bottom row first)
// as an image of its own, upright.
QImage UprightImage(const uint8_t* picture, int width, int height, int bits) {
    if (bits == 16) return QImage(picture, width, height, width * 2, QImage::Format_RGB16).copy();
    const QImage stored(picture, width, height, width * (bits / 8),
                        bits == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    return stored.mirrored();
}

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
    stampsWanted.store(on, std::memory_order_relaxed);
    if (!on) statistics->hide();
}

void LiveTile::UpdateStatistics(int64_t periodMs) {
    const int playing = channel.load(std::memory_order_relaxed);
    const int64_t shownCount = presented.load(std::memory_order_relaxed);
    const int64_t bytes = playing != -1 ? client.MediaBytes(playing) : 0;
    const int64_t pictures = shownCount - presentedBefore;
    const int64_t received = bytes - bytesBefore;
    const int64_t delaySum = delaySumMs.load(std::memory_order_relaxed);
    const int64_t delays = delayCount.load(std::memory_order_relaxed);
    const int64_t stamped = delays - delayCountBefore;
    const int64_t delayMean = stamped > 0 ? (delaySum - delaySumBefore) / stamped : -1;
    presentedBefore = shownCount;
    bytesBefore = bytes;
    delaySumBefore = delaySum;
    delayCountBefore = delays;
    if (!statisticsShown || playing == -1 || periodMs <= 0) {
        statistics->hide();
        return;
    }
    const CDecoder* from = decoder.load(std::memory_order_relaxed);
    const QString text =
        QStringLiteral("%1 %2\u00d7%3\n%4 fps  %5 kbit/s\n%6 %7 ms\n%8 %9 / %10")
            .arg(CodecName(from->Codec()))
            .arg(pictureWidth.load(std::memory_order_relaxed))
            .arg(pictureHeight.load(std::memory_order_relaxed))
            .arg(static_cast<double>(pictures) * 1000 / static_cast<double>(periodMs), 0, 'f', 1)
            .arg(received * 8 / periodMs)
            .arg(Text(u"STAT_DECODE"))
            .arg(from->DecodeMicroseconds() / 1000.0, 0, 'f', 1)
            .arg(Text(u"STAT_DROPPED"))
            .arg(client.RefusedChunks(playing))
            .arg(from->KeyWaits());
    statistics->setText(
        delayMean < 0
            ? text
            : text + QStringLiteral("\n%1 %2 ms").arg(Text(u"STAT_DELAY")).arg(delayMean));
    statistics->adjustSize();
    statistics->move(0, videoArea->height() - statistics->height());
    statistics->raise();
    statistics->show();
}

void LiveTile::SetReconnecting() {
    if (channel.load(std::memory_order_relaxed) == -1) return;
    generation.fetch_add(1, std::memory_order_relaxed);
    opened.store(false, std::memory_order_relaxed);
    reconnecting = true;
    SetStatus(u"RECONNECTING");
}

void LiveTile::SetStatus(const char16_t* key) {
    if (std::u16string_view(key) == u"PLAYING") reconnecting = false;
    statusText = Text(key);
    UpdateCaption();
    emit StatusChanged(this, statusText);
}

void LiveTile::UpdateCaption() {
    const bool show = captioned && !statusText.isEmpty();
    caption->setVisible(show);
    if (!show) return;
    const bool playing = channel.load(std::memory_order_relaxed) != -1;
    caption->setText(playing ? channelName + QStringLiteral("  ") + statusText : statusText);
    caption->adjustSize();
    caption->move(0, 0);
    caption->raise();
}

void LiveTile::SetCaptioned(bool on) {
    if (captioned == on) return;
    captioned = on;
    videoArea->setGeometry(VideoRect());
    geometryDirty.store(true, std::memory_order_release);
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
    geometryDirty.store(true, std::memory_order_release);
}

void LiveTile::UseDisplayBits(int bits) {
    forcedBits = bits;
    geometryDirty.store(true, std::memory_order_release);
}

QRect LiveTile::VideoRect() const {
    const int frame = captioned ? kFrameWidth : 0;
    return rect().adjusted(frame, frame, -frame, -frame);
}

void LiveTile::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    videoArea->setGeometry(VideoRect());
    geometryDirty.store(true, std::memory_order_release);
}

void LiveTile::paintEvent(QPaintEvent*) {
    if (!captioned) return;
    QPainter painter(this);
    painter.fillRect(rect(), selected ? kSelectedFrameColour : kFrameColour);
}

void LiveTile::Tick() {
    const int playing = channel.load(std::memory_order_acquire);
    if (playing < 0) {
        if (rotateBuffer) {
            rotateBuffer.reset();
            pictureWidth.store(0, std::memory_order_relaxed);
            pictureHeight.store(0, std::memory_order_relaxed);
        }
        return;
    }
    // Before the stream has started the decoder has nothing to say.
    if (!opened.load(std::memory_order_acquire)) return;
    CDecoder* from = decoder.load(std::memory_order_relaxed);
    const int gen = generation.load(std::memory_order_relaxed);
    const int shownStatus = bufferingShown.load(std::memory_order_relaxed);
    int width = 0;
    int height = 0;
    int status = shownStatus;
    const uint8_t* picture = from->GetPicture(width, height, status);
    if (status != shownStatus) {
        bufferingShown.store(status, std::memory_order_relaxed);
        const char16_t* key = status == kStatusBuffering ? u"BUFFERING" : u"PLAYING";
        // Shown by the window's thread, unless a stop or another open came first.
        post([this, key, gen] {
            if (generation.load(std::memory_order_relaxed) == gen) SetStatus(key);
        });
    }
    if (picture == nullptr) return;
    if (width > 0 && height > 0 && snapshotWanted.exchange(false, std::memory_order_acq_rel)) {
        const QImage image =
            UprightImage(picture, width, height, displayBits.load(std::memory_order_relaxed));
        post([this, image, gen] {
            if (generation.load(std::memory_order_relaxed) == gen) emit SnapshotTaken(this, image);
        });
    }
    if (width > 0 && height > 0 && shown.load(std::memory_order_relaxed)) {
        const int bits = displayBits.load(std::memory_order_relaxed);
        const bool refit = geometryDirty.exchange(false, std::memory_order_acq_rel) ||
                           width != pictureWidth.load(std::memory_order_relaxed) ||
                           height != pictureHeight.load(std::memory_order_relaxed);
        // A placement that changed the depth leaves this picture in the old one: the decoder
        // converts the next in the new.
        if ((!refit || Refit(width, height)) &&
            bits == displayBits.load(std::memory_order_relaxed)) {
            std::lock_guard<std::mutex> hold(presentLock);
            if (generation.load(std::memory_order_relaxed) == gen) {
                if (rotateBuffer) {
                    TurnPicture(picture, width, height, bits, rotateBuffer.get());
                    presenter.Present(rotateBuffer.get(), destination, RowOrder::kTopRowFirst);
                } else {
                    presenter.Present(
                        picture, destination,
                        bits == 16 ? RowOrder::kTopRowFirst : RowOrder::kBottomRowFirst);
                }
                presented.fetch_add(1, std::memory_order_relaxed);
                FrameStamp stamp;
                if (stampsWanted.load(std::memory_order_relaxed) &&
                    ReadPictureStamp(picture, width, height, bits, stamp)) {
                    delaySumMs.fetch_add(StampDelayMs(stamp, MonotonicMs()),
                                         std::memory_order_relaxed);
                    delayCount.fetch_add(1, std::memory_order_relaxed);
                }
            }
        }
    }
    from->ReleasePicture();
}

bool LiveTile::Refit(int width, int height) {
    // The presenter and the video area belong to the window's thread: the placement is made
    // there while this thread waits, unless the window is going.
    auto placed = std::make_shared<std::promise<ScreenRect>>();
    std::future<ScreenRect> result = placed->get_future();
    post([this, width, height, placed] { placed->set_value(Place(width, height)); });
    while (result.wait_for(std::chrono::milliseconds(kPlacementWaitMs)) !=
           std::future_status::ready) {
        if (closing.load(std::memory_order_acquire)) return false;
    }
    try {
        destination = result.get();
    } catch (const std::future_error&) {
        return false;  // dropped unrun
    }
    pictureWidth.store(width, std::memory_order_relaxed);
    pictureHeight.store(height, std::memory_order_relaxed);
    return true;
}

ScreenRect LiveTile::Place(int width, int height) {
    const bool isEnlarged = enlarged.load(std::memory_order_relaxed);
    const QSize area = VideoRect().size();
    const QSize picture(width, height);
    PictureFit fit = FitPicture(area, picture, isEnlarged);
    // The tick waits meanwhile: its rotate buffer can be made here.
    rotateBuffer.reset();
    if (fit.turned) {
        const int64_t pixels = int64_t{width} * height;
        if (pixels < kMaxTurnedPixels)
            rotateBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(pixels) * 4]);
        if (!rotateBuffer) fit = FitPicture(area, picture, false);
    }
    // Around the picture the video area shows its own black.
    videoArea->update();
    const QPoint topLeft = videoArea->mapToGlobal(fit.destination.topLeft());
    int bits = forcedBits;
    const QSize shownSize = fit.displayed;
    if (forcedBits != 0) {
        if (!presenter.CreateWithBits(videoArea, shownSize.width(), shownSize.height(), bits))
            bits = 0;
    } else if (!presenter.Create(videoArea, shownSize.width(), shownSize.height(), bits)) {
        bits = 0;
    }
    // The decoder converts the next pictures to the depth the new presenter shows.
    if (bits != 0 && bits != displayBits.load(std::memory_order_relaxed)) {
        displayBits.store(bits, std::memory_order_relaxed);
        if (CDecoder* to = decoder.load(std::memory_order_relaxed)) to->SetDisplayBits(bits);
    }
    caption->raise();
    statistics->raise();
    return {topLeft.x(), topLeft.y(), topLeft.x() + fit.destination.width(),
            topLeft.y() + fit.destination.height()};
}

}  // namespace tavix
