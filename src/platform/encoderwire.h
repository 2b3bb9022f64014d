#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// What the program and its encoder process ("ktr-videoencoder", encoderprocess.h) say to each other over
// their socket pair (SOCK_SEQPACKET: one message a record). Frames don't cross the socket: the program
// converts each one straight into a slot of a shared memory file handed over with the open request, and
// names the slot. Both ends are built from the same sources, so the records are plain structs.
namespace ktr::platform::encoderwire {

// The socket's number in the encoder process.
inline constexpr int kSocketFd = 3;
// Frames in flight, one shared memory slot each: one filled by the capture, one encoding, four waiting.
inline constexpr int kSlots = 6;
// Longest text in a reply (paths and error texts are cut there).
inline constexpr std::size_t kMaxText = 4000;

enum class Op : uint32_t {
    Open = 1, // OpenRequest + the file path (UTF-8); the shared memory's descriptor rides along
    Frame,    // FrameRequest: encode the frame in a slot
    Close,    // Header: finish the file
    Opened,   // Reply to Open
    Encoded,  // Reply to Frame, one each
    Closed,   // Reply to Close
};

struct Header
{
    Op op;
};

struct OpenRequest
{
    Op op = Op::Open;
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    int32_t gop = 0;
    int32_t threads = 0;
    int64_t bitrate = 0;
    char preset[32] = {};
    char tune[32] = {};
    // The slots' layout in the shared memory: slot i starts at i * slotBytes, its chroma at uvOffset.
    uint64_t slotBytes = 0;
    uint64_t uvOffset = 0;
    int32_t yStride = 0;
    int32_t uvStride = 0;
};

struct FrameRequest
{
    Op op = Op::Frame;
    uint32_t slot = 0;
    int64_t pts = 0; // milliseconds, increasing
};

struct Reply
{
    Op op = Op::Opened;
    int32_t ok = 0;
    // The slots the encoder is done with since its last reply (bit i: slot i).
    uint32_t freedSlots = 0;
    // A write failed: the file takes nothing more and its end can't be trusted.
    int32_t failed = 0;
    // Closed only: the file held no frame and was removed / frames were kept though the end failed.
    int32_t removed = 0;
    int32_t code = 0; // FFmpeg's error code of a failed finish
    int64_t framesWritten = 0;
    int64_t bytes = 0; // handed to the file so far
    // Followed by the error text (UTF-8), if any.
};

inline void copyText(char (&to)[32], const char* from)
{
    std::strncpy(to, from, sizeof to - 1);
    to[sizeof to - 1] = 0;
}

} // namespace ktr::platform::encoderwire
