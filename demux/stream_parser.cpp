#include "demux/stream_parser.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr int kInitialRecords = 10;
// Fewer bytes than this at the end of the scan are kept whole for the next chunk.
constexpr int32_t kMinScanBytes = 16;

// Bytes from `p` to the end of [start, start + length), or -1 when `p` lies outside it.
int64_t BytesFrom(const uint8_t* p, const uint8_t* start, int64_t length) {
    auto at = reinterpret_cast<uintptr_t>(p);
    auto begin = reinterpret_cast<uintptr_t>(start);
    if (!start || at < begin || at > begin + static_cast<uintptr_t>(length)) return -1;
    return length - static_cast<int64_t>(at - begin);
}

}  // namespace

uint32_t StreamParser::Shifted(uint32_t code, const uint8_t* from, const uint8_t* to) {
    if (to - from >= 4) return ReadBe32(to - 4);
    for (; from < to; ++from)
        code = code << 8 | *from;
    return code;
}

StreamParser::StreamParser(uint8_t* buffer, uint32_t bufferSize)
    : buffer(buffer), bufferSize(bufferSize), cursor(buffer), lent(buffer), lentSize(bufferSize) {
    for (int i = 0; i < kInitialRecords; ++i) {
        records.push_back(std::make_unique<FrameInfo>());
        freeQueue.push_back(records.back().get());
    }
}

StreamParser::~StreamParser() = default;

int StreamParser::ParseHeader() {
    return 1;
}

int StreamParser::CheckNext() {
    return 1;
}

FrameInfo* StreamParser::TakeRecord() {
    if (freeQueue.empty()) {
        records.push_back(std::make_unique<FrameInfo>());
        return records.back().get();
    }
    FrameInfo* record = freeQueue.front();
    freeQueue.pop_front();
    return record;
}

void StreamParser::QueueReady(FrameInfo* frame) {
    readyQueue.push_back(frame);
}

void StreamParser::ReleaseReady() {
    while (!readyQueue.empty()) {
        freeQueue.push_back(readyQueue.front());
        readyQueue.pop_front();
    }
}

void StreamParser::ReleaseCurrent() {
    if (current) freeQueue.push_back(current);
    current = nullptr;
}

void StreamParser::QueueCopy(const FrameInfo& frame) {
    FrameInfo* record = TakeRecord();
    *record = frame;
    QueueReady(record);
}

FrameInfo* StreamParser::NextFrame() {
    if (readyQueue.empty()) return nullptr;
    FrameInfo* frame = readyQueue.front();
    readyQueue.pop_front();
    freeQueue.push_back(frame);
    lastReturned = frame;
    return frame;
}

FrameInfo* StreamParser::NextKeyFrame() {
    while (FrameInfo* frame = NextFrame())
        if (frame->dependent == 0) return frame;
    return nullptr;
}

int StreamParser::ReadyCount() const {
    return static_cast<int>(readyQueue.size());
}

int StreamParser::Reset(int mode) {
    if (mode == 2) return 0;
    cursor = buffer;
    avail = 0;
    fill = 0;
    need = 0;
    lastSequence = 0;
    ReleaseReady();
    ReleaseCurrent();
    buffer = lent;
    bufferSize = lentSize;
    cursor = buffer;
    grown.reset();
    return 0;
}

bool StreamParser::Reserve(uint64_t bytes) {
    if (bytes <= bufferSize) return true;
    if (bytes > kMaxWorkBufferSize) return false;
    // Doubling keeps the copies few while a large picture arrives in small chunks.
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(
        std::max<uint64_t>(bytes, uint64_t{bufferSize} * 2), kMaxWorkBufferSize));
    std::unique_ptr<uint8_t[]> storage(new (std::nothrow) uint8_t[size]);
    if (!storage) return false;
    if (bufferSize > 0) std::memcpy(storage.get(), buffer, bufferSize);
    uint8_t* const to = storage.get();
    auto move = [this, to](const uint8_t*& p) {
        if (BytesFrom(p, buffer, bufferSize) >= 0) p = to + (p - buffer);
    };
    move(cursor);
    if (current) {
        move(current->packet);
        move(current->payload);
    }
    for (FrameInfo* frame : readyQueue) {
        move(frame->packet);
        move(frame->payload);
    }
    buffer = to;
    bufferSize = size;
    grown = std::move(storage);  // the storage grown before, if any, goes
    return true;
}

bool StreamParser::BeginPacket(FrameInfo* frame, int32_t headerBytes, uint32_t payloadBytes) {
    const bool believable = payloadBytes <= kMaxFrameBytes;
    if (!believable) payloadBytes = 0;
    frame->packet = cursor - 4;
    frame->payload = cursor + headerBytes;
    frame->payloadLength = static_cast<int32_t>(payloadBytes);
    frame->packetLength = 4 + headerBytes + static_cast<int32_t>(payloadBytes);
    current = frame;
    need = payloadBytes;
    cursor += headerBytes;
    avail -= headerBytes;
    return believable;
}

