// Loading picture files: Windows bitmaps (every header version, depths 1 to
// 32, bit-field masks, colour tables, top-down rows, run-length compressed
// 4- and 8-bit data), PNG files (gfx/image/png.h) and the raw memory-image
// format (0xFE, or 0xFD for the older short header).
#pragma once
#include <cstdint>
#include <cstdio>

#include "rkgfx.h"

// rk_GfxBload; `current_header` chooses the header form written into plain
// memory: the 32-byte form, or the compact 4-byte one.
int gfx_bload(RkString *filename, void *dest, uint32_t *user_palette, bool current_header);

// Read one little-endian value; non-zero on success.
int fread_16_le(std::FILE *f, uint32_t *value);
int fread_32_le(std::FILE *f, uint32_t *value);
