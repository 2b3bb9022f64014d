#pragma once

#include "platform/videobackend.h"

#include <sys/types.h>

#include <memory>
#include <vector>

namespace ktr::platform {

// MP4 segments are encoded by a process of their own ("ktr-videoencoder", beside the executable): FFmpeg,
// libx264 and the libraries they pull in (some of which a process can never unload), the encoder's threads
// and its heap all live there and go back to the system, whole, when it ends. The program converts each
// frame to NV12 straight into a slot of memory shared with it (six frames in flight, as before) and trades
// short orders and replies with it over a socket pair. A process that dies shows as a write that failed,
// never as success.
//
// A hold keeps encoder processes that finished a segment alive for the next one (a recording run holds one
// from its first MP4 segment to its end, so a rotation does not start a process); when the last hold goes,
// the idle processes end. A writer holds one itself while it lives. Thread-safe.
class EncoderProcessHold
{
public:
    EncoderProcessHold();
    ~EncoderProcessHold();
    EncoderProcessHold(const EncoderProcessHold&) = delete;
    EncoderProcessHold& operator=(const EncoderProcessHold&) = delete;
};

// A writer backend that hands the encoding to an encoder process (taken from the idle ones, or started at
// its first open; given back when the backend goes).
std::unique_ptr<Mp4WriterBackend> makeEncoderProcessWriter();

// How long an answer of an encoder process is waited for, and a process told to end (defaults 5000 ms and
// 2000 ms). One that is stopped or hangs past them is killed; its segment fails as a write does. For tests.
void setEncoderWaitBounds(int replyMs, int endMs);

// The encoder processes alive now, busy or idle (the benchmark adds their memory and time to the
// recorder's).
std::vector<pid_t> encoderProcessIds();

} // namespace ktr::platform