void StreamParser::SetSearchHint(uint8_t byte, int offset) {
    hintByte = byte;
    hintOffset = offset >= 0 && offset <= 3 ? offset : -1;
}

int StreamParser::MatchNextStartCode(std::span<const uint32_t> codes, int compareBytes) {
    if (compareBytes >= 4 && avail >= 4) {
        // The usual case, all four bytes at once: the next packet starts right here.
        const uint32_t next = ReadBe32(cursor);
        for (uint32_t startCode : codes) {
            if (startCode != next) continue;
            code = next;
            cursor += 4;
            avail -= 4;
            return 1;
        }
    }
    code = 0;
    if (avail <= 0) return 1;
    for (int k = 1; k <= compareBytes && k <= 4; ++k) {
        code = code << 8 | *cursor++;
        --avail;
        bool match = false;
        for (uint32_t startCode : codes) {
            if ((startCode >> (8 * (4 - k))) == code) {
                match = true;
                break;
            }
        }
        if (!match) return 0;
        if (avail <= 0) return 1;
    }
    return 1;
}

bool StreamParser::SearchStartCode() {
    if (IsStartCode(code)) return true;
    // The byte-by-byte search: the last byte is shifted in but not tested, so that a start code
    // ending the bytes is found again with the bytes that follow it.
    const int lead = hintOffset < 0 ? avail : 3 - hintOffset;
    for (int i = 0; i < lead; ++i) {
        code = code << 8 | *cursor++;
        if (--avail == 0) return false;
        if (IsStartCode(code)) return true;
    }
    // With a hint only the positions where the hint byte stands can complete a start code.
    for (;;) {
        const uint8_t* end = cursor + avail;
        const uint8_t* hint = cursor - lead;  // hint byte of a code completed by *cursor
        const void* found = memchr(hint, hintByte, static_cast<size_t>(avail - 1));
        const uint8_t* last = found ? static_cast<const uint8_t*>(found) + lead : end - 1;
        code = Shifted(code, cursor, last + 1);
        avail -= static_cast<int32_t>(last + 1 - cursor);
        cursor = last + 1;
        if (avail == 0) return false;
        if (IsStartCode(code)) return true;
    }
}

bool StreamParser::Keep(const uint8_t* prefix, int prefixLength, const uint8_t* from, int count) {
    if (count < 0) return false;
    // `from` may lie in the buffer, which may move.
    const int64_t fromOffset = BytesFrom(from, buffer, bufferSize) >= 0 ? from - buffer : -1;
    if (!Reserve(uint64_t{fill} + static_cast<uint64_t>(prefixLength) +
                 static_cast<uint64_t>(count)))
        return false;
    if (fromOffset >= 0) from = buffer + fromOffset;
    uint8_t* to = buffer + fill;
    if (prefixLength > 0) std::memcpy(to, prefix, static_cast<size_t>(prefixLength));
    if (count > 0) std::memcpy(to + prefixLength, from, static_cast<size_t>(count));
    cursor = to;
    fill = static_cast<uint32_t>(prefixLength + count);
    return true;
}

void StreamParser::DropBuffered() {
    cursor = buffer;
    fill = 0;
    need = 0;
    avail = 0;
    ReleaseCurrent();
    Dropped();
}

void StreamParser::QueueCurrent() {
    FrameInfo* frame = current;
    current = nullptr;
    // A parser's lengths come from the stream: whatever they say, the frame keeps to live bytes.
    auto live = [this](const uint8_t* p) {
        int64_t n = BytesFrom(p, chunk, chunkLength);
        if (n < 0) n = BytesFrom(p, buffer, bufferSize);
        return n >= 0 ? n : BytesFrom(p, ownBytes, ownLength);
    };
    int64_t payloadRoom = live(frame->payload);
    if (frame->payloadLength < 0 || frame->payloadLength > payloadRoom) frame->payloadLength = 0;
    int64_t packetRoom = live(frame->packet);
    if (frame->packetLength < 0 || frame->packetLength > packetRoom)
        frame->packetLength = static_cast<int32_t>(packetRoom > 0 ? packetRoom : 0);
    QueueReady(frame);
}

