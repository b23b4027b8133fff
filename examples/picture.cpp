// Draws a small picture on a screen that lives only in memory (the Null
// display driver) and saves it as a Windows bitmap. Needs no display.
//
//     picture [file name, default picture.bmp]
#include <cstdlib>

#include <rkgfx.h>

int main(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    setenv("RIVEZ", "null", 1);  // the driver to try first: none, a screen in memory
    if (rk_GfxScreenRes(160, 120, 32, 0, 0, 0) != 0)
        return 1;

    rk_GfxLine(nullptr, 0, 0, 159, 119, 0x2060D0, RK_LINE_FILLED_BOX, 0xFFFF, 0);     // blue sky
    rk_GfxLine(nullptr, 0, 90, 159, 119, 0x008D00, RK_LINE_FILLED_BOX, 0xFFFF, 0);    // green field
    rk_GfxEllipse(nullptr, 120, 30, 15, 0xFFD040, 0, 0, RK_ELLIPSE_FULL, 1, 0);        // a yellow sun
    rk_GfxLine(nullptr, 20, 60, 60, 89, 0xFFFFFF, 1, 0xFFFF, 0);                      // a house: white walls
    rk_GfxPaint(nullptr, 40, 75, 0xCD0000, 0xFFFFFF, rk_StrAllocTempDesc(""), 0, 0);   // filled red
    rk_GfxDrawString(nullptr, 8, 8, 0, rk_StrAllocTempDesc("Malwerk"), 0xFFFFFF, nullptr, 0, nullptr, 0, nullptr);

    const char *name = argc > 1 ? argv[1] : "picture.bmp";
    int result = rk_GfxBsave(rk_StrAllocTempDesc(name), nullptr, 0, nullptr);  // the screen, 24 bits
    rk_End(result == 0 ? 0 : 1);  // closes the screen
}
