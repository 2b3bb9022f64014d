#include "platform/videomodule/ffmpegbackends.h"

namespace {

ktr::platform::VideoDecoderBackend* createDecoder()
{
    return new ktr::platform::ffmpeg::FfmpegDecoder;
}

ktr::platform::Mp4WriterBackend* createWriter()
{
    return new ktr::platform::ffmpeg::FfmpegWriter;
}

} // namespace

extern "C" __attribute__((visibility("default"))) const ktr::platform::VideoModuleApi* ktr_video_module_api()
{
    static const ktr::platform::VideoModuleApi api{ktr::platform::VideoModuleApi::kVersion, createDecoder,
                                                   createWriter};
    return &api;
}
