#include "demux/vol_reader.h"

namespace tavix {
namespace {

// Big-endian bit reader over data[0, count); bits past the end read as 0 and are noticed.
class BitReader {
  public:
    BitReader(const uint8_t* data, int count) : data(data), bits(static_cast<int64_t>(count) * 8) {}

    // The next n bits (n up to 32) without consuming them.
    uint32_t Peek(int n) const {
        uint64_t value = 0;
        for (int i = 0; i < n; ++i)
            value = value << 1 | Bit(position + i);
        return static_cast<uint32_t>(value);
    }
    uint32_t Read(int n) {
        uint32_t value = Peek(n);
        position += n;
        return value;
    }
    void Skip(int n) { position += n; }
    void Align() { position = (position + 7) & ~int64_t{7}; }
    bool Consumed() const { return position >= bits; }
    // Whether everything read so far lay inside the data.
    bool Inside() const { return position <= bits; }

  private:
    uint32_t Bit(int64_t at) const {
        if (at >= bits) return 0;
        return data[at >> 3] >> (7 - (at & 7)) & 1;
    }

    const uint8_t* data;
    int64_t bits;
    int64_t position = 0;
};

// Number of bits that hold `value`, at least 1.
int BitCount(uint32_t value) {
    int count = 1;
    while (value >> count)
        ++count;
    return count;
}

}  // namespace

int ReadVolHeader(const uint8_t* data, int count, VolInfo* info) {
    if (!data || count <= 0) return -1;
    BitReader reader(data, count);
    while (!reader.Consumed()) {
        reader.Align();
        uint32_t value = reader.Peek(32);
        if (value >= 0x120 && value <= 0x12F) {  // video object layer
            reader.Skip(32);
            reader.Skip(1);  // random_accessible_vol
            uint32_t type = reader.Read(8);
            if (type != 0 && type != 1 && type != 3 && type != 4) return -1;
            uint32_t verid = 1;
            if (reader.Read(1)) {  // is_object_layer_identifier
                verid = reader.Read(4);
                reader.Skip(3);  // video_object_layer_priority
            }
            if (reader.Read(4) == 15) reader.Skip(16);  // aspect_ratio_info: par_width, par_height
            if (reader.Read(1)) {                       // vol_control_parameters
                reader.Skip(3);                         // chroma_format, low_delay
                if (reader.Read(1)) reader.Skip(79);    // vbv_parameters
            }
            uint32_t shape = reader.Read(2);
            if (shape == 3 && verid != 1) reader.Skip(4);  // video_object_layer_shape_extension
            reader.Skip(1);                                // marker
            uint32_t resolution = reader.Read(16);
            int resolutionBits = BitCount(resolution > 0 ? resolution - 1 : 0);
            reader.Skip(1);                                   // marker
            if (reader.Read(1)) reader.Skip(resolutionBits);  // fixed_vop_rate
            if (shape == 2) {                                 // binary only
                if (reader.Read(1) && verid != 1) return -1;
                continue;
            }
            if (shape != 0) return -1;
            reader.Skip(1);
            uint32_t width = reader.Read(13);
            reader.Skip(1);
            uint32_t height = reader.Read(13);
            if (!reader.Inside()) return -1;
            info->width = static_cast<int32_t>(width);
            info->height = static_cast<int32_t>(height);
            info->timeResolution = static_cast<int32_t>(resolution);
            return 0;
        }
        switch (value) {
            case 0x1B0:  // visual object sequence: start code, profile_and_level_indication
                reader.Skip(40);
                break;
            case 0x1B5:  // visual object
                reader.Skip(32);
                if (reader.Read(1)) reader.Skip(7);       // visual_object_verid, priority
                if (reader.Read(4) != 1) return -1;       // visual_object_type: video
                if (reader.Read(1)) {                     // video_signal_type
                    reader.Skip(4);                       // video_format, video_range
                    if (reader.Read(1)) reader.Skip(24);  // colour_description
                }
                break;
            case 0x1B3:  // group of VOP: start code, time code, closed_gov, broken_link
                reader.Skip(52);
                break;
            case 0x1B6:  // a picture before any layer header
                return -1;
            case 0x1B2:  // user data
                reader.Skip(48);
                break;
            default:
                reader.Skip(32);
                break;
        }
    }
    return -1;
}

void ReadGovTimeCode(const uint8_t* t, FrameInfo* frame) {
    frame->hour = t[0] >> 3;
    frame->minute = (t[0] & 0x07) << 3 | t[1] >> 5;
    frame->second = (t[1] & 0x0F) << 2 | t[2] >> 6;
    frame->timeOfDay = frame->hour * 3600 + frame->minute * 60 + frame->second;
}

}  // namespace tavix
