// ASF as the device records it (format type 9): fixed-size data packets (no error-correction
// data, length-type byte 0x10 for one payload or 0x11 for several, property byte 0x5D) whose
// video stream carries the device's private packet stream and whose other streams carry raw
// audio. The data packets are cut by the packet assembler; their payloads are taken out, audio
// payloads are wrapped as private audio packets (codec 14, 8000 samples per second), and the
// rebuilt stream is fed to an inner PrivatePacketParser, whose frames this parser hands out.
//
// The stream is rebuilt as frames are fetched: NextFrame and NextKeyFrame take the data packets
// cut by the last Feed, as many at a time as the staging buffer and the inner parser can take,
// and return the inner parser's frames. A frame and its bytes stay valid until the next Feed or
// Reset; only when the stream rebuilt from one Feed does not fit the inner parser's buffer
// beside what it holds (chunks of several hundred KiB), is it fed in parts, and a frame then
// stays valid until the next NextFrame or NextKeyFrame. Payload lengths that run past
// their data packet, and a padding longer than the packet, are not believed: those payloads are
// skipped. A packet size outside 26 to kMaxPacketSize bytes makes every packet damaged.
#pragma once

#include <cstdint>
#include <memory>

#include "demux/private_packet_parser.h"
#include "demux/stream_parser.h"

namespace tavix {

class AsfParser : public StreamParser {
  public:
    static constexpr uint32_t kStagingSize = 589824;
    static constexpr int32_t kMaxPacketSize = 131072;

    // `buffer`: the work buffer (kWorkBufferSize bytes), lent. `packetSize` and `videoStream`
    // (the ASF stream number of the video) come from the file's header.
    AsfParser(uint8_t* buffer, int32_t packetSize, int32_t videoStream);
    ~AsfParser() override;

    bool IsStartCode(uint32_t code) const override;
    int ParseHeader() override;
    int CheckNext() override;

    int Feed(const uint8_t* data, int length) override;
    FrameInfo* NextFrame() override;
    FrameInfo* NextKeyFrame() override;
    int Reset(int mode) override;

  private:
    // Rebuilds the payloads of the next cut data packets and feeds them to the inner parser.
    // False when no cut data packet is left.
    bool Rebuild();
    void AppendPayloads(const FrameInfo& packet);
    void Append(const uint8_t* bytes, uint32_t count);
    void AppendAudioHeader(uint16_t length);

    const int32_t packetSize;
    const int32_t videoStream;
    std::unique_ptr<uint8_t[]> staging;  // kStagingSize bytes of the rebuilt stream
    uint32_t stagingFill = 0;
    std::unique_ptr<uint8_t[]> innerBuffer;  // the inner parser's work buffer
    std::unique_ptr<PrivatePacketParser> inner;
};

}  // namespace tavix
