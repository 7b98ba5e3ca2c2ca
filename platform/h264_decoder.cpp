#include "platform/h264_decoder.h"

namespace tavix {

int H264_Dec_Init(int) {
    return 0;
}

H264Handle H264_Dec_Open(const int32_t* parameters) {
    if (parameters == nullptr) return nullptr;
    return LibavDecoder::Open("h264", parameters[0], parameters[1]).release();
}

int H264_Dec_Decode(H264Handle handle, const H264DecodeInput* input, H264DecodeOutput* output,
                    int) {
    if (handle == nullptr || input == nullptr || output == nullptr) return -1;
    return handle->Decode(input->payload, input->payloadLength, *output);
}

int H264_Dec_Close(H264Handle handle) {
    delete handle;
    return 0;
}

int H264_Dec_DeInit() {
    return 0;
}

}  // namespace tavix
