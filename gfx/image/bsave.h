// Saving the screen's work page or an image buffer: a Windows bitmap (24 bits,
// or 8 bits with a colour table for 1-byte pixels) when the name ends in
// ".bmp" (any case), a PNG (8-bit RGB, or a 256-colour palette for 1-byte
// pixels) when it ends in ".png" (any case), else the raw memory-image format.
#pragma once
#include <cstdint>

struct RkString;

// `source` null saves the screen's work page. `size` is the number of bytes
// of the raw format (ignored for bitmaps and PNG). `user_palette`, when given,
// replaces the screen's palette for 8-bit bitmaps and PNG and raw screen saves
// (entries 0x00BBGGRR with 6 bits per channel). Returns (and records) 0, or
// 1 (no screen open where one is needed), 2 (cannot create, or not a regular
// file: FIFOs and devices are refused at once; a raw save of a
// buffer with size 0) or 3 (failed write; a source that cannot be written).
// A request that cannot succeed is refused before the file is opened, so an
// existing file is left as it was.
int rk_GfxBsave(RkString *filename, const void *source, uint32_t size, const uint32_t *user_palette);
