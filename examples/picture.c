/* Draws a small picture on a screen that lives only in memory (the Null
 * display driver) and saves it as a Windows bitmap. Needs no display.
 *
 *     picture [file name, default picture.bmp] */
#include <rkgfx.h>

int main(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    __rk_gfx_driver_name = "null"; /* no display: a screen in memory */
    if (rk_GfxScreenRes(160, 120, 32, 0, 0, 0) != RK_OK)
        return 1;

    rk_GfxLine(NULL, 0, 0, 159, 119, 0x2060D0, RK_LINE_FILLED_BOX, 0xFFFF, 0);  /* blue sky */
    rk_GfxLine(NULL, 0, 90, 159, 119, 0x008D00, RK_LINE_FILLED_BOX, 0xFFFF, 0); /* green field */
    rk_GfxEllipse(NULL, 120, 30, 15, 0xFFD040, 0, 0, RK_ELLIPSE_FULL, 1, 0);    /* a yellow sun */
    rk_GfxLine(NULL, 20, 60, 60, 89, 0xFFFFFF, RK_LINE_BOX, 0xFFFF, 0);         /* a house: white walls */
    rk_GfxPaint(NULL, 40, 75, 0xCD0000, 0xFFFFFF, rk_StrAllocTempDesc(""), 0, 0); /* filled red */
    rk_GfxDrawString(NULL, 8, 8, 0, rk_StrAllocTempDesc("Malwerk"), 0xFFFFFF, NULL, 0, NULL, 0, NULL);

    const char *name = argc > 1 ? argv[1] : "picture.bmp";
    int result = rk_GfxBsave(rk_StrAllocTempDesc(name), NULL, 0, NULL); /* the screen, 24 bits */
    rk_End(result == RK_OK ? 0 : 1);                                  /* closes the screen */
}
