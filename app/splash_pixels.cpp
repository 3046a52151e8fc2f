#include "app/splash_pixels.h"

void PremultiplyBgra(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, int width, int height) {
    if (src == nullptr || dst == nullptr || width <= 0 || height <= 0) return;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = src + y * srcStride;
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(y) * width * 4;
        for (int x = 0; x < width; ++x, in += 4, out += 4) {
            const unsigned alpha = in[3];
            out[0] = static_cast<std::uint8_t>(in[0] * alpha / 255);
            out[1] = static_cast<std::uint8_t>(in[1] * alpha / 255);
            out[2] = static_cast<std::uint8_t>(in[2] * alpha / 255);
            out[3] = static_cast<std::uint8_t>(alpha);
        }
    }
}
