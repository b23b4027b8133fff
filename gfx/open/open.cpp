#include "gfx/open/open.h"

#include "gfx/core/hooks.h"
#include "gfx/core/screen.h"
#include "gfx/draw/clear.h"
#include "gfx/drivers/driver.h"
#include "gfx/input/keys.h"
#include "gfx/input/mouse.h"
#include "gfx/text/cells.h"
#include "gfx/text/lineinput.h"
#include "gfx/text/print.h"

void rk_hOpenRegister()
{
    static bool registered;
    if (registered)
        return;
    registered = true;
    // The order of the calls these hooks replaced: the cells are made before
    // the clear draws on them, and gone before a screen's memory goes.
    const ScreenHooks *const order[] = {&rk_screenHooksCells,     &rk_screenHooksKeys,  &rk_screenHooksMouse,
                                        &rk_screenHooksLineInput, &rk_screenHooksPrint, &rk_screenHooksClear};
    for (const ScreenHooks *h : order)
        rk_hScreenHooksAdd(h);
}

int rk_GfxScreenRes(int width, int height, int depth, int pages, int flags, int refresh)
{
    rk_hOpenRegister();
    return rk_hScreenRes(rk_hSelectDriver, width, height, depth, pages, flags, refresh);
}

int rk_GfxScreen(int mode, int depth, int pages, int flags, int refresh)
{
    rk_hOpenRegister();
    return rk_hScreen(rk_hSelectDriver, mode, depth, pages, flags, refresh);
}
