#include "platform/videomodule/ffmpegbackends.h"

namespace {

ktr::platform::VideoDecoderBackend* createDecoder()
{
    return new ktr::platform::ffmpeg::FfmpegDecoder;
}

} // namespace

extern "C" __attribute__((visibility("default"))) const ktr::platform::VideoModuleApi* ktr_video_module_api()
{
    static const ktr::platform::VideoModuleApi api{ktr::platform::VideoModuleApi::kVersion, createDecoder};
    return &api;
}
