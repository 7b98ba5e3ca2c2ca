// The base of every stream parser: the frame pool and the start-code driven packet assembler.
//
// A concrete parser supplies IsStartCode, ParseHeader and CheckNext; the base Feed scans the
// fed bytes for start codes, lets ParseHeader read the header behind each one, gathers the
// payload (in the caller's chunk where it lies whole, else joined in the work buffer), lets
// CheckNext confirm that the next packet starts where the payload ends, and queues one
// FrameInfo per packet. Parsers whose format does not fit replace Feed and the fetch operations.
//
// Lifetime of frames: a FrameInfo returned by NextFrame or NextKeyFrame, and the bytes it points
// to, stay valid until the next Feed or Reset, and only while the chunk given to the last Feed is
// alive. Frames still queued when Feed is called again are discarded unseen.
//
// Threads: none inside; one thread at a time may use a parser. No I/O, no locks.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "demux/frame_info.h"

namespace tavix {

// Bytes of the work buffer that a demultiplexer lends its parser.
constexpr int kWorkBufferSize = 524288;
// The work buffer grows past the lent one, into storage of the parser's own, as the gathered
// bytes need it and up to this: the largest packet and a chunk beside it. Memory follows the
// bytes that came, never what a header claims.
constexpr uint32_t kMaxWorkBufferSize = kMaxFrameBytes + kWorkBufferSize;

class StreamParser {
  public:
    // `buffer` is the work buffer of `bufferSize` bytes; it is lent, not owned, and must outlive
    // the parser. It is the first storage of the work buffer, which grows as packets need.
    explicit StreamParser(uint8_t* buffer, uint32_t bufferSize = kWorkBufferSize);
    virtual ~StreamParser();
    StreamParser(const StreamParser&) = delete;
    StreamParser& operator=(const StreamParser&) = delete;

    // Whether `code`, the last four bytes scanned (first byte most significant), is the start
    // code or magic of a packet of this format. Called for every scanned byte unless the parser
    // declared a search hint (SetSearchHint), so it must be cheap.
    virtual bool IsStartCode(uint32_t code) const = 0;

    // Called with `cursor` just behind a start code and `avail` bytes behind it. Returns 0,
    // changing nothing, when the header is not all there yet. Otherwise takes a record
    // (TakeRecord), makes it `current`, sets at least its packet (normally cursor - 4), payload,
    // packetLength, payloadLength and kind, sets `need` to the payload bytes that follow the
    // header, moves `cursor` past the header (reducing `avail` alike) and returns 1.
    virtual int ParseHeader();

    // Called with `cursor` just behind the payload of `current`: 1 when the next packet starts
    // here (or the bytes run out first), 0 when the frame is to be marked damaged. After a 0 the
    // payload is scanned again from its first byte (the end of the header) with `code` cleared.
    virtual int CheckNext();

    // Consumes one chunk. 0 normally; -1 for a null chunk or a length of 0 or less (nothing
    // changes then). A chunk that would pass kMaxWorkBufferSize beside the buffered bytes is
    // dropped with the partly gathered frame, and 0 is returned.
    virtual int Feed(const uint8_t* data, int length);

    // The oldest ready frame, or null. The record moves to the free queue at once: it is lent
    // until the next Feed or Reset.
    virtual FrameInfo* NextFrame();

    // The oldest ready key frame (dependent 0), discarding the frames before it; null when the
    // ready queue runs empty first.
    virtual FrameInfo* NextKeyFrame();

    virtual int ReadyCount() const;

    // Discards all buffered bytes and frames, gives back grown storage and returns 0; mode 2
    // changes nothing.
    virtual int Reset(int mode);

    // Queues a copy of `frame` as a ready frame, in a record of this parser's pool. For a parser
    // that hands frames of its own to an inner one.
    void QueueCopy(const FrameInfo& frame);

    // Bytes held in the work buffer for the next Feed; a Feed whose chunk does not fit beside
    // them (kMaxWorkBufferSize - BufferedBytes()) is dropped. BufferSize is what the work
    // buffer holds now.
    uint32_t BufferedBytes() const { return fill; }
    uint32_t BufferSize() const { return bufferSize; }

  protected:
    static constexpr uint32_t kNoCode = 0xFFFFFFFF;  // `code` when no bytes were scanned

    // `code` after shifting in the bytes [from, to).
    static uint32_t Shifted(uint32_t code, const uint8_t* from, const uint8_t* to);

