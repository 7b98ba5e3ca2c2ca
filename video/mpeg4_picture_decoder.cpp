// MPEG-4 Visual (simple profile, as the recorder's cameras send it): libavcodec's mpeg4 decoder.
// A key frame carries its layer headers in front of the VOP, so the decoder needs nothing
// beyond the frames themselves.
#include "video/picture_decoder.h"

namespace tavix {
namespace {

class Mpeg4PictureDecoder final : public PictureDecoder {
  public:
    explicit Mpeg4PictureDecoder(std::unique_ptr<LibavDecoder> library)
        : library(std::move(library)) {}
    using PictureDecoder::Decode;
    int Decode(const uint8_t* payload, int32_t length, PictureView& view) override {
        return library->Lend(payload, length, view);
    }

  private:
    std::unique_ptr<LibavDecoder> library;
};

}  // namespace

std::unique_ptr<PictureDecoder> MakeMpeg4Decoder(int32_t width, int32_t height) {
    std::unique_ptr<LibavDecoder> library = LibavDecoder::Open("mpeg4", width, height);
    if (!library) return nullptr;
    return std::make_unique<Mpeg4PictureDecoder>(std::move(library));
}

}  // namespace tavix
