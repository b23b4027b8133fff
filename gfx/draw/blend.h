// The blender routine type of the image puts, and the variants behind
// rk_hPutTrans and rk_hPutAlphaMask: plain ones and SIMD ones that give
// identical results.
#pragma once
#include <cstdint>

#include "rkgfx.h"

// The public blender type (this layer's blenders ignore the last three words).
using BlenderFn = RkBlenderFn;

#define RK_BLENDER_ARGS                                                                                             \
    const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch, uint32_t alpha,          \
        intptr_t user_function, void *user_parameter

void rk_hPutTrans1C(RK_BLENDER_ARGS);
void rk_hPutTrans2C(RK_BLENDER_ARGS);
void rk_hPutTrans4C(RK_BLENDER_ARGS);
void rk_hPutTrans1MMX(RK_BLENDER_ARGS);
void rk_hPutTrans2MMX(RK_BLENDER_ARGS);
void rk_hPutTrans4MMX(RK_BLENDER_ARGS);
// The two routines behind rk_hPutTrans4MMX; the second needs AVX-512
// (rk_hCpuHasFullSpeedAVX512 chooses it).
void rk_hPutTrans4SSE2(RK_BLENDER_ARGS);
void rk_hPutTrans4AVX512(RK_BLENDER_ARGS);
void rk_hPutAlphaMaskC(RK_BLENDER_ARGS);
void rk_hPutAlphaMaskMMX(RK_BLENDER_ARGS);

// Transparent-put routines by bytes per pixel - 1: entries 0-3 plain,
// 4-7 SIMD; the 3-byte entries are empty.
extern const BlenderFn all_putters[8];
