// H.264 through the decoder library's entry points; pictures are lent from the handle (a
// LibavDecoder) rather than copied out by H264_Dec_Decode.
#include "platform/h264_decoder.h"
#include "video/picture_decoder.h"

namespace tavix {
namespace {

class H264PictureDecoder final : public PictureDecoder {
  public:
    explicit H264PictureDecoder(H264Handle handle) : handle(handle) {}
    ~H264PictureDecoder() override {
        H264_Dec_Close(handle);
        H264_Dec_DeInit();
    }
    using PictureDecoder::Decode;
    int Decode(const uint8_t* payload, int32_t length, PictureView& view) override {
        return handle->Lend(payload, length, view);
    }

  private:
    H264Handle handle;
};

}  // namespace

std::unique_ptr<PictureDecoder> MakeH264Decoder(int32_t width, int32_t height) {
    H264_Dec_Init(0);
    const int32_t size[2] = {width, height};
    H264Handle handle = H264_Dec_Open(size);
    if (handle == nullptr) {
        H264_Dec_DeInit();
        return nullptr;
    }
    return std::make_unique<H264PictureDecoder>(handle);
}

}  // namespace tavix
