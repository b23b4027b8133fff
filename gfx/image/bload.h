// Loading picture files: Windows bitmaps (every header version, depths 1 to
// 32, bit-field masks, colour tables, top-down rows, run-length compressed
// 4- and 8-bit data), PNG files (gfx/image/png.h) and the raw memory-image
// format (0xFE, or 0xFD for the older short header).
#pragma once
#include <cstdint>
#include <cstdio>

struct RkString;

// Loads the file named by `filename` (a temporary string is released) into
// the screen's work page (`dest` null) or into `dest`: an image buffer of
// either form, or plain memory that receives a 32-byte image header and the
// picture's rows. A bitmap's colour table goes into `user_palette` (at least
// 2^depth entries, 6 bits per channel) when given, else into the screen's
// device palette. Returns (and records) 0, or 1 (no screen open; a
// true-colour bitmap into a paletted destination), 2 (cannot open, or not
// a regular file: FIFOs and devices are refused at once) or 3 (bad or
// truncated contents, a size that cannot be handled, or no memory to load).
// A PNG loads like a bitmap of its depth (palette and grey pictures of up to
// 8 bits indexed, with their colours as the table, others true colour),
// composited over white; into 2- and 4-byte pixels it always takes its own
// colours. A PNG that fails changes nothing.
int rk_GfxBload(RkString *filename, void *dest, uint32_t *user_palette);
// The same; `current_header` chooses the header form written into plain
// memory: the 32-byte form, or the compact 4-byte one.
int gfx_bload(RkString *filename, void *dest, uint32_t *user_palette, bool current_header);

// Read one little-endian value; non-zero on success.
int fread_16_le(std::FILE *f, uint32_t *value);
int fread_32_le(std::FILE *f, uint32_t *value);
