/* A program on the installed runtime with names of its own that the
 * runtime uses inside too (DrawContext, ModeInfo, mode_info, ScreenState,
 * fread_16_le). Built as C11 and as C++17, linked statically and shared: it
 * draws on a screen in memory and checks the pixels. Exit status 0 when all
 * are right. */
#include <stdio.h>

#include <rkgfx.h>

typedef struct DrawContext { int pen; } DrawContext;
typedef struct ModeInfo { int w, h; } ModeInfo;
typedef struct ScreenState { int frames; } ScreenState;
ModeInfo mode_info[2] = {{7, 9}, {11, 13}};
DrawContext draw_context = {3};

int fread_16_le(FILE *f, unsigned *value)
{
    (void)f;
    *value = 16;
    return 1;
}

int main(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    if (rk_GfxScreenRes(64, 48, 32, 0, 0, 0) != RK_OK)
        return 2;
    rk_GfxLine(NULL, 0, 0, 63, 47, 0x102030, RK_LINE_FILLED_BOX, 0xFFFF, 0);
    rk_GfxLine(NULL, 10, 10, 30, 30, 0xFFFFFF, RK_LINE_BOX, 0xFFFF, 0);
    rk_GfxPaint(NULL, 20, 20, 0xCD0000, 0xFFFFFF, rk_StrAllocTempDesc(""), 0, 0);
    rk_GfxEllipse(NULL, 48, 12, 6, 0xFFD040, 0, 0, RK_ELLIPSE_FULL, 1, 0);
#ifdef __cplusplus
    rk_GfxView(40, 30, 60, 44, 0x00FF00, 0, RK_FLAG_NO_COLOR2); /* C++: the view filled, then cleared */
    rk_Cls();
#endif

    static const struct { int x, y; uint32_t color; } expected[] = {
        {0, 0, 0x102030}, {63, 47, 0x102030}, {10, 10, 0xFFFFFF}, {30, 20, 0xFFFFFF}, {20, 20, 0xCD0000},
        {11, 29, 0xCD0000}, {31, 20, 0x102030}, {48, 12, 0xFFD040}, {48, 5, 0x102030},
#ifdef __cplusplus
        {50, 40, 0x000000}, {39, 40, 0x102030},
#endif
    };
    const uint32_t *pixels = (const uint32_t *)(const void *)rk_GfxScreenPtr();
    int wrong = 0;
    unsigned value = 0;
    for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
        uint32_t got = pixels[expected[i].y * 64 + expected[i].x] & 0xFFFFFF;
        if (got != expected[i].color) {
            fprintf(stderr, "(%d, %d): %06X, not %06X\n", expected[i].x, expected[i].y, (unsigned)got,
                    (unsigned)expected[i].color);
            wrong = 1;
        }
    }
    if (mode_info[1].w != 11 || draw_context.pen != 3 || !fread_16_le(stdin, &value) || value != 16)
        wrong = 1;
    rk_End(wrong);
}
