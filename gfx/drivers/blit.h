// Blitters: convert the dirty lines of the open screen's framebuffer into a
// display image of another pixel format. Plain routines and fast SIMD
// routines (four pixels per step) side by side; both give the same pixels.
#pragma once
#include <cstdint>

// dest: first byte of the display image; dest_pitch: its bytes per line.
// Reads framebuffer, w, h, pitch, scanline_size, device_palette and dirty
// of the open screen; never clears dirty.
using BlitterFn = void (*)(uint8_t *dest, int dest_pitch);

// The blitter for a display format (8, 15, 16, 24 or 32) and red position
// (red_low: red sits in the low bits), or null when none fits the open
// screen. Rebuilds __rk_color_conv_16to32 for that red position.
BlitterFn rk_hGetBlitter(int format, int red_low);

// Copies `pitch` bytes of each dirty line.
void rk_hBlitCopy(uint8_t *dest, int dest_pitch);

// Plain routines: every display line, double scan included.
void rk_hBlit8to15RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit8to16RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit8to24RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit8to32RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit16to15RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit16to16RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit16to24(uint8_t *dest, int dest_pitch);
void rk_hBlit16to32(uint8_t *dest, int dest_pitch);
void rk_hBlit32to15RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit32to16RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit32to24RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit32to32RGB(uint8_t *dest, int dest_pitch);
void rk_hBlit8to15BGR(uint8_t *dest, int dest_pitch);
void rk_hBlit8to16BGR(uint8_t *dest, int dest_pitch);
void rk_hBlit8to24BGR(uint8_t *dest, int dest_pitch);
void rk_hBlit8to32BGR(uint8_t *dest, int dest_pitch);
void rk_hBlit16to15BGR(uint8_t *dest, int dest_pitch);
void rk_hBlit32to15BGR(uint8_t *dest, int dest_pitch);
void rk_hBlit32to16BGR(uint8_t *dest, int dest_pitch);
void rk_hBlit32to24BGR(uint8_t *dest, int dest_pitch);

// Fast routines: single-scan screens whose width is a multiple of 4 only.
void rk_hBlit8to15RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit8to16RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit8to24RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit8to32RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit16to15RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit16to16RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit16to24MMX(uint8_t *dest, int dest_pitch);
void rk_hBlit16to32MMX(uint8_t *dest, int dest_pitch);
void rk_hBlit32to15RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit32to16RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit32to24RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit32to32RGBMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit8to15BGRMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit8to16BGRMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit8to24BGRMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit8to32BGRMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit16to15BGRMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit32to15BGRMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit32to16BGRMMX(uint8_t *dest, int dest_pitch);
void rk_hBlit32to24BGRMMX(uint8_t *dest, int dest_pitch);

// Pixel replication for a window shown at a whole multiple of the screen's
// size. `src` holds the blitter's output for the open screen (w pixels of
// `bytes` bytes, 1 to 4, per display line, src_pitch apart); each pixel of
// its dirty display lines becomes factor x factor pixels of dest (factor 2
// to 4), display line d filling dest lines d x factor onwards. Reads w, h,
// scanline_size and dirty of the open screen; never clears dirty.
// The fast routine: AVX2 permutations for 4-byte pixels, else SSSE3
// shuffles, where the processor has them.
void rk_hBlitScale(uint8_t *dest, int dest_pitch, const uint8_t *src, int src_pitch, int bytes, int factor);
// The shuffles only (the plain routine without SSSE3).
void rk_hBlitScaleSSSE3(uint8_t *dest, int dest_pitch, const uint8_t *src, int src_pitch, int bytes, int factor);
// The plain routine, one pixel at a time; the same pixels.
void rk_hBlitScalePlain(uint8_t *dest, int dest_pitch, const uint8_t *src, int src_pitch, int bytes, int factor);
// One line of the plain routine: `w` pixels of `src` widened into `dst`.
void rk_hBlitScaleLine(uint8_t *dst, const uint8_t *src, int w, int bytes, int factor);

// The dirty lines of the open screen converted by `blit` and replicated into
// a window image of `bytes` bytes per pixel at `factor`: through `staging`
// (w x h x scanline_size pixels, staging_pitch apart) a band of lines at a
// time, so that each band's staging lines are still in the cache when they
// are replicated, or straight from the
// framebuffer when the conversion is a copy of single-scan lines, which
// needs no staging (rk_hBlitScaledStages is then false).
void rk_hBlitScaled(BlitterFn blit, uint8_t *dest, int dest_pitch, uint8_t *staging, int staging_pitch, int bytes,
                    int factor);
bool rk_hBlitScaledStages(BlitterFn blit);

// Fills the 512-entry 16-bit widening table for a red position.
void rk_hBuildColorConv16to32(uint32_t *table, int red_low);
