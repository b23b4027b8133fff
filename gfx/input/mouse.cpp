#include "gfx/input/mouse.h"

#include "gfx/core/screen.h"
#include "gfx/drivers/driver.h"
#include "rt/rt.h"

int rk_GfxGetMouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    int dummy_wheel, dummy_buttons, dummy_clip;
    if (!wheel)
        wheel = &dummy_wheel;
    if (!buttons)
        buttons = &dummy_buttons;
    if (!clip)
        clip = &dummy_clip;
    ScreenState *s = __rk_gfx;
    if (s && s->driver && s->driver->get_mouse) {
        rk_GfxLock();
        int r = s->driver->get_mouse(x, y, wheel, buttons, clip);
        rk_GfxUnlock(1, 0);
        if (r == 0)
            return rk_ErrorSetNum(RK_OK);
    }
    *clip = *buttons = *wheel = *y = *x = -1;
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
