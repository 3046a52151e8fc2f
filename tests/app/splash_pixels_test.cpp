// The splash's premultiplied pixels: transparent pixels vanish, half-covered
// ones keep half their colour, and the source stride is the image's own.
#include <gtest/gtest.h>

#include <vector>

#include "app/splash_pixels.h"

TEST(SplashPixels, PremultipliesEachPixelAndKeepsAlpha) {
    // Two rows of two pixels (B, G, R, A), the source padded to 12 bytes a row.
    const std::vector<std::uint8_t> src = {
        10, 20, 30, 0,     0, 0, 255, 128,   0xEE, 0xEE, 0xEE, 0xEE,
        255, 255, 255, 255, 200, 100, 50, 1,  0xEE, 0xEE, 0xEE, 0xEE,
    };
    std::vector<std::uint8_t> dst(16, 0x5A);
    PremultiplyBgra(src.data(), 12, dst.data(), 2, 2);
    EXPECT_EQ(dst, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 128, 128, 255, 255, 255, 255, 0, 0, 0, 1}));

    // Nothing is touched for an empty image.
    std::vector<std::uint8_t> untouched(4, 7);
    PremultiplyBgra(src.data(), 12, untouched.data(), 0, 1);
    PremultiplyBgra(nullptr, 12, untouched.data(), 1, 1);
    EXPECT_EQ(untouched, (std::vector<std::uint8_t>(4, 7)));
}
