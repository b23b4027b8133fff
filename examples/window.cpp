// Opens a window, draws into it and waits for a key pressed in it.
#include <rkgfx.h>

int main(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    if (rk_GfxScreenRes(640, 480, 32, 0, 0, 0) != 0)  // needs a display (DISPLAY)
        return 1;
    void *tile = rk_GfxImageCreate(64, 64, 0x2060D0, 32, 0);  // a blue image with a yellow disc
    rk_GfxEllipse(tile, 32, 32, 20, 0xFFD040, 0, 0, RK_ELLIPSE_FULL, 1, 0);

    rk_GfxLock();  // one frame, drawn whole, then shown
    for (int i = 0; i < 8; ++i)
        rk_GfxPut(nullptr, 32.0f + 72 * i, 200, tile, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr);
    rk_GfxLine(nullptr, 20, 20, 619, 459, 0xE6DDD5, RK_LINE_BOX, 0xFFFF, 0);
    rk_GfxDrawString(nullptr, 240, 120, 0, rk_StrAllocTempDesc("Press a key"), 0xFFFFFF, nullptr, 0, nullptr, 0,
                     nullptr);
    rk_GfxUnlock(-1, -1);

    rk_Getkey();
    rk_GfxImageDestroy(tile);
    rk_End(0);
}
