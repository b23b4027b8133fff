#include "gfx/core/lock.h"

#include <cstring>

#include "gfx/core/context.h"
#include "gfx/core/display.h"

void rk_GfxLock()
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return;
    if (s->lock_count == 0 && s->driver && s->driver->lock)
        s->driver->lock();
    ++s->lock_count;
}

void rk_GfxUnlock(int first, int last)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return;
    if (first < 0)
        first = 0;
    if (last < 0)
        last = s->h - 1;
    DrawContext *ctx = rk_hGetContext();
    if (last >= first && last < s->h && ctx->work_page == s->visible_page)
        std::memset(s->dirty + first, 1, static_cast<std::size_t>(last - first + 1));
    if (s->lock_count != 0 && --s->lock_count == 0 && s->driver && s->driver->unlock)
        s->driver->unlock();
}
