#pragma once
// The splash's pixels for a per-pixel transparent window: straight-alpha
// BGRA rows turned into premultiplied BGRA, each colour times alpha / 255,
// truncated.
#include <cstddef>
#include <cstdint>

// src rows are srcStride bytes apart (as the image lock reports them); dst
// rows are width * 4 bytes apart. Nothing is written for an empty image.
void PremultiplyBgra(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, int width, int height);