    // The frame pool. A record taken from the free queue is not cleared.
    FrameInfo* TakeRecord();
    void QueueReady(FrameInfo* frame);
    void ReleaseReady();    // every ready record to the free queue
    void ReleaseCurrent();  // `current`, if any, to the free queue; `current` becomes null

    // Ends a ParseHeader that read `headerBytes` of header behind the start code, with a payload
    // of `payloadBytes` behind them: points `frame` at its packet (from the start code) and its
    // payload, makes it `current`, sets `need` and moves `cursor` past the header. A payload
    // longer than kMaxFrameBytes cannot be believed: the frame gets none, the scan goes on
    // behind the header, and false is returned.
    bool BeginPacket(FrameInfo* frame, int32_t headerBytes, uint32_t payloadBytes);

    // The common CheckNext: reads up to `compareBytes` (1 to 4) bytes at `cursor`, one at a
    // time, into `code` (starting from 0), and after each compares them with the leading bytes
    // of every code in `codes`. 0 at the first mismatch; 1 when all compared bytes match or the
    // bytes run out first.
    int MatchNextStartCode(std::span<const uint32_t> codes, int compareBytes = 4);

    // Declares that every start code of the format holds `byte` at `offset` (0 to 3, from the
    // first byte of the four). The search then skips to those positions and calls IsStartCode
    // only there; its result is the same as with the byte-by-byte search.
    void SetSearchHint(uint8_t byte, int offset);

    // Bytes of the parser's own, besides the chunk and the work buffer, that a queued frame may
    // point into (a frame pointing anywhere else is marked damaged when it is queued).
    void SetOwnFrameBytes(const uint8_t* start, uint32_t length) {
        ownBytes = start;
        ownLength = length;
    }

    // Called when the buffered bytes and the frame being gathered were dropped because the work
    // buffer would overflow.
    virtual void Dropped() {}

    // Makes the work buffer hold at least `bytes` bytes. Growing moves the buffered bytes to new
    // storage and with them `cursor` and the packet and payload of `current` and of the ready
    // frames; other pointers into the buffer go stale, so keep positions, not pointers, across
    // a call. False, changing nothing, past kMaxWorkBufferSize or when memory runs out.
    bool Reserve(uint64_t bytes);

    std::deque<FrameInfo*> readyQueue;  // complete, not yet fetched, oldest first
    std::deque<FrameInfo*> freeQueue;   // available for reuse
    FrameInfo* current = nullptr;       // the frame whose packet is being gathered
    FrameInfo* lastReturned = nullptr;  // the record most recently fetched
    uint8_t* buffer;                    // the work buffer: the lent one or `grown`
    uint32_t bufferSize;                // its bytes
    const uint8_t* cursor;              // next byte to scan, in the caller's chunk or the buffer
    uint32_t code = 0;                  // the last four bytes scanned; 0xFFFFFFFF when none
    uint32_t need = 0;                  // payload bytes of `current` still missing
    uint32_t fill = 0;                  // bytes held in the work buffer
    int32_t avail = 0;                  // bytes left to scan from `cursor`
    uint32_t lastSequence = 0;          // sequence counter of the previous packet; 0 = none

  private:
    bool SearchStartCode();
    // Writes `count` bytes at `from` behind the buffered bytes (behind `fill`) and makes them the
    // kept bytes: `cursor` points at them and `fill` counts them. False, with nothing written,
    // when they would not fit.
    bool Keep(const uint8_t* prefix, int prefixLength, const uint8_t* from, int count);
    // Keep for the end of a Feed: drops everything buffered when the bytes do not fit; returns 0.
    int KeepOrDrop(const uint8_t* prefix, int prefixLength, const uint8_t* from, int count);
    // The buffer would overflow: everything buffered and the partly gathered frame are dropped.
    void DropBuffered();
    // Completes `current`: a payload or packet that does not lie in live bytes is marked damaged.
    void QueueCurrent();

    uint8_t* const lent;  // the lent buffer, of lentSize bytes
    const uint32_t lentSize;
    std::unique_ptr<uint8_t[]> grown;                 // the work buffer once it outgrew `lent`
    std::vector<std::unique_ptr<FrameInfo>> records;  // every record ever made, for freeing
    const uint8_t* chunk = nullptr;                   // the chunk of the running Feed
    int chunkLength = 0;
    uint32_t straddleHeaderLength = 0;  // bytes from a straddling packet's start to its payload
    int hintOffset = -1;                // -1: no search hint
    const uint8_t* ownBytes = nullptr;  // see SetOwnFrameBytes
    uint32_t ownLength = 0;
    uint8_t hintByte = 0;
};

}  // namespace tavix
