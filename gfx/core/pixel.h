// Pixel routines for 1, 2 and 4 bytes per pixel: plain versions and fast
// SIMD versions side by side. None of them clips.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "gfx/core/state.h"

using PixelCpyFn = void (*)(void *dst, const void *src, std::size_t count);
using MemCpyFn = void *(*)(void *dst, const void *src, std::size_t n);
using MemSetFn = void *(*)(void *dst, int value, std::size_t n);

// The routines set up for the bytes per pixel of the current target.
extern PutPixelFn rk_hPutPixelSolid, rk_hPutPixelAlpha;
extern GetPixelFn rk_hGetPixel;
extern PixelSetFn rk_hPixelSetSolid, rk_hPixelSetAlpha, rk_hPixelSet;
extern PixelCpyFn rk_hPixelCpy;
extern MemCpyFn rk_hMemCpy;
extern MemSetFn rk_hMemSet;

// Selects the routines above for `bpp` and the processor.
void rk_hSetupFuncs(int bpp);
// The processor's identification word, read once.
uint32_t _rk_CpuDetect();

void rk_hPutPixel1(DrawContext *ctx, int x, int y, uint32_t c);
void rk_hPutPixel2(DrawContext *ctx, int x, int y, uint32_t c);
void rk_hPutPixel4(DrawContext *ctx, int x, int y, uint32_t c);
// Rows y1..y2 of column x set to c in place when the target takes plain
// 32-bit stores (no blender, no other depth); false, with nothing drawn,
// otherwise.
bool rk_hSolidColumn4(DrawContext *ctx, int x, int y1, int y2, uint32_t c);
uint32_t rk_hGetPixel1(DrawContext *ctx, int x, int y);
uint32_t rk_hGetPixel2(DrawContext *ctx, int x, int y);
uint32_t rk_hGetPixel4(DrawContext *ctx, int x, int y);

void *rk_hMemSetMMX(void *dst, int value, std::size_t n);
void *rk_hMemCpyMMX(void *dst, const void *src, std::size_t n);
void rk_hPixelSet1(void *dst, uint32_t c, std::size_t count);  // through rk_hMemSet
void rk_hPixelSet2(void *dst, uint32_t c, std::size_t count);
void rk_hPixelSet2MMX(void *dst, uint32_t c, std::size_t count);
void rk_hPixelSet4(void *dst, uint32_t c, std::size_t count);
void rk_hPixelSet4MMX(void *dst, uint32_t c, std::size_t count);
void rk_hPixelCpy1(void *dst, const void *src, std::size_t count);
void rk_hPixelCpy2(void *dst, const void *src, std::size_t count);
void rk_hPixelCpy4(void *dst, const void *src, std::size_t count);

// Alpha blend of a 32-bit colour: each colour channel becomes
// d + floor((s - d) * a / 256) with a = s >> 24. The plain versions take the
// source's alpha byte; the fast versions blend the alpha byte like a channel.
uint32_t rk_hBlendPixel(uint32_t d, uint32_t s);
uint32_t rk_hBlendPixelMMX(uint32_t d, uint32_t s);
void rk_hPutPixelAlpha4(DrawContext *ctx, int x, int y, uint32_t c);
void rk_hPutPixelAlpha4MMX(DrawContext *ctx, int x, int y, uint32_t c);
void rk_hPixelSetAlpha4(void *dst, uint32_t c, std::size_t count);
void rk_hPixelSetAlpha4MMX(void *dst, uint32_t c, std::size_t count);

// Whether the processor has AVX2 (checked once at run time); SSE2 is part
// of every x86-64 processor.
bool rk_hCpuHasAVX2();
// 512-bit vectors that run at full clock: the processors the widest store
// path is chosen for.
bool rk_hCpuHasFullSpeedAVX512();

// One way of filling and copying byte spans (a vector width, with or
// without the string instructions for large spans). `fill` stores a pattern
// of period 1, 2 or 4 bytes given as the word that starts at dst; `copy`
// takes spans that do not overlap.
struct StorePath {
    const char *name;
    bool (*usable)();  // whether this processor runs it
    void (*fill)(void *dst, uint32_t word, std::size_t n);
    void (*copy)(void *dst, const void *src, std::size_t n);
};
// Every store path of this build, usable here or not.
std::span<const StorePath> rk_hStorePaths();
// The path the fast routines use, chosen for this processor at first use.
const StorePath &rk_hStorePath();
