#include "gfx/core/hooks.h"

static const ScreenHooks *table[RK_MAX_SCREEN_HOOKS];
static int count;

bool rk_hScreenHooksAdd(const ScreenHooks *hooks)
{
    for (int i = 0; i < count; ++i)
        if (table[i] == hooks)
            return true;
    if (count == RK_MAX_SCREEN_HOOKS)
        return false;
    table[count++] = hooks;
    return true;
}

void rk_hScreenHooksConsole(ConsoleHooks *hooks)
{
    for (int i = 0; i < count; ++i)
        if (table[i]->console)
            table[i]->console(hooks);
}

bool rk_hScreenHooksGrid()
{
    for (int i = 0; i < count; ++i)
        if (table[i]->grid && !table[i]->grid())
            return false;
    return true;
}

void rk_hScreenHooksRegrid()
{
    for (int i = 0; i < count; ++i)
        if (table[i]->regrid)
            table[i]->regrid();
}

void rk_hScreenHooksClose()
{
    for (int i = 0; i < count; ++i)
        if (table[i]->close)
            table[i]->close();
}