int StreamParser::Feed(const uint8_t* data, int length) {
    if (!data || length <= 0) return -1;
    // Bytes buffered for a packet are joined with the chunk in the buffer.
    if (static_cast<int64_t>(fill) + length > kMaxWorkBufferSize ||
        (fill > 0 && !Reserve(uint64_t{fill} + static_cast<uint64_t>(length)))) {
        // Unfetched frames go too: they may point into the previous chunk, which the caller may
        // have freed by now.
        ReleaseReady();
        DropBuffered();
        return 0;
    }
    chunk = data;
    chunkLength = length;
    if (cursor != buffer) {
        std::memmove(buffer, cursor, fill);
        cursor = buffer;
    }
    ReleaseReady();
    code = kNoCode;

    // Where the last successful CheckNext began reading: the bytes it read are kept when they
    // end the data, so that a start code split there is found with the next chunk.
    const uint8_t* checkedFrom = nullptr;
    if (need > 0) {
        if (static_cast<uint32_t>(length) < need) {
            std::memcpy(buffer + fill, data, static_cast<size_t>(length));
            fill += static_cast<uint32_t>(length);
            need -= static_cast<uint32_t>(length);
            return 0;
        }
        if (!current) {
            fill = 0;
            need = 0;
            return 0;
        }
        std::memcpy(buffer + fill, data, need);
        fill += need;
        cursor = data + need;
        avail = length - static_cast<int32_t>(need);
        checkedFrom = cursor;
        if (!CheckNext()) {
            // As with a packet whole in one chunk, the payload is scanned again, so that a
            // packet that began inside it is found: the rest of the chunk goes behind the joined
            // packet (it fits: the check on entry allowed the whole chunk) and the scan restarts
            // at the end of the header.
            current->payloadLength = 0;
            auto rest = static_cast<uint32_t>(length) - need;
            std::memcpy(buffer + fill, data + need, rest);
            fill += rest;
            cursor = buffer + straddleHeaderLength;
            avail = static_cast<int32_t>(fill - straddleHeaderLength);
            code = kNoCode;
            checkedFrom = nullptr;
        }
        need = 0;
        QueueCurrent();
    } else if (fill == 0) {
        cursor = data;
        avail = length;
    } else {
        std::memcpy(buffer + fill, data, static_cast<size_t>(length));
        fill += static_cast<uint32_t>(length);
        avail = static_cast<int32_t>(fill);
    }

    // Each way out of the scan leaves the bytes for the next Feed at `cursor` (`fill` of them).
    // Bytes that would not fit the buffer are dropped like a chunk that overflows it.
    while (avail > 0) {
        checkedFrom = nullptr;
        if (avail < kMinScanBytes) {
            uint8_t prefix[4];
            int prefixLength = 0;
            if (code != kNoCode) {
                WriteBe32(prefix, code);
                prefixLength = 4;
            }
            return KeepOrDrop(prefix, prefixLength, cursor, avail);
        }
        if (!SearchStartCode()) {
            // Scanned regions are at least kMinScanBytes long: four bytes precede `cursor`.
            return KeepOrDrop(nullptr, 0, cursor - 4, 4);
        }
        if (!ParseHeader()) {
            uint8_t prefix[4];
            WriteBe32(prefix, code);
            return KeepOrDrop(prefix, 4, cursor, avail);
        }
        if (need <= static_cast<uint32_t>(avail)) {
            const uint8_t* payloadStart = cursor;
            cursor += need;
            avail -= static_cast<int32_t>(need);
            checkedFrom = cursor;
            if (!CheckNext()) {
                // The payload is scanned again for a packet that began inside it, from its first
                // byte with a cleared register, as when the packet straddles chunks: the frames
                // do not depend on where the chunks end, and the bytes CheckNext read cannot form
                // a start code with the payload's.
                current->payloadLength = 0;
                avail += static_cast<int32_t>(cursor - payloadStart);
                cursor = payloadStart;
                code = kNoCode;
                checkedFrom = nullptr;
            }
            QueueCurrent();
            continue;
        }
        if (need > kMaxFrameBytes) {
            current->payloadLength = 0;
            QueueCurrent();
            fill = 0;
            cursor = buffer;
            need = 0;
            return 0;
        }
        // The packet goes on in the next chunk: gather what is here behind the buffered bytes,
        // counted from the bytes really present, whatever the header said.
        auto received = static_cast<int>(cursor + avail - current->packet);
        ptrdiff_t payloadOffset = current->payload - current->packet;
        auto headerLength = static_cast<uint32_t>(cursor - current->packet);
        if (!Keep(nullptr, 0, current->packet, received)) {
            DropBuffered();
            return 0;
        }
        current->packet = buffer;
        current->payload = buffer + payloadOffset;
        straddleHeaderLength = headerLength;
        need -= static_cast<uint32_t>(avail);
        return 0;
    }
    // The data ended with a complete packet. The bytes CheckNext read behind it may be the start
    // of a code that the next chunk completes.
    if (checkedFrom && cursor > checkedFrom)
        return KeepOrDrop(nullptr, 0, checkedFrom, static_cast<int>(cursor - checkedFrom));
    fill = 0;
    cursor = buffer;
    need = 0;
    return 0;
}

int StreamParser::KeepOrDrop(const uint8_t* prefix, int prefixLength, const uint8_t* from,
                             int count) {
    if (!Keep(prefix, prefixLength, from, count)) DropBuffered();
    need = 0;
    return 0;
}

}  // namespace tavix
