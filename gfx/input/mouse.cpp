#include "gfx/input/mouse.h"

#include "gfx/core/display.h"
#include "gfx/core/hooks.h"
#include "gfx/core/lock.h"
#include "gfx/core/state.h"
#include "rt/rt.h"

int rk_GfxGetMouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    // Any address may be left out: a local receives that value.
    int dummy[5];
    int *out[5] = {x, y, wheel, buttons, clip};
    for (int i = 0; i < 5; ++i)
        if (!out[i])
            out[i] = &dummy[i];
    ScreenState *s = __rk_gfx;
    if (s && s->driver && s->driver->get_mouse) {
        rk_GfxLock();
        int r = s->driver->get_mouse(out[0], out[1], out[2], out[3], out[4]);
        rk_GfxUnlock(1, 0);
        if (r == 0)
            return rk_ErrorSetNum(RK_OK);
    }
    for (int *p : out)
        *p = -1;
    return rk_ErrorSetNum(RK_ERR_STATE);
}

int rk_GfxSetMouse(int x, int y, int cursor, int clip)
{
    ScreenState *s = __rk_gfx;
    if (!s || !s->driver || !s->driver->set_mouse)
        return rk_ErrorSetNum(RK_ERR_STATE);
    rk_GfxLock();
    s->driver->set_mouse(x, y, cursor, clip);
    rk_GfxUnlock(1, 0);
    return rk_ErrorSetNum(RK_OK);
}

static void mouse_console_hooks(ConsoleHooks *h)
{
    h->getmouse = rk_GfxGetMouse;
    h->setmouse = rk_GfxSetMouse;
}

const ScreenHooks rk_screenHooksMouse = {.console = mouse_console_hooks};
