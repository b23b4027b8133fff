// Row conversion of foreign pixel data into the screen's pixel formats:
// 1 byte (palette index), 2 bytes (5-6-5) or 4 bytes (0xAARRGGBB).
#pragma once
#include <cstdint>

#include "rkgfx.h"  // rk_GfxImageConvertRow

// Every converter takes (source row, destination row, pixel count). The
// palette converters read one index byte per pixel and need an open screen
// (its colour mask and device palette).
using RowConvertFn = void (*)(const uint8_t *src, uint8_t *dst, int count);

void rk_image_convert_8to8(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_8to16(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_8to32(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_24to16(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_24bgrto16(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_24to32(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_24bgrto32(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_32to16(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_32bgrto16(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_32to32(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_32bgrto32(const uint8_t *src, uint8_t *dst, int count);

// Plain and AVX2 forms of the blue-first 24-to-32 converter, which the one
// above picks between; kept apart so both can be checked against each other.
void rk_image_convert_24bgrto32_plain(const uint8_t *src, uint8_t *dst, int count);
void rk_image_convert_24bgrto32_avx2(const uint8_t *src, uint8_t *dst, int count);
