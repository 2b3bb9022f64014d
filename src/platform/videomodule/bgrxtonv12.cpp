#include "platform/videomodule/bgrxtonv12.h"

#include <cstddef>

namespace ktr::platform {
namespace {

// Plain loops the compiler turns into vector code (this file is built with the vectoriser's dynamic cost
// model, see CMakeLists.txt); no instruction set beyond the baseline is assumed.
inline uint8_t luma(const uint8_t* p)
{
    return uint8_t((66 * p[2] + 129 * p[1] + 25 * p[0] + 0x1080) >> 8);
}

} // namespace

void bgrxToNv12(const uint8_t* src, int srcStride, int width, int height, uint8_t* y, int yStride, uint8_t* uv,
                int uvStride)
{
    for (int row = 0; row + 1 < height; row += 2) {
        const uint8_t* __restrict s0 = src + ptrdiff_t(row) * srcStride;
        const uint8_t* __restrict s1 = s0 + srcStride;
        uint8_t* __restrict y0 = y + ptrdiff_t(row) * yStride;
        uint8_t* __restrict y1 = y0 + yStride;
        uint8_t* __restrict c = uv + ptrdiff_t(row / 2) * uvStride;
        for (int x = 0; x < width; ++x) {
            y0[x] = luma(s0 + 4 * x);
            y1[x] = luma(s1 + 4 * x);
        }
        for (int x = 0; x < width / 2; ++x) {
            // Sums of the four pixels of the block: the >> 10 divides by 4 and by the 256 of the coefficients.
            const int b = s0[8 * x] + s0[8 * x + 4] + s1[8 * x] + s1[8 * x + 4];
            const int g = s0[8 * x + 1] + s0[8 * x + 5] + s1[8 * x + 1] + s1[8 * x + 5];
            const int r = s0[8 * x + 2] + s0[8 * x + 6] + s1[8 * x + 2] + s1[8 * x + 6];
            c[2 * x] = uint8_t((112 * b - 74 * g - 38 * r + 0x20200) >> 10);
            c[2 * x + 1] = uint8_t((112 * r - 94 * g - 18 * b + 0x20200) >> 10);
        }
    }
}

} // namespace ktr::platform
